// The SES client against the SES v2 emulator (npm aws-ses-v2-local) on the loopback interface,
// reached the way the AWS SDKs are pointed at a local endpoint: AWS_ENDPOINT_URL_SESV2.

#include "render/mime_builder.h"
#include "ses/network_transport.h"
#include "ses/ses_client.h"
#include "support/run_task.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

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
    m_emulator = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 14, 50000, 12));
    QVERIFY2(m_emulator->isRunning(), qPrintable(m_emulator->error()));
    qputenv("AWS_ENDPOINT_URL_SESV2", m_emulator->url().toString().toUtf8());
}

void TestSESEmulator::cleanupTestCase() {
    m_emulator.reset();
}

void TestSESEmulator::accountAndRawSend() {
    const auto transport = std::make_shared<NetworkTransport>();
    const SESClient client({u"AKIDLOCAL"_s, u"local-secret"_s, u"session"_s}, u"us-east-1"_s,
                           transport);
    QCOMPARE(client.endpoint(), m_emulator->url());

    QCOMPARE(test::runTask(client.getAccount()),
             (SESAccount{true, true, 50000, 14, 12, u"HEALTHY"_s}));

    const QString subject = u"Caf\u00e9 notes \u2615 #12"_s;
    const QString text = u"Hello reader,\n\nThis week: caf\u00e9s.\n"_s;
    const QString html = u"<p>Hello reader,</p><p>This week: <b>caf\u00e9s</b>.</p>"_s;
    const QByteArray raw = MIMEBuilder::build(
        {html, text, subject}, u"letter@example.com"_s, u"Test Letter"_s, u"reader@example.org"_s,
        std::nullopt, QUrl(u"https://w.example/unsubscribe?t=x"_s), std::nullopt,
        QDateTime::currentDateTimeUtc(), std::nullopt);
    const QString messageID =
        test::runTask(client.sendRaw(raw, u"letter@example.com"_s, u"reader@example.org"_s));
    QVERIFY(!messageID.isEmpty());

    // The emulator parsed the raw message and stored what a mail client would show.
    const QUrl storeURL = m_emulator->url().resolved(QUrl(u"/store"_s));
    const HTTPResponse answer = test::runTask(transport->send({u"GET"_s, storeURL, {}, {}}));
    const QJsonObject store = QJsonDocument::fromJson(answer.body).object();
    const QJsonArray emails = store.value(u"emails"_s).toArray();
    QJsonObject stored;
    for (const QJsonValue& email : emails) {
        if (email[u"messageId"_s].toString() == messageID) {
            stored = email.toObject();
        }
    }
    QVERIFY2(!stored.isEmpty(), QJsonDocument(store).toJson().constData());
    QCOMPARE(stored[u"subject"_s].toString(), subject);
    QCOMPARE(stored[u"destination"_s][u"to"_s].toArray(), QJsonArray{u"reader@example.org"_s});
    QVERIFY(stored[u"from"_s].toString().contains(u"letter@example.com"_s));
    QCOMPARE(stored[u"body"_s][u"text"_s].toString().trimmed(), text.trimmed());
    QCOMPARE(stored[u"body"_s][u"html"_s].toString().trimmed(), html);

    // The emulator's own error shape: a body with a message and no type.
    try {
        test::runTask(client.sendRaw("Subject: no sender\r\n\r\nx\r\n", u"letter@example.com"_s,
                                     u"reader@example.org"_s));
        QFAIL("a raw message without From must be rejected");
    } catch (const SESError& error) {
        QCOMPARE(error, SESError::http(400, u"HTTP400"_s, u"Bad Request Exception"_s));
    }
}

QTEST_GUILESS_MAIN(TestSESEmulator)
#include "tst_ses_emulator.moc"
