// Real MIME parsers read what we build: Python's email package (policy default) and npm
// mailparser must both give back the merged subject, the sender's name and address, the
// recipient, the reply address, both unsubscribe targets and the one-click header, and each
// body byte for byte.

#include "core/sample_data.h"
#include "render/mime_builder.h"
#include "render/reader_message.h"
#include "render/template_renderer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

struct Case {
    QString file;
    QJsonObject headers; // what a parser must read back
    RenderedEmail email;
    bool lineEndsInText = false; // mailparser turns CR LF in a text part into LF
};

// Runs one of this folder's peer scripts over the messages in dir.
QJsonArray runPeer(const QString& program, const char* script, const QString& dir) {
    const QStringList arguments{
        QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/render/") + QLatin1String(script), dir};
    QProcess process;
    process.setWorkingDirectory(QStringLiteral(QUILLMERE_SOURCE_DIR));
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning().noquote() << program << arguments
                             << "failed:" << QString::fromUtf8(process.readAllStandardError());
        return {};
    }
    return QJsonDocument::fromJson(process.readAllStandardOutput()).array();
}

// On a difference, names the message and shows where the two bodies part.
QByteArray bodyDifference(const QString& file, const QString& got, const QString& expected) {
    const qsizetype at =
        std::mismatch(got.begin(), got.end(), expected.begin(), expected.end()).first - got.begin();
    const qsizetype from = std::max<qsizetype>(0, at - 20);
    return u"%1: bodies differ at %2: got \"%3\", expected \"%4\""_qs.arg(file)
        .arg(at)
        .arg(got.mid(from, 60).toHtmlEscaped(), expected.mid(from, 60).toHtmlEscaped())
        .toUtf8();
}

} // namespace

class TestMIMEPeers : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<Case> m_cases;

    void addCase(const QString& subject, const QString& fromName, const QString& readerName,
                 const QString& replyTo = u"letters@quietworkshop.news"_qs,
                 std::optional<QString> expectedSubject = std::nullopt,
                 std::optional<QString> expectedName = std::nullopt, bool lineEndsInText = false) {
        const Library& library = SampleData::library();
        Newsletter issue = library.newsletters.last(); // the longest sample issue
        issue.subject = subject;
        SenderProfile profile = library.profile;
        profile.fromName = fromName;
        profile.replyTo = replyTo;
        Subscriber reader = library.subscribers[int(m_cases.size()) % 15];
        reader.name = readerName;
        const RenderContext context = ReaderMessage::context(issue, profile, reader, u"s"_qs);
        Case c{.file = u"%1.eml"_qs.arg(m_cases.size(), 2, 10, QLatin1Char('0')),
               .email = TemplateRenderer::render(context),
               .lineEndsInText = lineEndsInText};
        const bool reply = !replyTo.trimmed().isEmpty();
        QJsonArray targets{context.unsubscribeURL.toString(QUrl::FullyEncoded)};
        if (reply) {
            targets.append(u"mailto:"_qs + replyTo + u"?subject=unsubscribe"_qs);
        }
        c.headers = {{"file", c.file},
                     {"defects", QJsonArray()},
                     {"subject", expectedSubject.value_or(c.email.subject)},
                     {"fromName", expectedName.value_or(fromName)},
                     {"fromAddress", profile.fromEmail},
                     {"to", reader.email},
                     {"replyTo", reply ? QJsonValue(replyTo) : QJsonValue()},
                     {"listUnsubscribe", targets},
                     {"listUnsubscribePost", "List-Unsubscribe=One-Click"}};
        QFile file(m_dir.filePath(c.file));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ReaderMessage::build(issue, profile, reader, u"s"_qs,
                                        QDateTime(QDate(2025, 3, 4), QTime(9, 5), Qt::UTC),
                                        std::nullopt));
        m_cases.append(c);
    }

    void compareAll(const QJsonArray& parsed, bool normalisesLineEnds) {
        QCOMPARE(parsed.size(), m_cases.size());
        for (qsizetype i = 0; i < m_cases.size(); ++i) {
            QJsonObject got = parsed[i].toObject();
            const Case& c = m_cases[i];
            const QString gotText = got.take(u"text"_qs).toString();
            const QString gotHTML = got.take(u"html"_qs).toString();
            QCOMPARE(got, c.headers);
            QString text = c.email.text;
            QString html = c.email.html;
            if (normalisesLineEnds && c.lineEndsInText) {
                text.replace(u"\r\n"_qs, u"\n"_qs);
                html.replace(u"\r\n"_qs, u"\n"_qs);
            }
            QVERIFY2(gotText == text, bodyDifference(c.file, gotText, text).constData());
            QVERIFY2(gotHTML == html, bodyDifference(c.file, gotHTML, html).constData());
        }
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString nonASCII100 =
            u"\u00dcber \u00e9t\u00e9 \u2014 \u00c5ngstr\u00f6m \u00fc\u00f1\u00ef\u00e7\u00f8d\u00e9 "_qs
                .repeated(4)
                .left(100);
        QCOMPARE(nonASCII100.size(), 100);
        addCase(u"Issue 14: A field guide for {{name}}"_qs, u"Mara Ellison"_qs, u"Ann"_qs);
        addCase(u"Caf\u00e9 \u00e0 la carte, {{name}}"_qs, u"Ren\u00e9e Dupr\u00e9"_qs,
                u"Zo\u00eb"_qs);
        addCase(nonASCII100, nonASCII100, u"Ann"_qs);
        addCase(u"\U0001F33F Spring \U0001F468\u200D\U0001F469\u200D\U0001F467 news "
                "\U0001F389 {{name}}"_qs,
                u"\U0001F33F Mara \U0001F468\u200D\U0001F469\u200D\U0001F467"_qs, u"Ann"_qs);
        addCase(u"Re: =?UTF-8?B?bm90?= really {{name}}"_qs, u"=?UTF-8?Q?Mara?="_qs, u"Ann"_qs);
        addCase(u"Plain ASCII"_qs, u"Lee, Ann \"The Writer\" \\ Co."_qs, u"Ann"_qs);
        addCase(u"No reply address"_qs, QString(), u"Ann"_qs, QString(), std::nullopt, QString());
        // Header hygiene: the values parsers read back are the cleaned ones.
        addCase(u"Line\r\nBcc: victim@example.com {{name}}"_qs, u"Mara\r\nX-Evil: 1"_qs, u"Ann"_qs,
                u"letters@quietworkshop.news"_qs, u"Line Bcc: victim@example.com Ann"_qs,
                u"Mara X-Evil: 1"_qs, true);
        addCase(u"  padded  and\ttabbed  "_qs, u"Mara"_qs, u"Ann"_qs);
        addCase(QString(1500, u'x'), u"Mara"_qs, u"Ann"_qs);
        addCase(u"Name with NUL \u0000 and BEL \u0007 {{name}}"_qs, u"Mara"_qs, u"Ann"_qs);
    }

    void pythonEmailPackage() {
        compareAll(runPeer(u"/usr/bin/python3"_qs, "mime_peer_python.py", m_dir.path()), false);
    }

    void npmMailparser() {
        compareAll(runPeer(u"node"_qs, "mime_peer_mailparser.mjs", m_dir.path()), true);
    }
};

QTEST_GUILESS_MAIN(TestMIMEPeers)
#include "tst_mime_peers.moc"
