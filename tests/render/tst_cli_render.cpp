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
        const CliRun html = runCli({u"render"_qs, m_dir.filePath(u"issue.md"_qs)});
        QCOMPARE(html.code, 0);
        QCOMPARE(html.out, MarkdownRenderer::html(m_markdown).toUtf8());
        const CliRun text = runCli({u"render"_qs, u"--text"_qs}, m_markdown.toUtf8());
        QCOMPARE(text.code, 0);
        QCOMPARE(text.out, MarkdownRenderer::plainText(m_markdown).toUtf8());
        QVERIFY(!text.out.endsWith('\n'));
        const CliRun dash = runCli({u"render"_qs, u"-"_qs}, m_markdown.toUtf8());
        QCOMPARE(dash.out, html.out);
        const CliRun empty = runCli({u"render"_qs});
        QCOMPARE(empty.code, 0);
        QCOMPARE(empty.out, QByteArray());
    }

    void help() {
        for (const QString& command : {u"render"_qs, u"email"_qs}) {
            const CliRun help = runCli({command, u"--help"_qs});
            QCOMPARE(help.code, 0);
            QVERIFY(help.out.contains(command == u"render" ? "standard input" : "previews only"));
        }
    }

    void emailParts() {
        const Library& library = SampleData::library();
        const Newsletter& issue = library.newsletters.last();
        const Subscriber& ada = library.subscribers.first();
        const QStringList base =
            QStringList{u"email"_qs, u"--library"_qs, m_library, u"--issue"_qs,
                        uuidUpper(issue.id)} +
            QStringList{u"--to"_qs, u" ADA.Whitfield@gmail.com "_qs, u"--secret"_qs, u"k"_qs};
        const RenderedEmail expected =
            TemplateRenderer::render(ReaderMessage::context(issue, library.profile, ada, u"k"_qs));
        const CliRun subject = runCli(base + QStringList{u"--part"_qs, u"subject"_qs});
        QCOMPARE(subject.code, 0);
        QCOMPARE(subject.out, expected.subject.toUtf8());
        QCOMPARE(runCli(base + QStringList{u"--part"_qs, u"html"_qs}).out, expected.html.toUtf8());
        QCOMPARE(runCli(base + QStringList{u"--part=text"_qs}).out, expected.text.toUtf8());
        const QDateTime date(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC);
        const CliRun mime = runCli(base + QStringList{u"--date"_qs, u"2025-03-04T10:05:00+01:00"_qs,
                                                      u"--boundary"_qs, u"B0UND"_qs});
        QCOMPARE(mime.code, 0);
        QCOMPARE(withoutMessageID(mime.out),
                 withoutMessageID(ReaderMessage::build(issue, library.profile, ada, u"k"_qs, date,
                                                       u"B0UND"_qs)));
        QVERIFY(mime.out.contains("\r\nList-Unsubscribe: <https://postwick.quietworkshop."
                                  "workers.dev/unsubscribe?t="));
    }

    void emailForThePreviewReader() {
        const QStringList first{u"email"_qs, u"--library"_qs, m_library, u"--issue"_qs,
                                u"first"_qs};
        const CliRun html = runCli(first + QStringList{u"--part"_qs, u"html"_qs});
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
        const QStringList email{u"email"_qs, u"--library"_qs, m_library, u"--issue"_qs};
        const auto from = [this](const QString& file) {
            return QStringList{u"email"_qs, u"--library"_qs, m_dir.filePath(file), u"--issue"_qs,
                               u"first"_qs};
        };
        // Whole command lines, and what the error names.
        const QList<std::pair<QStringList, const char*>> cases{
            {{u"render"_qs, m_dir.filePath(u"missing.md"_qs)}, "missing.md"},
            {{u"render"_qs, u"a.md"_qs, u"b.md"_qs}, "at most one"},
            {{u"render"_qs, u"--html"_qs}, "--html"},
            {email + QStringList{u"5A3D0000-0000-4000-8000-000000000999"_qs}, "no issue with id"},
            {email + QStringList{u"latest"_qs}, "--issue must be"},
            {email + QStringList{u"first"_qs, u"--to"_qs, u"nobody@x.co"_qs}, "no subscriber"},
            {email + QStringList{u"first"_qs, u"--part"_qs, u"pdf"_qs}, "--part"},
            {email + QStringList{u"first"_qs, u"--date"_qs, u"yesterday"_qs}, "--date"},
            {email + QStringList{u"first"_qs, u"--boundary"_qs, u"a\"b"_qs}, "--boundary"},
            {email + QStringList{u"first"_qs, u"--bogus"_qs}, "--bogus"},
            {email + QStringList{u"first"_qs, u"extra"_qs}, "extra"},
            {{u"email"_qs, u"--issue"_qs, u"first"_qs}, "--library is required"},
            {{u"email"_qs, u"--library"_qs, m_library}, "--issue is required"},
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
