// The SES client against the SES v2 emulator (npm aws-ses-v2-local) on the loopback interface,
// reached the way the AWS SDKs are pointed at a local endpoint (AWS_ENDPOINT_URL_SESV2); and
// driven by a scripted transport for the request details and answers the emulator cannot show.

#include "ses/network_transport.h"
#include "ses/ses_client.h"
#include "ses/transport_error.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;
using test::ScriptedTransport;

namespace {

const AWSCredentials credentials{u"AKIDEXAMPLE"_s, u"secret"_s, std::nullopt};

struct Fixture {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    SESClient client{credentials, u"eu-west-1"_s, transport,
                     [] { return QDateTime(QDate(2025, 3, 1), QTime(9, 5, 2), Qt::UTC); }};
};

// What a call made of the scripted answer, as one line of text, or its failure.
QString outcome(const std::function<QString()>& call) {
    try {
        return call();
    } catch (const SESError& error) {
        return u"error: "_s + error.description();
    }
}

} // namespace

class TestSESClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void emulatorAccountAndRawSend();
    void endpoint();
    void requestBytes();
    void answers();
    void parseError();
    void retryAfter();
    void failuresReachTheCaller();
};

void TestSESClient::init() {
    qunsetenv("AWS_ENDPOINT_URL_SESV2");
    qunsetenv("AWS_ENDPOINT_URL");
}

void TestSESClient::emulatorAccountAndRawSend() {
    const test::SESEmulator emulator(test::sesAccountJSON(true, 14, 50000, 12));
    QVERIFY2(emulator.isRunning(), qPrintable(emulator.error()));
    qputenv("AWS_ENDPOINT_URL_SESV2", emulator.url().toString().toUtf8());
    const auto transport = std::make_shared<NetworkTransport>();
    const SESClient client({u"AKIDLOCAL"_s, u"local-secret"_s, u"session"_s}, u"us-east-1"_s,
                           transport);
    QCOMPARE(client.endpoint(), emulator.url());

    QCOMPARE(test::runTask(client.getAccount()),
             (SESAccount{true, true, 50000, 14, 12, u"HEALTHY"_s}));

    const QByteArray raw = "From: Test Letter <letter@example.com>\r\nTo: reader@example.org\r\n"
                           "Subject: Notes\r\n\r\nHi\r\n";
    const QString messageID =
        test::runTask(client.sendRaw(raw, u"letter@example.com"_s, u"reader@example.org"_s));
    QVERIFY(!messageID.isEmpty());

    // The emulator stored it for its reader (what it shows of the message itself is the MIME
    // peers' and the list-send road's to check).
    const QUrl storeURL = emulator.url().resolved(QUrl(u"/store"_s));
    const HTTPResponse answer = test::runTask(transport->send({u"GET"_s, storeURL, {}, {}}));
    const QJsonArray emails = QJsonDocument::fromJson(answer.body)[u"emails"_s].toArray();
    QCOMPARE(emails.size(), 1);
    const QJsonObject stored = emails.first().toObject();
    QCOMPARE(stored[u"messageId"_s].toString(), messageID);
    QCOMPARE(stored[u"destination"_s][u"to"_s].toArray(), QJsonArray{u"reader@example.org"_s});
    QVERIFY(stored[u"from"_s].toString().contains(u"letter@example.com"_s));

    // The emulator's own error shape: a body with a message and no type.
    try {
        test::runTask(client.sendRaw("Subject: no sender\r\n\r\nx\r\n", u"letter@example.com"_s,
                                     u"reader@example.org"_s));
        QFAIL("a raw message without From must be rejected");
    } catch (const SESError& error) {
        QCOMPARE(error, SESError::http(400, u"HTTP400"_s, u"Bad Request Exception"_s));
    }
}

void TestSESClient::endpoint() {
    const auto transport = std::make_shared<ScriptedTransport>();
    // Whatever a region text holds, the host stays under amazonaws.com or the URL is invalid.
    const QUrl odd = SESClient(credentials, u"evil.example/x?"_s, transport).endpoint();
    QVERIFY(!odd.isValid() || odd.host().endsWith(u".amazonaws.com"_s));

    // The service-specific variable wins over the general one.
    qputenv("AWS_ENDPOINT_URL", "http://127.0.0.1:4566/");
    QCOMPARE(SESClient(credentials, u"us-east-1"_s, transport).endpoint(),
             QUrl(u"http://127.0.0.1:4566"_s));
    qputenv("AWS_ENDPOINT_URL_SESV2", "http://127.0.0.1:8005");
    QCOMPARE(SESClient(credentials, u"us-east-1"_s, transport).endpoint(),
             QUrl(u"http://127.0.0.1:8005"_s));
}

void TestSESClient::requestBytes() {
    // What the emulator does not look at: the signature's clock and signed headers, the identity
    // call, and the hand-written send body against what a JSON document writes.
    Fixture f;
    for (int i = 0; i < 4; ++i) {
        f.transport->enqueue(200, R"({"MessageId":"m"})");
    }
    test::runTask(f.client.getAccount());
    test::runTask(f.client.createDomainIdentity(u"example.com"_s));
    const QByteArray raw = "From: a@example.com\r\n\r\nbody \xe2\x98\x83\r\n";
    const QString to = u"reader@example.org"_s;
    const QString oddFrom = u"\"Quo\\ted\"@caf\u00e9.example/\u2028"_s;
    test::runTask(f.client.sendRaw(raw, u"a@example.com"_s, to, QString()));
    test::runTask(f.client.sendRaw(raw, oddFrom, to, u"set\u0001"_s));

    const QList<HTTPRequest>& sent = f.transport->requests();
    QCOMPARE(QStringList(sent[0].headers.keys()),
             (QStringList{u"Accept"_s, u"Authorization"_s, u"X-Amz-Date"_s}));
    QCOMPARE(sent[1].method + QLatin1Char(' ') + sent[1].url.toString(),
             u"POST https://email.eu-west-1.amazonaws.com/v2/email/identities"_s);
    QCOMPARE(sent[1].body, QByteArray(R"({"EmailIdentity":"example.com"})"));
    QCOMPARE(sent[1].headers.value(u"X-Amz-Date"_s), u"20250301T090502Z"_s);
    QVERIFY(sent[1]
                .headers.value(u"Authorization"_s)
                .startsWith(u"AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20250301/eu-west-1/ses/"
                            "aws4_request, SignedHeaders=accept;content-type;host;x-amz-date,"_s));
    const auto body = [&](const QString& from, const QString& set) {
        const QString data = QString::fromLatin1(raw.toBase64());
        QJsonObject o{{u"Content"_s, QJsonObject{{u"Raw"_s, QJsonObject{{u"Data"_s, data}}}}},
                      {u"Destination"_s, QJsonObject{{u"ToAddresses"_s, QJsonArray{to}}}},
                      {u"FromEmailAddress"_s, from}};
        if (!set.isEmpty()) {
            o.insert(u"ConfigurationSetName"_s, set);
        }
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    QCOMPARE(sent[2].body, body(u"a@example.com"_s, QString()));
    QCOMPARE(sent[3].body, body(oddFrom, u"set\u0001"_s));
}

void TestSESClient::answers() {
    // clang-format off
    const char* const rows[][4] = {
        {"account, missing fields and null", "account", R"({"SendQuota":{"MaxSendRate":1},"EnforcementStatus":null})", "0 0 0 1 0 "},
        {"account, not JSON", "account", "<html>", "error: GetAccount response is not valid JSON: illegal value at offset 1"},
        {"account, not an object", "account", "[1,2]", "error: GetAccount response is not a JSON object"},
        {"account, wrong type", "account", R"({"SendingEnabled":"yes"})", R"(error: GetAccount response: "SendingEnabled" should be a boolean, found text "yes")"},
        {"identity, tokens kept in order", "identity", R"({"VerifiedForSendingStatus":true,"DkimAttributes":{"Status":"SUCCESS","Tokens":["zz1","aa2","mm3"]}})", "Example.COM 1 SUCCESS zz1,aa2,mm3"},
        {"identity, unknown status", "identity", R"({"DkimAttributes":{"Status":"NEW"}})", "Example.COM 0 NOT_STARTED "},
        {"identity, token not text", "identity", R"({"DkimAttributes":{"Tokens":["a",2]}})", R"(error: GetEmailIdentity response: "Tokens" should be a list of text, found number 2)"},
        {"send, no MessageId", "send", R"({"Other":"x"})", "error: SendEmail response has no MessageId"},
        {"send, MessageId not text", "send", R"({"MessageId":7})", R"(error: SendEmail response: "MessageId" should be text, found number 7)"},
    };
    // clang-format on
    for (const auto& [name, call, body, expected] : rows) {
        Fixture f;
        f.transport->enqueue(200, body);
        const QString result = outcome([&] {
            if (QByteArray(call) == "account") {
                const SESAccount a = test::runTask(f.client.getAccount());
                return QString::asprintf("%d %d %g %g %g %ls", a.productionAccessEnabled,
                                         a.sendingEnabled, a.max24HourSend, a.maxSendRate,
                                         a.sentLast24Hours, qUtf16Printable(a.enforcementStatus));
            }
            if (QByteArray(call) == "identity") {
                const SESIdentity i = test::runTask(f.client.getIdentity(u"Example.COM"_s));
                return u"%1 %2 %3 %4"_s.arg(i.identity, QString::number(i.verifiedForSending),
                                            rawValue(i.dkimStatus), i.dkimTokens.join(u','));
            }
            return test::runTask(f.client.sendRaw("x", u"a@b.co"_s, u"c@d.co"_s));
        });
        QCOMPARE(name + u": "_s + result, name + u": "_s + expected);
    }
}

void TestSESClient::parseError() {
    // clang-format off
    const std::tuple<const char*, int, const char*, const char*, const char*, const char*> rows[] = {
        {"header type with colon, body message", 400, "MessageRejected:http://internal.amazon.com/coral/com.amazon.ses/",
         R"({"message":"Email address is not verified."})", "MessageRejected", "Email address is not verified."},
        {"no header, not JSON", 500, "", "upstream exploded", "HTTP500", "upstream exploded"},
        {"namespaced __type", 404, "", R"({"__type":"com.amazonaws.ses#NotFoundException","Message":"gone"})", "NotFoundException", "gone"},
        {"namespace and colon", 400, "", R"({"code":"aws#Throttling:rate","message":"slow"})", "Throttling", "slow"},
        {"Code, and message before Message", 403, "", R"({"Code":"AccessDenied","message":"m1","Message":"m2"})", "AccessDenied", "m1"},
        {"header wins over body", 429, "TooManyRequestsException", R"({"__type":"Other","message":"Maximum sending rate exceeded."})",
         "TooManyRequestsException", "Maximum sending rate exceeded."},
        {"non-text values skipped", 400, "", R"({"__type":5,"code":"BadRequest","message":[1]})", "BadRequest",
         R"({"__type":5,"code":"BadRequest","message":[1]})"},
        {"body not UTF-8", 503, "", "\xff\xfe\xfd", "HTTP503", ""},
    };
    // clang-format on
    for (const auto& [name, status, header, body, type, message] : rows) {
        HTTPResponse response{status, {}, body};
        if (*header) {
            response.headers.insert(u"X-Amzn-Errortype"_s, QString::fromUtf8(header));
        }
        const SESError parsed = SESClient::parseError(response);
        QVERIFY2(parsed ==
                     SESError::http(status, QString::fromUtf8(type), QString::fromUtf8(message)),
                 qPrintable(name + u": "_s + parsed.description()));
    }
}

// Seconds, or the HTTP date servers send (IMF-fixdate); anything else leaves the back-off alone.
void TestSESClient::retryAfter() {
    const auto wait = [](const QString& value) {
        return SESClient::parseError({429, {{u"Retry-After"_s, value}}, "{}"}).retryAfter();
    };
    using std::chrono::milliseconds;
    QCOMPARE(wait(u" 7 "_s), milliseconds(7000));
    QCOMPARE(wait(u"-5"_s), milliseconds(0));
    QCOMPARE(wait(u"Wed, 21 Oct 2015 07:28:00 GMT"_s), milliseconds(0));
    QCOMPARE(wait(u"soon"_s), std::nullopt);
    const QString inAnHour = QLocale::c().toString(QDateTime::currentDateTimeUtc().addSecs(3600),
                                                   u"ddd, dd MMM yyyy HH:mm:ss 'GMT'"_s);
    const std::optional<milliseconds> later = wait(inAnHour);
    QVERIFY2(later && *later > milliseconds(3500 * 1000) && *later <= milliseconds(3600 * 1000),
             qPrintable(inAnHour));
}

void TestSESClient::failuresReachTheCaller() {
    Fixture f;
    f.transport->enqueue(404, R"({"message":"Email identity example.org does not exist."})",
                         {{u"x-amzn-ErrorType"_s, u"NotFoundException:"_s}});
    f.transport->enqueueFailure(
        TransportError(u"Host not found"_s, QNetworkReply::HostNotFoundError));
    f.transport->enqueue(301, "{}");

    // A 404 is the caller's to judge: it arrives as the http case.
    QCOMPARE(
        outcome([&] { return test::runTask(f.client.getIdentity(u"example.org"_s)).identity; }),
        u"error: SES 404 NotFoundException: Email identity example.org does "
        "not exist."_s);
    QCOMPARE(f.transport->requests()[0].url.path(), u"/v2/email/identities/example.org"_s);
    try {
        test::runTask(f.client.getAccount());
        QFAIL("the transport failure must reach the caller");
    } catch (const TransportError& error) {
        QCOMPARE(error.code(), QNetworkReply::HostNotFoundError);
    }
    // Anything outside 200-299 is an error, a redirect included.
    QCOMPARE(outcome([&] { return test::runTask(f.client.getAccount()).enforcementStatus; }),
             u"error: SES 301 HTTP301: {}"_s);
}

QTEST_GUILESS_MAIN(TestSESClient)
#include "tst_ses_client.moc"
