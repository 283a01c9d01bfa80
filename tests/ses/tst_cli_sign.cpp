// quillmere-cli sign, run as a user runs it.

#include "support/cli_run.h"

#include <QTemporaryFile>
#include <QTest>

using namespace Qt::StringLiterals;
using quillmere::test::CliRun;

namespace {

CliRun runCli(const QStringList& arguments, const QMap<QString, QString>& environment,
              const QByteArray& input = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN"}) {
        env.remove(QLatin1String(name));
    }
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        env.insert(it.key(), it.value());
    }
    return quillmere::test::runCli(QStringList{u"sign"_s} + arguments, input, env);
}

const QMap<QString, QString> exampleKeys{
    {u"AWS_ACCESS_KEY_ID"_s, u"AKIDEXAMPLE"_s},
    {u"AWS_SECRET_ACCESS_KEY"_s, u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s},
};

const QStringList listUsers{
    u"--method"_s,  u"GET"_s,
    u"--url"_s,     u"https://iam.amazonaws.com/?Action=ListUsers&Version=2010-05-08"_s,
    u"--header"_s,  u"content-type:  application/x-www-form-urlencoded; charset=utf-8"_s,
    u"--date"_s,    u"20150830T123600Z"_s,
    u"--region"_s,  u"us-east-1"_s,
    u"--service"_s, u"iam"_s};

} // namespace

class TestCliSign : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void signsTheDocumentedExample();
    void bodyAndSessionToken();
    void badArguments();
};

void TestCliSign::signsTheDocumentedExample() {
    const CliRun plain = runCli(listUsers, exampleKeys);
    QCOMPARE(plain.code, 0);
    QCOMPARE(plain.out, "Authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/"
                        "us-east-1/iam/aws4_request, SignedHeaders=content-type;host;"
                        "x-amz-date, Signature=5d672d79c15b13162d9279b0855cfba6789a8edb4c82c4"
                        "00e06b5924a6f2b5d7\n"
                        "content-type: application/x-www-form-urlencoded; charset=utf-8\n"
                        "X-Amz-Date: 20150830T123600Z\n"_ba);

    const CliRun verbose = runCli(listUsers + QStringList{u"--verbose"_s}, exampleKeys);
    QCOMPARE(verbose.code, 0);
    QVERIFY(verbose.out.startsWith(plain.out));
    QVERIFY(verbose.out.endsWith(
        "\nCanonical request:\nGET\n/\nAction=ListUsers&Version=2010-05-08\n"
        "content-type:application/x-www-form-urlencoded; charset=utf-8\nhost:iam.amazonaws.com\n"
        "x-amz-date:20150830T123600Z\n\ncontent-type;host;x-amz-date\n"
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n\n"
        "String to sign:\nAWS4-HMAC-SHA256\n20150830T123600Z\n20150830/us-east-1/iam/aws4_request\n"
        "f536975d06c0309214f805bb90ccff089219ecd68b2577efef23edd43b7e1a59\n"));
}

void TestCliSign::bodyAndSessionToken() {
    QTemporaryFile body;
    QVERIFY(body.open());
    body.write(R"({"EmailIdentity":"example.com"})");
    body.close();
    QMap<QString, QString> environment = exampleKeys;
    environment.insert(u"AWS_SESSION_TOKEN"_s, u"tok"_s);
    const QStringList arguments = listUsers + QStringList{u"--verbose"_s};
    const CliRun fromFile =
        runCli(arguments + QStringList{u"--body-file"_s, body.fileName()}, environment);
    QCOMPARE(fromFile.code, 0);
    QVERIFY(fromFile.out.contains("\nX-Amz-Security-Token: tok\n"));
    QVERIFY(fromFile.out.contains("x-amz-security-token:tok\n"));
    // The payload line of the canonical request is the hash of the file's bytes.
    QVERIFY(fromFile.out.contains("\nd2a8eb8a0a2437936cb8fd10e71120126ac104c5a561539"
                                  "b7aabe90919b55bb9\n\nString to sign:\n"));

    const CliRun fromStdin = runCli(arguments + QStringList{u"--body-file"_s, u"-"_s}, environment,
                                    R"({"EmailIdentity":"example.com"})");
    QCOMPARE(fromStdin.out, fromFile.out);
}

void TestCliSign::badArguments() {
    // clang-format off
    const char* const rows[][3] = { // option replaced ("" for none), its value, the message
        {"", "", "set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY"},
        {"--date", "2015-08-30", "--date must be YYYYMMDDTHHMMSSZ"},
        {"--date", "20151330T123600Z", "--date must be"},
        {"--url", "/v2/email", "--url must be an absolute URL"},
        {"--header", "Accept", "--header must be \"Name: value\""},
    };
    // clang-format on
    for (const auto& [option, value, message] : rows) {
        QStringList a = listUsers;
        if (*option) {
            a[a.indexOf(QString::fromUtf8(option)) + 1] = QString::fromUtf8(value);
        }
        const CliRun result = runCli(a, *option ? exampleKeys : QMap<QString, QString>());
        QCOMPARE(result.code, 2);
        QVERIFY(result.out.isEmpty());
        QVERIFY2(result.err.startsWith("quillmere-cli sign: "_ba + message),
                 result.err.constData());
        QCOMPARE(result.err.count('\n'), 1); // one line
    }
}

QTEST_GUILESS_MAIN(TestCliSign)
#include "tst_cli_sign.moc"
