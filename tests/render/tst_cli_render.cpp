// quillmere-cli render and email, run as a separate process the way scripts use them.

#include "core/library_file.h"
#include "core/sample_data.h"
#include "core/uuid_text.h"
#include "render/markdown_renderer.h"
#include "render/reader_links.h"
#include "render/reader_message.h"
#include "render/template_renderer.h"
#include "support/cli_run.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;
using test::CliRun;
using test::runCli;

namespace {

QByteArray withoutMessageID(const QByteArray& message) {
    static const QRegularExpression id(u"Message-ID: <[^>]*>"_qs);
    return QString::fromUtf8(message).replace(id, u"Message-ID: <>"_qs).toUtf8();
}

// Failures are one line on standard error and exit status 2.
void verifyUsageError(const CliRun& r, const char* mentions) {
    QCOMPARE(r.code, 2);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY2(r.err.contains(mentions), r.err.constData());
}

} // namespace

class TestCLIRender : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_library;
    const QString m_markdown = u"# Hi *there*\n\n- a\n- b & c\n\n> q \u00e9\n"_qs;

    void writeFile(const QString& name, const QByteArray& bytes) {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_library = m_dir.filePath(u"library.json"_qs);
        LibraryFile::write(m_library, SampleData::library());
        writeFile(u"issue.md"_qs, m_markdown.toUtf8());
    }

    void renderWritesExactlyTheRendering() {
        const CliRun html = runCli({"render", m_dir.filePath("issue.md")});
        QCOMPARE(html.code, 0);
        QCOMPARE(html.out, MarkdownRenderer::html(m_markdown).toUtf8());
        const CliRun text = runCli({"render", "--text"}, m_markdown.toUtf8());
        QCOMPARE(text.code, 0);
        QCOMPARE(text.out, MarkdownRenderer::plainText(m_markdown).toUtf8());
        QVERIFY(!text.out.endsWith('\n'));
        const CliRun dash = runCli({"render", "-"}, m_markdown.toUtf8());
        QCOMPARE(dash.out, html.out);
        const CliRun empty = runCli({"render"});
        QCOMPARE(empty.code, 0);
        QCOMPARE(empty.out, QByteArray());
    }

    void help() {
        for (const QString& command : {u"render"_qs, u"email"_qs}) {
            const CliRun help = runCli({command, "--help"});
            QCOMPARE(help.code, 0);
            QVERIFY(help.out.contains(command == u"render" ? "standard input" : "previews only"));
        }
    }

    void emailParts() {
        const Library& library = SampleData::library();
        const Newsletter& issue = library.newsletters.last();
        const Subscriber& ada = library.subscribers.first();
        const QStringList base =
            QStringList{"email", "--library", m_library, "--issue", uuidUpper(issue.id)} +
            QStringList{"--to", " ADA.Whitfield@gmail.com ", "--secret", "k"};
        const RenderedEmail expected =
            TemplateRenderer::render(ReaderMessage::context(issue, library.profile, ada, u"k"_qs));
        const CliRun subject = runCli(base + QStringList{"--part", "subject"});
        QCOMPARE(subject.code, 0);
        QCOMPARE(subject.out, expected.subject.toUtf8());
        QCOMPARE(runCli(base + QStringList{"--part", "html"}).out, expected.html.toUtf8());
        QCOMPARE(runCli(base + QStringList{"--part=text"}).out, expected.text.toUtf8());
        const QDateTime date(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC);
        const CliRun mime = runCli(
            base + QStringList{"--date", "2025-03-04T10:05:00+01:00", "--boundary", "B0UND"});
        QCOMPARE(mime.code, 0);
        QCOMPARE(withoutMessageID(mime.out),
                 withoutMessageID(ReaderMessage::build(issue, library.profile, ada, u"k"_qs, date,
                                                       u"B0UND"_qs)));
        QVERIFY(mime.out.contains("\r\nList-Unsubscribe: <https://postwick.quietworkshop."
                                  "workers.dev/unsubscribe?t="));
    }

    void emailForThePreviewReader() {
        const QStringList first{"email", "--library", m_library, "--issue", "first"};
        const CliRun html = runCli(first + QStringList{"--part", "html"});
        QCOMPARE(html.code, 0);
        QVERIFY(html.out.contains(">Hi Alex,</p>"));
        const QString token = ReaderLinks::unsubscribeToken(ReaderLinks::placeholderReaderAddress,
                                                            u"quillmere-preview-only"_qs);
        QVERIFY(html.out.contains(token.toUtf8()));
        const CliRun mime = runCli(first);
        QCOMPARE(mime.code, 0);
        QVERIFY(mime.out.contains("\r\nTo: reader@example.com\r\n"));
        QVERIFY(mime.out.contains("boundary=\"=_Postwick_"));
    }

    void usageErrors() {
        writeFile(u"broken.json"_qs, "{\"newsletters\": [{\"id\": 5}]}");
        writeFile(u"empty.json"_qs, "{}");
        const QStringList email{"email", "--library", m_library, "--issue"};
        const auto from = [this](const QString& file) {
            return QStringList{"email", "--library", m_dir.filePath(file), "--issue", "first"};
        };
        // Whole command lines, and what the error names.
        const QList<std::pair<QStringList, const char*>> cases{
            {{"render", m_dir.filePath("missing.md")}, "missing.md"},
            {{"render", "a.md", "b.md"}, "at most one"},
            {{"render", "--html"}, "--html"},
            {email + QStringList{"5A3D0000-0000-4000-8000-000000000999"}, "no issue with id"},
            {email + QStringList{"latest"}, "--issue must be"},
            {email + QStringList{"first", "--to", "nobody@x.co"}, "no subscriber"},
            {email + QStringList{"first", "--part", "pdf"}, "--part"},
            {email + QStringList{"first", "--date", "yesterday"}, "--date"},
            {email + QStringList{"first", "--boundary", u"a\"b"_qs}, "--boundary"},
            {email + QStringList{"first", "--bogus"}, "--bogus"},
            {email + QStringList{"first", "extra"}, "extra"},
            {{"email", "--issue", "first"}, "--library is required"},
            {{"email", "--library", m_library}, "--issue is required"},
            {from(u"none.json"_qs), "none.json"},
            {from(u"broken.json"_qs), ""},
            {from(u"empty.json"_qs), "no issues"}};
        for (const auto& [arguments, mentions] : cases) {
            verifyUsageError(runCli(arguments), mentions);
        }
    }
};

QTEST_GUILESS_MAIN(TestCLIRender)
#include "tst_cli_render.moc"
