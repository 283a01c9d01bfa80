// The signer against botocore's SigV4Auth (Debian's python3-botocore) on a varied corpus, and on
// its own where it deliberately parts from botocore.

#include "ses/sigv4_signer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
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

struct Case {
    HTTPRequest request;   // what our signer gets
    QJsonObject reference; // what botocore gets
    SigV4Signer signer;
    QDateTime date;
};

template <class T, qsizetype N>
const T& pick(QRandomGenerator& random, const T (&choices)[N]) {
    return choices[random.bounded(int(N))];
}

// Writes a query component with its delimiters escaped and everything else sometimes raw,
// sometimes percent-encoded, so the signer meets both spellings.
QString queryComponent(QRandomGenerator& random, const QString& text) {
    QString out;
    for (const QChar c : text) {
        const bool mustEscape = c == u'&' || c == u'=' || c == u'%' || c == u'#';
        if (mustEscape || random.bounded(3) == 0) {
            out += QString::fromLatin1(QString(c).toUtf8().toPercentEncoding());
        } else {
            out += c;
        }
    }
    return out;
}

QList<Case> corpus() {
    QRandomGenerator random(20250301);
    // clang-format off
    // Origins with and without ports; default ports must not be signed.
    const char* origins[] = {"https://email.us-east-1.amazonaws.com", "https://h.example:443",
        "https://h.example:8443", "http://127.0.0.1:4567", "http://h.example:80", "http://localhost"};
    // Paths are written without percent escapes and without empty or dot segments. Both cases
    // legitimately differ from botocore, which percent-encodes the path once more for every
    // service but S3 (so "%20" would be signed as "%2520") and removes dot segments and double
    // slashes; our signer encodes each segment exactly once and keeps the path as written.
    // canonicalForms pins our behaviour for those cases.
    const char* paths[] = {"", "/", "/v2/email/account", "/v2/email/identities/mail-1.example.co.uk",
        "/a b/c d", "/x+y/1+1", "/caf\u00e9/\u65e5\u672c\u8a9e", "/~user/file.name_v2-final.txt",
        "/a:b@c!$'()*,;=", "/trailing/", "/\U0001F600/emoji"};
    const char* methods[] = {"GET", "POST", "put", "DELETE", "PATCH", "HEAD"};
    const char* names[] = {"Action", "b", "a", "a", "Key With Space", "k+plus", "\u00fcber", "z", "A"};
    const char* values[] = {"", "1", "two words", "x+y", "a=b", "caf\u00e9", "%literal", "~tilde",
        "&amp;", "10"};
    // Header values use spaces and tabs only: botocore collapses every kind of white space,
    // the algorithm only those two.
    const std::pair<const char*, const char*> headers[] = {{"Accept", "application/json"},
        {"Content-Type", "application/json; charset=utf-8"}, {"X-Custom-Spaces", "  a   b\t\tc  "},
        {"x-lower", "v"}, {"X-Amz-Target", "SimpleEmailService_v2.GetAccount"},
        {"My-Header", "\tleading tab and trailing \t"}, {"X-Empty", ""},
        {"X-Unicode", "caf\u00e9 \u2603"}, {"Authorization", "AWS4-HMAC-SHA256 stale"},
        {"X-Amz-Date", "20000101T000000Z"}, {"Host", "override.example"}};
    const QByteArray bodies[] = {QByteArray(), QByteArray(R"({"EmailIdentity":"example.com"})"),
        QByteArray("unicode \u00e9\u2603 text\n"), QByteArray("\x00\x01\xff\xfe binary", 12)};
    const char* regions[] = {"us-east-1", "eu-west-2", "ap-southeast-1"};
    const char* services[] = {"ses", "iam", "execute-api"};
    const char* secrets[] = {"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY", "plain-secret", "s3cr\u00e9t/+="};
    // clang-format on

    QList<Case> cases;
    for (int n = 0; n < 400; ++n) {
        const QString origin = pick(random, origins);
        const QString path = pick(random, paths);

        QJsonArray pairs;
        QStringList queryParts;
        const int pairCount = random.bounded(5);
        for (int i = 0; i < pairCount; ++i) {
            const QString name = pick(random, names);
            const QString value = pick(random, values);
            pairs.append(QJsonArray{name, value});
            const bool bare = value.isEmpty() && random.bounded(2) == 0;
            queryParts.append(
                queryComponent(random, name) +
                (bare ? QString() : QLatin1Char('=') + queryComponent(random, value)));
        }
        QString url = origin + path;
        if (!queryParts.isEmpty() || random.bounded(8) == 0) {
            url += QLatin1Char('?') + queryParts.join(QLatin1Char('&'));
        }

        const QString secret = pick(random, secrets);
        const int token = random.bounded(3); // none, one, or an empty one that adds no header
        const std::optional<QString> tokens[] = {
            std::nullopt, u"FwoGZXIvYXdzEJr//////////wEaDH+token="_s, QString()};
        const AWSCredentials credentials{u"AKID"_s + QString::number(n), secret, tokens[token]};

        QMap<QString, QString> headerMap;
        QJsonObject headerObject;
        const int headerCount = random.bounded(5);
        for (int i = 0; i < headerCount; ++i) {
            const auto& [name, value] = pick(random, headers);
            headerMap.insert(QString::fromUtf8(name), QString::fromUtf8(value));
            headerObject.insert(QString::fromUtf8(name), QString::fromUtf8(value));
        }
        // A stale token is removed by our signer always, by botocore only when it has a token
        // of its own; only the second situation is compared.
        if (token == 1 && random.bounded(3) == 0) {
            headerMap.insert(u"X-Amz-Security-Token"_s, u"stale"_s);
            headerObject.insert(u"X-Amz-Security-Token"_s, u"stale"_s);
        }

        const QByteArray body = pick(random, bodies);
        const QDateTime date =
            QDateTime::fromSecsSinceEpoch(946684800 + qint64(random.bounded(1000000000)), Qt::UTC);

        const QString method = pick(random, methods);
        const SigV4Signer caseSigner(credentials, pick(random, regions), pick(random, services));
        cases.append(
            {.request = {method, QUrl(url), headerMap, body},
             .reference = {{u"method"_s, method},
                           {u"url"_s, origin + path},
                           {u"query"_s, pairs},
                           {u"headers"_s, headerObject},
                           {u"body"_s, QString::fromLatin1(body.toBase64())},
                           {u"accessKeyID"_s, credentials.accessKeyID},
                           {u"secretAccessKey"_s, credentials.secretAccessKey},
                           {u"sessionToken"_s, credentials.sessionToken.value_or(QString())},
                           {u"region"_s, caseSigner.region},
                           {u"service"_s, caseSigner.service},
                           {u"amzDate"_s, SigV4Signer::amzDate(date)}},
             .signer = caseSigner,
             .date = date});
    }
    return cases;
}

} // namespace

class TestSigV4Signer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matchesBotocore();
    void canonicalForms();
    void canonicalHeaders();
    void resigningAndTokens();
    void contentHash();
};

void TestSigV4Signer::matchesBotocore() {
    const QList<Case> cases = corpus();
    QJsonArray input;
    for (const Case& c : cases) {
        input.append(c.reference);
    }

    // Debian's interpreter: the python3 on PATH may be a separate build without botocore.
    QProcess python;
    python.start(u"/usr/bin/python3"_s,
                 {QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/support/botocore_sigv4.py")});
    QVERIFY2(python.waitForStarted(), "cannot start /usr/bin/python3 (run scripts/install-deps)");
    python.write(QJsonDocument(input).toJson(QJsonDocument::Compact));
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished(60000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QJsonArray expected = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    QCOMPARE(expected.size(), cases.size());

    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const HTTPRequest signedRequest = c.signer.sign(c.request, c.date);
        const QString ours = signedRequest.headers.value(u"Authorization"_s);
        QVERIFY2(ours == expected[i].toString(),
                 qPrintable(u"case %1: %2\nbotocore: %3\ncanonical request:\n%4"_s.arg(i).arg(
                     ours, expected[i].toString(),
                     c.signer.canonicalRequest(signedRequest, SigV4Signer::amzDate(c.date)))));
    }
}

void TestSigV4Signer::canonicalForms() {
    // Only what the botocore corpus cannot check: botocore encodes paths twice, drops empty
    // segments and never meets IPv6 or odd ports. Each row: URL, path, query, host.
    // clang-format off
    const char* const rows[][4] = {
        {"https://h.example/a%20b/c", "/a%20b/c", "", "h.example"}, // decoded and encoded once
        {"https://h.example/a%2Fb", "/a%2Fb", "", "h.example"},     // an encoded slash stays in its segment
        {"https://h.example//a//b/", "//a//b/", "", "h.example"},   // empty segments kept
        {"https://h.example/%FF", "/%25FF", "", "h.example"},       // not UTF-8: kept as written
        // The query is sorted after encoding and split at the first "=".
        {"https://h.example/?a%20b=1&a=2&k=a=b&&a-b=3", "/", "a=2&a%20b=1&a-b=3&k=a%3Db", "h.example"},
        {"https://H.Example/", "/", "", "h.example"},
        {"http://h.example:443/", "/", "", "h.example:443"}, // http on 443 keeps its port
        {"http://[::1]:4567/", "/", "", "[::1]:4567"},
    };
    // clang-format on
    for (const auto& [text, path, query, host] : rows) {
        const QUrl url(QString::fromUtf8(text));
        QCOMPARE(SigV4Signer::canonicalURI(url), QString::fromUtf8(path));
        QCOMPARE(SigV4Signer::canonicalQuery(url), QString::fromUtf8(query));
        QCOMPARE(signer(u"ses"_s)
                     .canonicalHeaders(get(url.toString(QUrl::FullyEncoded)), exampleAmzDate)
                     .first,
                 u"host:%1\nx-amz-date:%2\n"_s.arg(QString::fromUtf8(host), exampleAmzDate));
    }
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
    // The date is always written in UTC, whatever zone it arrives in.
    QCOMPARE(SigV4Signer::amzDate(QDateTime(QDate(2025, 3, 1), QTime(10, 5, 2), QTimeZone(3600))),
             u"20250301T090502Z"_s);
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

    const HTTPRequest withToken = signer(u"ses"_s, u"tok"_s).sign(stale, exampleDate);
    QCOMPARE(withToken.headers.value(u"X-Amz-Security-Token"_s), u"tok"_s);
}

void TestSigV4Signer::contentHash() {
    SigV4Signer s3 = signer(u"s3"_s);
    s3.addContentSHA256 = true;
    const HTTPRequest put{u"PUT"_s, QUrl(u"https://b.example/key"_s), {}, "payload"};
    const HTTPRequest hashed = s3.sign(put, exampleDate);
    QCOMPARE(hashed.headers.value(u"X-Amz-Content-Sha256"_s),
             u"239f59ed55e737c77147cf55ad0c1b030b6d7ee748a7426952f9b852d5a935e5"_s);
    QVERIFY(hashed.headers.value(u"Authorization"_s)
                .contains(u"SignedHeaders=host;x-amz-content-sha256;x-amz-date,"_s));

    // A caller's own value (any case) is kept and becomes the payload line.
    HTTPRequest unsignedPayload = put;
    unsignedPayload.headers.insert(u"x-amz-content-sha256"_s, u"UNSIGNED-PAYLOAD"_s);
    const HTTPRequest kept = s3.sign(unsignedPayload, exampleDate);
    QVERIFY(!kept.headers.contains(u"X-Amz-Content-Sha256"_s));
    QVERIFY(s3.canonicalRequest(kept, exampleAmzDate).endsWith(u"\nUNSIGNED-PAYLOAD"_s));
}

QTEST_GUILESS_MAIN(TestSigV4Signer)
#include "tst_sigv4_signer.moc"
