// The SES client against the SES v2 emulator (npm aws-ses-v2-local) on the loopback interface,
// reached the way the AWS SDKs are pointed at a local endpoint: AWS_ENDPOINT_URL_SESV2.

#include "ses/network_transport.h"
#include "ses/ses_client.h"
#include "support/run_task.h"
#include "support/ses_emulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillmere;

namespace {

const QByteArray emulatedAccount = R"({
  "DedicatedIpAutoWarmupEnabled": false,
  "Details": {"AdditionalContactEmailAddresses": [], "ContactLanguage": "EN",
              "MailType": "MARKETING", "ReviewDetails": {"CaseId": "c-1", "Status": "GRANTED"},
              "UseCaseDescription": "A newsletter.", "WebsiteURL": "https://example.com"},
  "EnforcementStatus": "HEALTHY", "ProductionAccessEnabled": true, "SendingEnabled": true,
  "SendQuota": {"Max24HourSend": 50000, "MaxSendRate": 14, "SentLast24Hours": 12},
  "SuppressionAttributes": {"SuppressedReasons": ["BOUNCE", "COMPLAINT"]}
})";

// A small multipart/alternative message as a mail client expects it: an RFC 2047 subject,
// Base64 text and HTML parts, CRLF line ends.
// TODO(after the MIME builder lands): build this with MIMEBuilder instead of by hand.
QByteArray handmadeMessage(const QString& subject, const QString& text, const QString& html) {
    const QByteArray boundary = "=_quillmere_test_boundary_7f3a";
    const auto wrapped = [](const QByteArray& base64) {
        QByteArray out;
        for (qsizetype i = 0; i < base64.size(); i += 76) {
            out += base64.mid(i, 76) + "\r\n";
        }
        return out;
    };
    return "From: Test Letter <letter@example.com>\r\n"
           "To: reader@example.org\r\n"
           "Subject: =?UTF-8?B?" +
           subject.toUtf8().toBase64() +
           "?=\r\n"
           "Date: Sat, 01 Mar 2025 09:05:02 +0000\r\n"
           "Message-ID: <test-1@example.com>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: multipart/alternative; boundary=\"" +
           boundary +
           "\"\r\n"
           "\r\n"
           "--" +
           boundary +
           "\r\n"
           "Content-Type: text/plain; charset=utf-8\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "\r\n" +
           wrapped(text.toUtf8().toBase64()) + "--" + boundary +
           "\r\n"
           "Content-Type: text/html; charset=utf-8\r\n"
           "Content-Transfer-Encoding: base64\r\n"
           "\r\n" +
           wrapped(html.toUtf8().toBase64()) + "--" + boundary + "--\r\n";
}

QJsonObject getJson(NetworkTransport& transport, const QUrl& url) {
    const HTTPResponse response = test::runTask(transport.send({QStringLiteral("GET"), url, {}, {}}));
    if (response.status != 200) {
        return {};
    }
    return QJsonDocument::fromJson(response.body).object();
}

} // namespace

class TestSESEmulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void accountAndRawSend();

private:
    std::unique_ptr<test::SESEmulator> m_emulator;
};

void TestSESEmulator::initTestCase() {
    m_emulator = std::make_unique<test::SESEmulator>(emulatedAccount);
    QVERIFY2(m_emulator->isRunning(), qPrintable(m_emulator->error()));
    qputenv("AWS_ENDPOINT_URL_SESV2", m_emulator->url().toString().toUtf8());
}

void TestSESEmulator::cleanupTestCase() {
    m_emulator.reset();
}

void TestSESEmulator::accountAndRawSend() {
    const auto transport = std::make_shared<NetworkTransport>();
    const SESClient client(
        {QStringLiteral("AKIDLOCAL"), QStringLiteral("local-secret"), QStringLiteral("session")},
        QStringLiteral("us-east-1"), transport);
    QCOMPARE(client.endpoint(), m_emulator->url());

    QCOMPARE(test::runTask(client.getAccount()),
             (SESAccount{true, true, 50000, 14, 12, QStringLiteral("HEALTHY")}));

    const QString subject = QStringLiteral("Caf\u00e9 notes \u2615 #12");
    const QString text = QStringLiteral("Hello reader,\n\nThis week: caf\u00e9s.\n");
    const QString html = QStringLiteral("<p>Hello reader,</p><p>This week: <b>caf\u00e9s</b>.</p>");
    const QString messageID = test::runTask(client.sendRaw(handmadeMessage(subject, text, html),
                                                        QStringLiteral("letter@example.com"),
                                                        QStringLiteral("reader@example.org")));
    QVERIFY(!messageID.isEmpty());

    // The emulator parsed the raw message and stored what a mail client would show.
    const QJsonObject store =
        getJson(*transport, QUrl(m_emulator->url().toString() + QStringLiteral("/store")));
    const QJsonArray emails = store.value(QStringLiteral("emails")).toArray();
    QJsonObject stored;
    for (const QJsonValue& email : emails) {
        if (email[QStringLiteral("messageId")].toString() == messageID) {
            stored = email.toObject();
        }
    }
    QVERIFY2(!stored.isEmpty(), QJsonDocument(store).toJson().constData());
    QCOMPARE(stored[QStringLiteral("subject")].toString(), subject);
    QCOMPARE(stored[QStringLiteral("destination")][QStringLiteral("to")].toArray(),
             QJsonArray{QStringLiteral("reader@example.org")});
    QVERIFY(
        stored[QStringLiteral("from")].toString().contains(QStringLiteral("letter@example.com")));
    QCOMPARE(stored[QStringLiteral("body")][QStringLiteral("text")].toString().trimmed(),
             text.trimmed());
    QCOMPARE(stored[QStringLiteral("body")][QStringLiteral("html")].toString().trimmed(), html);

    // The emulator's own error shape: a body with a message and no type.
    try {
        test::runTask(client.sendRaw("Subject: no sender\r\n\r\nx\r\n",
                                  QStringLiteral("letter@example.com"),
                                  QStringLiteral("reader@example.org")));
        QFAIL("a raw message without From must be rejected");
    } catch (const SESError& error) {
        QCOMPARE(error, SESError::http(400, QStringLiteral("HTTP400"),
                                       QStringLiteral("Bad Request Exception")));
    }
}

QTEST_GUILESS_MAIN(TestSESEmulator)
#include "tst_ses_emulator.moc"
