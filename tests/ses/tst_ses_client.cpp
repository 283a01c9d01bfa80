// The SES client driven by a scripted transport: the requests it builds and what it makes of
// answers the emulator cannot produce (identities, error shapes, missing fields).

#include "ses/ses_client.h"
#include "ses/transport_error.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillmere;
using test::ScriptedTransport;

namespace {

const AWSCredentials credentials{QStringLiteral("AKIDEXAMPLE"), QStringLiteral("secret"),
                                 std::nullopt};

QDateTime fixedNow() {
    return QDateTime(QDate(2025, 3, 1), QTime(9, 5, 2), Qt::UTC);
}

struct Fixture {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    SESClient client{credentials, QStringLiteral("eu-west-1"), transport, fixedNow};
};

SESError sesErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const SESError& error) {
        return error;
    }
    QTest::qFail("no SESError raised", __FILE__, __LINE__);
    return SESError::decoding(QString());
}

} // namespace

class TestSESClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void endpoint();
    void requests();
    void account();
    void identities();
    void sendRawAnswers();
    void parseError_data();
    void parseError();
    void failuresReachTheCaller();
};

void TestSESClient::init() {
    qunsetenv("AWS_ENDPOINT_URL_SESV2");
    qunsetenv("AWS_ENDPOINT_URL");
}

void TestSESClient::endpoint() {
    const auto transport = std::make_shared<ScriptedTransport>();
    QCOMPARE(SESClient(credentials, QStringLiteral("eu-central-1"), transport).endpoint(),
             QUrl(QStringLiteral("https://email.eu-central-1.amazonaws.com")));

    // Whatever a region text holds, the host stays under amazonaws.com or the URL is invalid.
    const QUrl odd =
        SESClient(credentials, QStringLiteral("evil.example/x?"), transport).endpoint();
    QVERIFY(!odd.isValid() || odd.host().endsWith(QStringLiteral(".amazonaws.com")));

    qputenv("AWS_ENDPOINT_URL", "http://127.0.0.1:4566/");
    QCOMPARE(SESClient(credentials, QStringLiteral("us-east-1"), transport).endpoint(),
             QUrl(QStringLiteral("http://127.0.0.1:4566")));
    qputenv("AWS_ENDPOINT_URL_SESV2", "http://127.0.0.1:8005");
    const SESClient local(credentials, QStringLiteral("us-east-1"), transport, fixedNow);
    QCOMPARE(local.endpoint(), QUrl(QStringLiteral("http://127.0.0.1:8005")));
    QCOMPARE(local.signedRequest(QStringLiteral("GET"), QStringLiteral("/v2/email/account")).url,
             QUrl(QStringLiteral("http://127.0.0.1:8005/v2/email/account")));
}

void TestSESClient::requests() {
    Fixture f;
    f.transport->enqueue(200, "{}");
    f.transport->enqueue(200, "{}");
    f.transport->enqueue(200, "{}");
    f.transport->enqueue(200, R"({"MessageId":"m1"})");
    f.transport->enqueue(200, R"({"MessageId":"m2"})");
    f.transport->enqueue(200, R"({"MessageId":"m3"})");

    test::runTask(f.client.getAccount());
    test::runTask(f.client.createDomainIdentity(QStringLiteral("example.com")));
    test::runTask(f.client.getIdentity(QStringLiteral("mail.example.com")));
    const QByteArray raw = "From: a@example.com\r\n\r\nbody \xe2\x98\x83\r\n";
    test::runTask(f.client.sendRaw(raw, QStringLiteral("a@example.com"),
                                QStringLiteral("reader@example.org")));
    test::runTask(f.client.sendRaw(raw, QStringLiteral("a@example.com"),
                                QStringLiteral("reader@example.org"), QString()));
    test::runTask(f.client.sendRaw(raw, QStringLiteral("a@example.com"),
                                QStringLiteral("reader@example.org"), QStringLiteral("tracking")));
    f.transport->enqueue(200, R"({"MessageId":"m4"})");
    const QString oddFrom = QStringLiteral("\"Quo\\ted\"@caf\u00e9.example/\u2028");
    const QString oddTo = QStringLiteral("tab\there@example.org");
    const QString oddSet = QStringLiteral("set\u0001");
    test::runTask(f.client.sendRaw(raw, oddFrom, oddTo, oddSet));

    const QList<HTTPRequest>& sent = f.transport->requests();
    QCOMPARE(sent.size(), 7);
    const QString base = QStringLiteral("https://email.eu-west-1.amazonaws.com");
    QCOMPARE(sent[0].method, QStringLiteral("GET"));
    QCOMPARE(sent[0].url, QUrl(base + QStringLiteral("/v2/email/account")));
    QVERIFY(sent[0].body.isEmpty());
    QVERIFY(!sent[0].headers.contains(QStringLiteral("Content-Type")));
    // Signed for the injected clock; exactly what the signer makes of the unsigned request.
    HTTPRequest unsignedAccount = sent[0];
    unsignedAccount.headers.remove(QStringLiteral("Authorization"));
    unsignedAccount.headers.remove(QStringLiteral("X-Amz-Date"));
    QCOMPARE(QStringList(unsignedAccount.headers.keys()), QStringList{QStringLiteral("Accept")});
    QCOMPARE(f.client.signer().sign(unsignedAccount, fixedNow()), sent[0]);
    QCOMPARE(sent[0].headers.value(QStringLiteral("X-Amz-Date")),
             QStringLiteral("20250301T090502Z"));
    QVERIFY(sent[0]
                .headers.value(QStringLiteral("Authorization"))
                .startsWith(QStringLiteral("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20250301/"
                                           "eu-west-1/ses/aws4_request, SignedHeaders=accept;host;"
                                           "x-amz-date, Signature=")));

    QCOMPARE(sent[1].method, QStringLiteral("POST"));
    QCOMPARE(sent[1].url, QUrl(base + QStringLiteral("/v2/email/identities")));
    QCOMPARE(sent[1].body, QByteArray(R"({"EmailIdentity":"example.com"})"));
    QCOMPARE(sent[1].headers.value(QStringLiteral("Content-Type")),
             QStringLiteral("application/json"));
    QCOMPARE(sent[1].headers.value(QStringLiteral("Accept")), QStringLiteral("application/json"));
    QVERIFY(sent[1]
                .headers.value(QStringLiteral("Authorization"))
                .contains(QStringLiteral("SignedHeaders=accept;content-type;host;x-amz-date,")));

    QCOMPARE(sent[2].method, QStringLiteral("GET"));
    QCOMPARE(sent[2].url, QUrl(base + QStringLiteral("/v2/email/identities/mail.example.com")));

    // Compact JSON with sorted keys; one recipient; standard Base64 without line breaks.
    const QString data = QString::fromLatin1(raw.toBase64());
    QCOMPARE(sent[3].url, QUrl(base + QStringLiteral("/v2/email/outbound-emails")));
    QCOMPARE(QString::fromUtf8(sent[3].body),
             QStringLiteral(R"({"Content":{"Raw":{"Data":")") + data +
                 QStringLiteral(R"("}},"Destination":{"ToAddresses":["reader@example.org"]},)"
                                R"("FromEmailAddress":"a@example.com"})"));
    QCOMPARE(sent[4].body, sent[3].body); // an empty configuration set is left out
    QCOMPARE(QString::fromUtf8(sent[5].body),
             QStringLiteral(R"({"ConfigurationSetName":"tracking","Content":{"Raw":{"Data":")") +
                 data +
                 QStringLiteral(R"("}},"Destination":{"ToAddresses":["reader@example.org"]},)"
                                R"("FromEmailAddress":"a@example.com"})"));
    // Texts that need escaping come out as a JSON document would write them.
    const QJsonObject odd{
        {QStringLiteral("ConfigurationSetName"), oddSet},
        {QStringLiteral("Content"),
         QJsonObject{{QStringLiteral("Raw"), QJsonObject{{QStringLiteral("Data"), data}}}}},
        {QStringLiteral("Destination"),
         QJsonObject{{QStringLiteral("ToAddresses"), QJsonArray{oddTo}}}},
        {QStringLiteral("FromEmailAddress"), oddFrom},
    };
    QCOMPARE(sent[6].body, QJsonDocument(odd).toJson(QJsonDocument::Compact));
    QCOMPARE(QJsonDocument::fromJson(sent[6].body).object(), odd);
}

void TestSESClient::account() {
    Fixture f;
    f.transport->enqueue(200, R"({"ProductionAccessEnabled":true,"SendingEnabled":true,
        "EnforcementStatus":"HEALTHY","Unknown":{"x":1},
        "SendQuota":{"Max24HourSend":50000.0,"MaxSendRate":14,"SentLast24Hours":12.5}})");
    f.transport->enqueue(200, R"({"SendingEnabled":false})");
    f.transport->enqueue(200, R"({"SendQuota":{"MaxSendRate":1},"EnforcementStatus":null})");

    QCOMPARE(test::runTask(f.client.getAccount()),
             (SESAccount{true, true, 50000, 14, 12.5, QStringLiteral("HEALTHY")}));
    QCOMPARE(test::runTask(f.client.getAccount()), SESAccount{});
    QCOMPARE(test::runTask(f.client.getAccount()), (SESAccount{false, false, 0, 1, 0, QString()}));

    // A 2xx answer that cannot be read is a decoding failure, naming what was wrong.
    f.transport->enqueue(200, "<html>");
    f.transport->enqueue(200, "[1,2]");
    f.transport->enqueue(200, R"({"SendingEnabled":"yes"})");
    f.transport->enqueue(200, QByteArray());
    const SESError notJson = sesErrorOf([&] { test::runTask(f.client.getAccount()); });
    QCOMPARE(notJson.kind(), SESError::Kind::decoding);
    QVERIFY2(notJson.text().startsWith(QStringLiteral("GetAccount response is not valid JSON: ")),
             qPrintable(notJson.text()));
    QCOMPARE(sesErrorOf([&] { test::runTask(f.client.getAccount()); }),
             SESError::decoding(QStringLiteral("GetAccount response is not a JSON object")));
    const SESError wrongType = sesErrorOf([&] { test::runTask(f.client.getAccount()); });
    QCOMPARE(wrongType.text(), QStringLiteral("GetAccount response: \"SendingEnabled\" should be a "
                                              "boolean, found text \"yes\""));
    QCOMPARE(wrongType.description(), wrongType.text());
    QCOMPARE(sesErrorOf([&] { test::runTask(f.client.getAccount()); }).kind(),
             SESError::Kind::decoding);
}

void TestSESClient::identities() {
    Fixture f;
    f.transport->enqueue(200, R"({"VerifiedForSendingStatus":true,"IdentityType":"DOMAIN",
        "DkimAttributes":{"Status":"SUCCESS","Tokens":["zz1","aa2","mm3"]}})");
    f.transport->enqueue(200, R"({"DkimAttributes":{"Status":"SOMETHING_NEW"}})");
    f.transport->enqueue(200, R"({"VerifiedForSendingStatus":false})");
    f.transport->enqueue(200, R"({"DkimAttributes":{"Status":"TEMPORARY_FAILURE","Tokens":[]}})");
    f.transport->enqueue(200, R"({"DkimAttributes":{"Tokens":["a",2]}})");

    QCOMPARE(test::runTask(f.client.createDomainIdentity(QStringLiteral("Example.COM"))),
             (SESIdentity{QStringLiteral("Example.COM"),
                          true,
                          DKIMStatus::success,
                          {QStringLiteral("zz1"), QStringLiteral("aa2"), QStringLiteral("mm3")}}));
    QCOMPARE(test::runTask(f.client.getIdentity(QStringLiteral("example.com"))),
             (SESIdentity{QStringLiteral("example.com"), false, DKIMStatus::notStarted, {}}));
    QCOMPARE(test::runTask(f.client.getIdentity(QStringLiteral("example.com"))),
             (SESIdentity{QStringLiteral("example.com"), false, DKIMStatus::notStarted, {}}));
    QCOMPARE(test::runTask(f.client.getIdentity(QStringLiteral("example.com"))).dkimStatus,
             DKIMStatus::temporaryFailure);
    QCOMPARE(
        sesErrorOf([&] { test::runTask(f.client.getIdentity(QStringLiteral("example.com"))); }).text(),
        QStringLiteral("GetEmailIdentity response: \"Tokens\" should be a list of text, "
                       "found number 2"));

    // A 404 is the caller's to judge: it arrives as the http case.
    f.transport->enqueue(
        404, R"({"message":"Email identity example.org does not exist."})",
        {{QStringLiteral("x-amzn-ErrorType"), QStringLiteral("NotFoundException:")}});
    QCOMPARE(sesErrorOf([&] { test::runTask(f.client.getIdentity(QStringLiteral("example.org"))); }),
             SESError::http(404, QStringLiteral("NotFoundException"),
                            QStringLiteral("Email identity example.org does not exist.")));
}

void TestSESClient::sendRawAnswers() {
    Fixture f;
    f.transport->enqueue(200, R"({"MessageId":"0100018e-abc"})");
    f.transport->enqueue(200, R"({"Other":"x"})");
    f.transport->enqueue(200, R"({"MessageId":7})");
    QCOMPARE(test::runTask(f.client.sendRaw("x", QStringLiteral("a@b.co"), QStringLiteral("c@d.co"))),
             QStringLiteral("0100018e-abc"));
    const SESError missing = sesErrorOf([&] {
        test::runTask(f.client.sendRaw("x", QStringLiteral("a@b.co"), QStringLiteral("c@d.co")));
    });
    QCOMPARE(missing, SESError::decoding(QStringLiteral("SendEmail response has no MessageId")));
    QCOMPARE(missing.description(), QStringLiteral("SendEmail response has no MessageId"));
    QCOMPARE(sesErrorOf([&] {
                 test::runTask(
                     f.client.sendRaw("x", QStringLiteral("a@b.co"), QStringLiteral("c@d.co")));
             }).kind(),
             SESError::Kind::decoding);
}

void TestSESClient::parseError_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("message");

    QTest::newRow("header type with colon, body message")
        << 400 << QStringLiteral("MessageRejected:http://internal.amazon.com/coral/com.amazon.ses/")
        << QByteArray(R"({"message":"Email address is not verified."})")
        << QStringLiteral("MessageRejected") << QStringLiteral("Email address is not verified.");
    QTest::newRow("no header, not JSON")
        << 500 << QString() << QByteArray("upstream exploded") << QStringLiteral("HTTP500")
        << QStringLiteral("upstream exploded");
    QTest::newRow("namespaced __type")
        << 404 << QString()
        << QByteArray(R"({"__type":"com.amazonaws.ses#NotFoundException","Message":"gone"})")
        << QStringLiteral("NotFoundException") << QStringLiteral("gone");
    QTest::newRow("namespace and colon")
        << 400 << QString() << QByteArray(R"({"code":"aws#Throttling:rate","message":"slow"})")
        << QStringLiteral("Throttling") << QStringLiteral("slow");
    QTest::newRow("Code, and message before Message")
        << 403 << QString()
        << QByteArray(R"({"Code":"AccessDenied","message":"m1","Message":"m2"})")
        << QStringLiteral("AccessDenied") << QStringLiteral("m1");
    QTest::newRow("header wins over body")
        << 429 << QStringLiteral("TooManyRequestsException")
        << QByteArray(R"({"__type":"Other","message":"Maximum sending rate exceeded."})")
        << QStringLiteral("TooManyRequestsException")
        << QStringLiteral("Maximum sending rate exceeded.");
    QTest::newRow("non-text values skipped")
        << 400 << QString() << QByteArray(R"({"__type":5,"code":"BadRequest","message":[1]})")
        << QStringLiteral("BadRequest")
        << QStringLiteral(R"({"__type":5,"code":"BadRequest","message":[1]})");
    QTest::newRow("JSON array body") << 502 << QString() << QByteArray("[]")
                                     << QStringLiteral("HTTP502") << QStringLiteral("[]");
    QTest::newRow("body not UTF-8")
        << 503 << QString() << QByteArray("\xff\xfe\xfd") << QStringLiteral("HTTP503") << QString();
    QTest::newRow("empty") << 400 << QString() << QByteArray() << QStringLiteral("HTTP400")
                           << QString();
}

void TestSESClient::parseError() {
    QFETCH(int, status);
    QFETCH(QString, header);
    QFETCH(QByteArray, body);
    QFETCH(QString, type);
    QFETCH(QString, message);
    HTTPResponse response{status, {}, body};
    if (!header.isEmpty()) {
        response.headers.insert(QStringLiteral("X-Amzn-Errortype"), header);
    }
    const SESError error = SESClient::parseError(response);
    QCOMPARE(error, SESError::http(status, type, message));
    QCOMPARE(error.kind(), SESError::Kind::http);
    QCOMPARE(error.status(), status);
    QCOMPARE(error.description(), QStringLiteral("SES ") + QString::number(status) +
                                      QLatin1Char(' ') + type + QStringLiteral(": ") + message);
}

void TestSESClient::failuresReachTheCaller() {
    Fixture f;
    f.transport->enqueue(
        400, R"({"message":"Email address is not verified."})",
        {{QStringLiteral("x-amzn-ErrorType"), QStringLiteral("MessageRejected:")}});
    f.transport->enqueueFailure(
        TransportError(QStringLiteral("Host email.eu-west-1.amazonaws.com not found"),
                       QNetworkReply::HostNotFoundError));
    f.transport->enqueue(301, "{}");

    const SESError rejected = sesErrorOf([&] {
        test::runTask(f.client.sendRaw("x", QStringLiteral("a@b.co"), QStringLiteral("c@d.co")));
    });
    QCOMPARE(rejected.description(),
             QStringLiteral("SES 400 MessageRejected: Email address is not verified."));
    try {
        test::runTask(f.client.getAccount());
        QFAIL("the transport failure must reach the caller");
    } catch (const TransportError& error) {
        QCOMPARE(error.code(), QNetworkReply::HostNotFoundError);
        QCOMPARE(error.description(),
                 QStringLiteral("Host email.eu-west-1.amazonaws.com not found"));
    }
    // Anything outside 200-299 is an error, a redirect included.
    QCOMPARE(sesErrorOf([&] { test::runTask(f.client.getAccount()); }),
             SESError::http(301, QStringLiteral("HTTP301"), QStringLiteral("{}")));
    QCOMPARE(f.transport->pending(), 0);
}

QTEST_GUILESS_MAIN(TestSESClient)
#include "tst_ses_client.moc"
