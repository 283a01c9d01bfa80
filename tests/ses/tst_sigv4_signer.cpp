// The signer on AWS's published examples and on the forms where it deliberately parts from
// botocore (tst_sigv4_reference compares everything else with botocore itself).

#include "ses/sigv4_signer.h"

#include <QTest>
#include <QTimeZone>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

// The example keys of AWS's own Signature Version 4 documentation and test suite.
SigV4Signer signer(const QString& service, std::optional<QString> token = std::nullopt) {
    return SigV4Signer(
        {u"AKIDEXAMPLE"_s, u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s, std::move(token)},
        u"us-east-1"_s, service);
}

const QDateTime exampleDate(QDate(2015, 8, 30), QTime(12, 36, 0), Qt::UTC);
const QString exampleAmzDate = u"20150830T123600Z"_s;

HTTPRequest get(const QString& url, QMap<QString, QString> headers = {}) {
    return {u"GET"_s, QUrl(url), std::move(headers), {}};
}

} // namespace

class TestSigV4Signer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void publishedExamples();
    void canonicalForms_data();
    void canonicalForms();
    void canonicalHeaders();
    void resigningAndTokens();
    void contentHash();
};

void TestSigV4Signer::publishedExamples() {
    // AWS's test suite "get-vanilla" and the IAM ListUsers walk-through of its documentation.
    const HTTPRequest vanilla =
        signer(u"service"_s).sign(get(u"https://example.amazonaws.com/"_s), exampleDate);
    QCOMPARE(vanilla.headers.value(u"Authorization"_s),
             u"AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/service/"
             "aws4_request, SignedHeaders=host;x-amz-date, Signature="
             "5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"_s);
    QCOMPARE(vanilla.headers.value(u"X-Amz-Date"_s), exampleAmzDate);

    const SigV4Signer iam = signer(u"iam"_s);
    const HTTPRequest listUsers =
        get(u"https://iam.amazonaws.com/?Action=ListUsers&Version=2010-05-08"_s,
            {{u"Content-Type"_s, u"application/x-www-form-urlencoded; charset=utf-8"_s}});
    QCOMPARE(iam.canonicalRequest(listUsers, exampleAmzDate),
             u"GET\n/\nAction=ListUsers&Version=2010-05-08\n"
             "content-type:application/x-www-form-urlencoded; charset=utf-8\n"
             "host:iam.amazonaws.com\nx-amz-date:20150830T123600Z\n\n"
             "content-type;host;x-amz-date\n"
             "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s);
    QCOMPARE(iam.authorizationHeader(listUsers, exampleAmzDate),
             u"AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/iam/"
             "aws4_request, SignedHeaders=content-type;host;x-amz-date, Signature="
             "5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"_s);
    QCOMPARE(iam.signingKey(u"20120215"_s).toHex(),
             QByteArray("f4780e2d9f65fa895f9c67b32ce1baf0b0d8a43505a000a1a9e090d414db404d"));

    // The date is always written in UTC, whatever zone it arrives in.
    QCOMPARE(SigV4Signer::amzDate(QDateTime(QDate(2025, 3, 1), QTime(10, 5, 2), QTimeZone(3600))),
             u"20250301T090502Z"_s);
}

void TestSigV4Signer::canonicalForms_data() {
    // Only what the botocore corpus cannot check: botocore encodes paths twice, drops empty
    // segments and never meets IPv6 or odd ports.
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("host");
    QTest::newRow("%20 decoded and encoded once") << "https://h.example/a%20b/c"
                                                  << "/a%20b/c" << QString() << "h.example";
    QTest::newRow("encoded slash stays in its segment") << "https://h.example/a%2Fb"
                                                        << "/a%2Fb" << QString() << "h.example";
    QTest::newRow("empty segments kept") << "https://h.example//a//b/"
                                         << "//a//b/" << QString() << "h.example";
    QTest::newRow("not UTF-8 kept as written") << "https://h.example/%FF"
                                               << "/%25FF" << QString() << "h.example";
    QTest::newRow("query sorted after encoding, split at the first =")
        << "https://h.example/?a%20b=1&a=2&k=a=b&&a-b=3"
        << "/"
        << "a=2&a%20b=1&a-b=3&k=a%3Db"
        << "h.example";
    QTest::newRow("upper-case host") << "https://H.Example/"
                                     << "/" << QString() << "h.example";
    QTest::newRow("http on 443 keeps its port") << "http://h.example:443/"
                                                << "/" << QString() << "h.example:443";
    QTest::newRow("ipv6 as sent") << "http://[::1]:4567/"
                                  << "/" << QString() << "[::1]:4567";
}

void TestSigV4Signer::canonicalForms() {
    QFETCH(QString, url);
    QFETCH(QString, path);
    QFETCH(QString, query);
    QFETCH(QString, host);
    QCOMPARE(SigV4Signer::canonicalURI(QUrl(url)), path);
    QCOMPARE(SigV4Signer::canonicalQuery(QUrl(url)), query);
    QCOMPARE(signer(u"ses"_s).canonicalHeaders(get(url), exampleAmzDate).first,
             u"host:%1\nx-amz-date:%2\n"_s.arg(host, exampleAmzDate));
}

void TestSigV4Signer::canonicalHeaders() {
    // A date already on the request wins over the one handed in; only spaces and tabs collapse,
    // so a line break inside a value stays.
    const auto [block, signedHeaders] = signer(u"ses"_s).canonicalHeaders(
        get(u"https://email.eu-west-1.amazonaws.com/"_s, {{u"X-Spaced"_s, u" \t a  \t b   c \t"_s},
                                                          {u"Authorization"_s, u"ignored"_s},
                                                          {u"x-amz-date"_s, u"20990101T000000Z"_s},
                                                          {u"Line"_s, u"keep\nnewline"_s}}),
        exampleAmzDate);
    QCOMPARE(block, u"host:email.eu-west-1.amazonaws.com\nline:keep\nnewline\n"
                    "x-amz-date:20990101T000000Z\nx-spaced:a b c\n"_s);
    QCOMPARE(signedHeaders, u"host;line;x-amz-date;x-spaced"_s);
    // Without a host nothing is made up.
    QCOMPARE(signer(u"ses"_s).canonicalHeaders(get(u"/relative"_s), exampleAmzDate).second,
             u"x-amz-date"_s);
}

void TestSigV4Signer::resigningAndTokens() {
    const QString url = u"https://email.us-east-1.amazonaws.com/v2/email/account"_s;
    const HTTPRequest stale = get(url, {{u"authorization"_s, u"AWS4-HMAC-SHA256 old"_s},
                                        {u"X-AMZ-DATE"_s, u"20000101T000000Z"_s},
                                        {u"x-amz-security-token"_s, u"old-token"_s},
                                        {u"Accept"_s, u"application/json"_s}});
    const HTTPRequest fresh = get(url, {{u"Accept"_s, u"application/json"_s}});

    // The old values vanish whatever their case, an empty token adds no header, and signing
    // twice gives the same request.
    const SigV4Signer plain = signer(u"ses"_s, QString());
    const HTTPRequest resigned = plain.sign(stale, exampleDate);
    QCOMPARE(resigned, plain.sign(fresh, exampleDate));
    QCOMPARE(QStringList(resigned.headers.keys()),
             (QStringList{u"Accept"_s, u"Authorization"_s, u"X-Amz-Date"_s}));
    QCOMPARE(plain.sign(resigned, exampleDate), resigned);
    QCOMPARE(stale.headers.value(u"authorization"_s), u"AWS4-HMAC-SHA256 old"_s);

    const HTTPRequest withToken = signer(u"ses"_s, u"tok"_s).sign(stale, exampleDate);
    QCOMPARE(withToken.headers.value(u"X-Amz-Security-Token"_s), u"tok"_s);
    QVERIFY(!withToken.headers.contains(u"x-amz-security-token"_s));
}

void TestSigV4Signer::contentHash() {
    SigV4Signer s3 = signer(u"s3"_s);
    s3.addContentSHA256 = true;
    const HTTPRequest put{u"PUT"_s, QUrl(u"https://b.example/key"_s), {}, "payload"};
    const QString payloadHash =
        u"239f59ed55e737c77147cf55ad0c1b030b6d7ee748a7426952f9b852d5a935e5"_s;
    const HTTPRequest hashed = s3.sign(put, exampleDate);
    QCOMPARE(hashed.headers.value(u"X-Amz-Content-Sha256"_s), payloadHash);
    QVERIFY(hashed.headers.value(u"Authorization"_s)
                .contains(u"SignedHeaders=host;x-amz-content-sha256;x-amz-date,"_s));

    // A caller's own value (any case) is kept and becomes the payload line.
    HTTPRequest unsignedPayload = put;
    unsignedPayload.headers.insert(u"x-amz-content-sha256"_s, u"UNSIGNED-PAYLOAD"_s);
    const HTTPRequest kept = s3.sign(unsignedPayload, exampleDate);
    QVERIFY(!kept.headers.contains(u"X-Amz-Content-Sha256"_s));
    QVERIFY(s3.canonicalRequest(kept, exampleAmzDate).endsWith(u"\nUNSIGNED-PAYLOAD"_s));

    // Off (the SES setting): no header, and the payload line is the body's hash.
    s3.addContentSHA256 = false;
    const HTTPRequest plain = s3.sign(put, exampleDate);
    QVERIFY(!plain.headers.contains(u"X-Amz-Content-Sha256"_s));
    QVERIFY(s3.canonicalRequest(plain, exampleAmzDate).endsWith(payloadHash));
}

QTEST_GUILESS_MAIN(TestSigV4Signer)
#include "tst_sigv4_signer.moc"
