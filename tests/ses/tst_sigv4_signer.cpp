#include "ses/sigv4_signer.h"

#include <QTest>
#include <QTimeZone>

using namespace quillmere;

namespace {

// The example keys of AWS's own Signature Version 4 documentation and test suite.
AWSCredentials exampleCredentials(std::optional<QString> token = std::nullopt) {
    return {QStringLiteral("AKIDEXAMPLE"),
            QStringLiteral("wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"), std::move(token)};
}

QDateTime exampleDate() {
    return QDateTime(QDate(2015, 8, 30), QTime(12, 36, 0), Qt::UTC);
}

HTTPRequest request(const QString& method, const QString& url, QMap<QString, QString> headers = {},
                    QByteArray body = {}) {
    return {method, QUrl(url), std::move(headers), std::move(body)};
}

} // namespace

class TestSigV4Signer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void publishedExamples();
    void uriEncode_data();
    void uriEncode();
    void dates();
    void canonicalURI_data();
    void canonicalURI();
    void canonicalQuery_data();
    void canonicalQuery();
    void canonicalHeaders();
    void hostAndPort_data();
    void hostAndPort();
    void sesRequest();
    void resigningAndTokens();
    void contentHash();
};

void TestSigV4Signer::publishedExamples() {
    // AWS's test suite "get-vanilla" and the IAM ListUsers walk-through of its documentation.
    const SigV4Signer service(exampleCredentials(), QStringLiteral("us-east-1"),
                              QStringLiteral("service"));
    const HTTPRequest vanilla = service.sign(
        request(QStringLiteral("GET"), QStringLiteral("https://example.amazonaws.com/")),
        exampleDate());
    QCOMPARE(vanilla.headers.value(QStringLiteral("Authorization")),
             QStringLiteral("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/service/"
                            "aws4_request, SignedHeaders=host;x-amz-date, Signature="
                            "5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"));
    QCOMPARE(vanilla.headers.value(QStringLiteral("X-Amz-Date")),
             QStringLiteral("20150830T123600Z"));

    const SigV4Signer iam(exampleCredentials(), QStringLiteral("us-east-1"), QStringLiteral("iam"));
    const HTTPRequest listUsers =
        request(QStringLiteral("GET"),
                QStringLiteral("https://iam.amazonaws.com/?Action=ListUsers&Version=2010-05-08"),
                {{QStringLiteral("Content-Type"),
                  QStringLiteral("application/x-www-form-urlencoded; charset=utf-8")}});
    QCOMPARE(iam.canonicalRequest(listUsers, QStringLiteral("20150830T123600Z")),
             QStringLiteral("GET\n/\nAction=ListUsers&Version=2010-05-08\n"
                            "content-type:application/x-www-form-urlencoded; charset=utf-8\n"
                            "host:iam.amazonaws.com\nx-amz-date:20150830T123600Z\n\n"
                            "content-type;host;x-amz-date\n"
                            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QCOMPARE(iam.authorizationHeader(listUsers, QStringLiteral("20150830T123600Z")),
             QStringLiteral("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/iam/"
                            "aws4_request, SignedHeaders=content-type;host;x-amz-date, Signature="
                            "5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"));

    const SigV4Signer keyExample(exampleCredentials(), QStringLiteral("us-east-1"),
                                 QStringLiteral("iam"));
    QCOMPARE(keyExample.signingKey(QStringLiteral("20120215")).toHex(),
             QByteArray("f4780e2d9f65fa895f9c67b32ce1baf0b0d8a43505a000a1a9e090d414db404d"));
    QCOMPARE(keyExample.credentialScope(QStringLiteral("20120215")),
             QStringLiteral("20120215/us-east-1/iam/aws4_request"));
}

void TestSigV4Signer::uriEncode_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("unreserved kept")
        << QStringLiteral("AZaz09-._~") << QStringLiteral("AZaz09-._~");
    QTest::newRow("slash and space") << QStringLiteral("a b/c") << QStringLiteral("a%20b%2Fc");
    QTest::newRow("plus and percent") << QStringLiteral("1+1=2%") << QStringLiteral("1%2B1%3D2%25");
    QTest::newRow("utf-8 bytes, upper-case hex")
        << QStringLiteral("caf\u00e9 \u2603") << QStringLiteral("caf%C3%A9%20%E2%98%83");
    QTest::newRow("empty") << QString() << QString();
}

void TestSigV4Signer::uriEncode() {
    QFETCH(QString, input);
    QFETCH(QString, encoded);
    QCOMPARE(SigV4Signer::uriEncode(input), encoded);
}

void TestSigV4Signer::dates() {
    const QDateTime plusOne(QDate(2025, 3, 1), QTime(10, 5, 2), QTimeZone(3600));
    QCOMPARE(SigV4Signer::amzDate(plusOne), QStringLiteral("20250301T090502Z"));
    QCOMPARE(SigV4Signer::amzDate(QDateTime(QDate(987, 1, 2), QTime(3, 4, 5), Qt::UTC)),
             QStringLiteral("09870102T030405Z"));
    QCOMPARE(SigV4Signer::hexSHA256(QByteArray()),
             QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
}

void TestSigV4Signer::canonicalURI_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");
    QTest::newRow("identity path unchanged")
        << QStringLiteral(
               "https://email.us-east-1.amazonaws.com/v2/email/identities/mail-1.example.co.uk")
        << QStringLiteral("/v2/email/identities/mail-1.example.co.uk");
    QTest::newRow("no path") << QStringLiteral("https://h.example") << QStringLiteral("/");
    QTest::newRow("%20 decoded and encoded once")
        << QStringLiteral("https://h.example/a%20b/c") << QStringLiteral("/a%20b/c");
    QTest::newRow("plus") << QStringLiteral("https://h.example/a+b") << QStringLiteral("/a%2Bb");
    QTest::newRow("raw space and unicode")
        << QStringLiteral("https://h.example/caf\u00e9 x") << QStringLiteral("/caf%C3%A9%20x");
    QTest::newRow("encoded slash stays in its segment")
        << QStringLiteral("https://h.example/a%2Fb") << QStringLiteral("/a%2Fb");
    QTest::newRow("empty segments kept")
        << QStringLiteral("https://h.example//a//b/") << QStringLiteral("//a//b/");
    QTest::newRow("not UTF-8 kept as written")
        << QStringLiteral("https://h.example/%FF") << QStringLiteral("/%25FF");
    QTest::newRow("sub-delimiters encoded")
        << QStringLiteral("https://h.example/a:b@c!") << QStringLiteral("/a%3Ab%40c%21");
}

void TestSigV4Signer::canonicalURI() {
    QFETCH(QString, url);
    QFETCH(QString, path);
    QCOMPARE(SigV4Signer::canonicalURI(QUrl(url)), path);
}

void TestSigV4Signer::canonicalQuery_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("query");
    QTest::newRow("none") << QStringLiteral("https://h.example/") << QString();
    QTest::newRow("only ?") << QStringLiteral("https://h.example/?") << QString();
    QTest::newRow("sorted by name, then value, empty parts dropped")
        << QStringLiteral("https://h.example/?b=2&a=z&&a=1&c") << QStringLiteral("a=1&a=z&b=2&c=");
    QTest::newRow("split at the first =")
        << QStringLiteral("https://h.example/?k=a=b") << QStringLiteral("k=a%3Db");
    QTest::newRow("decoded then encoded")
        << QStringLiteral("https://h.example/?q=a%20b+c&%C3%A9=%7e")
        << QStringLiteral("%C3%A9=~&q=a%20b%2Bc");
    QTest::newRow("sorted after encoding") << QStringLiteral("https://h.example/?a%20b=1&a=2&a-b=3")
                                           << QStringLiteral("a=2&a%20b=1&a-b=3");
}

void TestSigV4Signer::canonicalQuery() {
    QFETCH(QString, url);
    QFETCH(QString, query);
    QCOMPARE(SigV4Signer::canonicalQuery(QUrl(url)), query);
}

void TestSigV4Signer::canonicalHeaders() {
    const SigV4Signer signer(exampleCredentials(), QStringLiteral("eu-west-1"),
                             QStringLiteral("ses"));
    const HTTPRequest r =
        request(QStringLiteral("GET"), QStringLiteral("https://email.eu-west-1.amazonaws.com/"),
                {{QStringLiteral("X-Spaced"), QStringLiteral(" \t a  \t b   c \t")},
                 {QStringLiteral("Authorization"), QStringLiteral("ignored")},
                 {QStringLiteral("x-amz-date"), QStringLiteral("20990101T000000Z")},
                 {QStringLiteral("Empty"), QString()},
                 {QStringLiteral("Line"), QStringLiteral("keep\nnewline")}});
    const auto [block, signedHeaders] =
        signer.canonicalHeaders(r, QStringLiteral("20250301T090502Z"));
    // A date already on the request wins over the one handed in; only spaces and tabs collapse.
    QCOMPARE(block,
             QStringLiteral("empty:\nhost:email.eu-west-1.amazonaws.com\nline:keep\nnewline\n"
                            "x-amz-date:20990101T000000Z\nx-spaced:a b c\n"));
    QCOMPARE(signedHeaders, QStringLiteral("empty;host;line;x-amz-date;x-spaced"));

    // An explicit Host header is signed as given; without a host nothing is added.
    const HTTPRequest withHost =
        request(QStringLiteral("GET"), QStringLiteral("https://a.example/"),
                {{QStringLiteral("Host"), QStringLiteral("b.example")}});
    QCOMPARE(signer.canonicalHeaders(withHost, QStringLiteral("20250301T090502Z")).first,
             QStringLiteral("host:b.example\nx-amz-date:20250301T090502Z\n"));
    const HTTPRequest noHost = request(QStringLiteral("GET"), QStringLiteral("/relative"));
    QCOMPARE(signer.canonicalHeaders(noHost, QStringLiteral("20250301T090502Z")).second,
             QStringLiteral("x-amz-date"));
}

void TestSigV4Signer::hostAndPort_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("host");
    QTest::newRow("https 443") << QStringLiteral("https://h.example:443/")
                               << QStringLiteral("h.example");
    QTest::newRow("https 8443") << QStringLiteral("https://h.example:8443/")
                                << QStringLiteral("h.example:8443");
    QTest::newRow("http 80") << QStringLiteral("http://h.example:80/")
                             << QStringLiteral("h.example");
    QTest::newRow("http 443") << QStringLiteral("http://h.example:443/")
                              << QStringLiteral("h.example:443");
    QTest::newRow("upper-case host")
        << QStringLiteral("https://H.Example/") << QStringLiteral("h.example");
    QTest::newRow("loopback") << QStringLiteral("http://127.0.0.1:4567/")
                              << QStringLiteral("127.0.0.1:4567");
    QTest::newRow("ipv6 as sent") << QStringLiteral("http://[::1]:4567/")
                                  << QStringLiteral("[::1]:4567");
}

void TestSigV4Signer::hostAndPort() {
    QFETCH(QString, url);
    QFETCH(QString, host);
    const SigV4Signer signer(exampleCredentials(), QStringLiteral("us-east-1"),
                             QStringLiteral("ses"));
    const auto block = signer
                           .canonicalHeaders(request(QStringLiteral("GET"), url),
                                             QStringLiteral("20250301T090502Z"))
                           .first;
    QCOMPARE(block,
             QStringLiteral("host:") + host + QStringLiteral("\nx-amz-date:20250301T090502Z\n"));
}

void TestSigV4Signer::sesRequest() {
    // The shape of every SES call: JSON headers, a body, temporary credentials.
    const SigV4Signer signer(exampleCredentials(QStringLiteral("session-token")),
                             QStringLiteral("us-east-1"), QStringLiteral("ses"));
    const QByteArray body = R"({"EmailIdentity":"example.com"})";
    const HTTPRequest r =
        request(QStringLiteral("post"),
                QStringLiteral("https://email.us-east-1.amazonaws.com/v2/email/identities"),
                {{QStringLiteral("Accept"), QStringLiteral("application/json")},
                 {QStringLiteral("Content-Type"), QStringLiteral("application/json")}},
                body);
    const HTTPRequest signedRequest = signer.sign(r, exampleDate());
    QCOMPARE(signedRequest.method, QStringLiteral("post")); // sent as given
    QCOMPARE(signedRequest.headers.value(QStringLiteral("X-Amz-Security-Token")),
             QStringLiteral("session-token"));
    const QString amzDate = QStringLiteral("20150830T123600Z");
    QCOMPARE(signer.canonicalRequest(signedRequest, amzDate),
             QStringLiteral("POST\n/v2/email/identities\n\n"
                            "accept:application/json\ncontent-type:application/json\n"
                            "host:email.us-east-1.amazonaws.com\nx-amz-date:20150830T123600Z\n"
                            "x-amz-security-token:session-token\n\n"
                            "accept;content-type;host;x-amz-date;x-amz-security-token\n") +
                 SigV4Signer::hexSHA256(body));
    // The value botocore computes for the same request (frozen here so this test needs no
    // Python).
    QCOMPARE(signedRequest.headers.value(QStringLiteral("Authorization")),
             QStringLiteral(
                 "AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/ses/aws4_request, "
                 "SignedHeaders=accept;content-type;host;x-amz-date;x-amz-security-token, "
                 "Signature=596042bc4089b6eb3765172ab75e2d2584dfdbdb04dc3e036a0e826c85be6a49"));
}

void TestSigV4Signer::resigningAndTokens() {
    const SigV4Signer plain(exampleCredentials(QString()), QStringLiteral("us-east-1"),
                            QStringLiteral("ses"));
    const HTTPRequest stale =
        request(QStringLiteral("GET"),
                QStringLiteral("https://email.us-east-1.amazonaws.com/v2/email/account"),
                {{QStringLiteral("authorization"), QStringLiteral("AWS4-HMAC-SHA256 old")},
                 {QStringLiteral("X-AMZ-DATE"), QStringLiteral("20000101T000000Z")},
                 {QStringLiteral("x-amz-security-token"), QStringLiteral("old-token")},
                 {QStringLiteral("Accept"), QStringLiteral("application/json")}});
    const HTTPRequest fresh =
        request(QStringLiteral("GET"),
                QStringLiteral("https://email.us-east-1.amazonaws.com/v2/email/account"),
                {{QStringLiteral("Accept"), QStringLiteral("application/json")}});

    // The old values vanish, whatever their case; an empty token adds no header.
    const HTTPRequest resigned = plain.sign(stale, exampleDate());
    QCOMPARE(resigned, plain.sign(fresh, exampleDate()));
    QCOMPARE(QStringList(resigned.headers.keys()),
             (QStringList{QStringLiteral("Accept"), QStringLiteral("Authorization"),
                          QStringLiteral("X-Amz-Date")}));
    QCOMPARE(stale.headers.value(QStringLiteral("authorization")),
             QStringLiteral("AWS4-HMAC-SHA256 old")); // the input is left alone

    // Signing twice gives the same request: the signer's own headers are replaced too.
    QCOMPARE(plain.sign(resigned, exampleDate()), resigned);

    const SigV4Signer temporary(exampleCredentials(QStringLiteral("tok")),
                                QStringLiteral("us-east-1"), QStringLiteral("ses"));
    const HTTPRequest withToken = temporary.sign(stale, exampleDate());
    QCOMPARE(withToken.headers.value(QStringLiteral("X-Amz-Security-Token")),
             QStringLiteral("tok"));
    QVERIFY(!withToken.headers.contains(QStringLiteral("x-amz-security-token")));
    QVERIFY(withToken.headers.value(QStringLiteral("Authorization"))
                .contains(
                    QStringLiteral("SignedHeaders=accept;host;x-amz-date;x-amz-security-token,")));
    QVERIFY(withToken.headers.value(QStringLiteral("Authorization")) !=
            resigned.headers.value(QStringLiteral("Authorization")));
}

void TestSigV4Signer::contentHash() {
    SigV4Signer signer(exampleCredentials(), QStringLiteral("us-east-1"), QStringLiteral("s3"),
                       true);
    const HTTPRequest put =
        request(QStringLiteral("PUT"), QStringLiteral("https://b.example/key"), {}, "payload");
    const HTTPRequest hashed = signer.sign(put, exampleDate());
    QCOMPARE(hashed.headers.value(QStringLiteral("X-Amz-Content-Sha256")),
             SigV4Signer::hexSHA256("payload"));
    QVERIFY(hashed.headers.value(QStringLiteral("Authorization"))
                .contains(QStringLiteral("SignedHeaders=host;x-amz-content-sha256;x-amz-date,")));

    // A caller's own value (any case) is kept and becomes the payload line.
    HTTPRequest unsigned_ = put;
    unsigned_.headers.insert(QStringLiteral("x-amz-content-sha256"),
                             QStringLiteral("UNSIGNED-PAYLOAD"));
    const HTTPRequest kept = signer.sign(unsigned_, exampleDate());
    QVERIFY(!kept.headers.contains(QStringLiteral("X-Amz-Content-Sha256")));
    QVERIFY(signer.canonicalRequest(kept, QStringLiteral("20150830T123600Z"))
                .endsWith(QStringLiteral("\nUNSIGNED-PAYLOAD")));

    // Off (the SES setting): no header, and the payload line is the body's hash.
    signer.addContentSHA256 = false;
    const HTTPRequest plain = signer.sign(put, exampleDate());
    QVERIFY(!plain.headers.contains(QStringLiteral("X-Amz-Content-Sha256")));
    QVERIFY(signer.canonicalRequest(plain, QStringLiteral("20150830T123600Z"))
                .endsWith(SigV4Signer::hexSHA256("payload")));
}

QTEST_GUILESS_MAIN(TestSigV4Signer)
#include "tst_sigv4_signer.moc"
