// quillmere-cli sign, run as a user runs it.

#include <QProcess>
#include <QTemporaryFile>
#include <QTest>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

Result runCli(const QStringList& arguments, const QMap<QString, QString>& environment,
              const QByteArray& input = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_SESSION_TOKEN"}) {
        env.remove(QLatin1String(name));
    }
    for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
        env.insert(it.key(), it.value());
    }
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("QUILLMERE_CLI"),
                  QStringList{QStringLiteral("sign")} + arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

const QMap<QString, QString> exampleKeys{
    {QStringLiteral("AWS_ACCESS_KEY_ID"), QStringLiteral("AKIDEXAMPLE")},
    {QStringLiteral("AWS_SECRET_ACCESS_KEY"),
     QStringLiteral("wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY")},
};

const QStringList listUsers{
    QStringLiteral("--method"),
    QStringLiteral("GET"),
    QStringLiteral("--url"),
    QStringLiteral("https://iam.amazonaws.com/?Action=ListUsers&Version=2010-05-08"),
    QStringLiteral("--header"),
    QStringLiteral("content-type:  application/x-www-form-urlencoded; charset=utf-8"),
    QStringLiteral("--date"),
    QStringLiteral("20150830T123600Z"),
    QStringLiteral("--region"),
    QStringLiteral("us-east-1"),
    QStringLiteral("--service"),
    QStringLiteral("iam")};

} // namespace

class TestCliSign : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void signsTheDocumentedExample();
    void bodyAndSessionToken();
    void badArguments_data();
    void badArguments();
};

void TestCliSign::signsTheDocumentedExample() {
    const Result plain = runCli(listUsers, exampleKeys);
    QCOMPARE(plain.exitCode, 0);
    QCOMPARE(plain.out,
             QStringLiteral("Authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/"
                            "us-east-1/iam/aws4_request, SignedHeaders=content-type;host;"
                            "x-amz-date, Signature=5d672d79c15b13162d9279b0855cfba6789a8edb4c82c4"
                            "00e06b5924a6f2b5d7\n"
                            "content-type: application/x-www-form-urlencoded; charset=utf-8\n"
                            "X-Amz-Date: 20150830T123600Z\n"));

    const Result verbose =
        runCli(listUsers + QStringList{QStringLiteral("--verbose")}, exampleKeys);
    QCOMPARE(verbose.exitCode, 0);
    QVERIFY(verbose.out.startsWith(plain.out));
    QVERIFY(verbose.out.endsWith(QStringLiteral(
        "\nCanonical request:\nGET\n/\nAction=ListUsers&Version=2010-05-08\n"
        "content-type:application/x-www-form-urlencoded; charset=utf-8\nhost:iam.amazonaws.com\n"
        "x-amz-date:20150830T123600Z\n\ncontent-type;host;x-amz-date\n"
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n\n"
        "String to sign:\nAWS4-HMAC-SHA256\n20150830T123600Z\n20150830/us-east-1/iam/aws4_request\n"
        "f536975d06c0309214f805bb90ccff089219ecd68b2577efef23edd43b7e1a59\n")));
}

void TestCliSign::bodyAndSessionToken() {
    QTemporaryFile body;
    QVERIFY(body.open());
    body.write(R"({"EmailIdentity":"example.com"})");
    body.close();
    QMap<QString, QString> environment = exampleKeys;
    environment.insert(QStringLiteral("AWS_SESSION_TOKEN"), QStringLiteral("tok"));
    const QStringList arguments{
        QStringLiteral("--method"),
        QStringLiteral("POST"),
        QStringLiteral("--url"),
        QStringLiteral("https://email.us-east-1.amazonaws.com/v2/email/identities"),
        QStringLiteral("--header"),
        QStringLiteral("Accept: application/json"),
        QStringLiteral("--header"),
        QStringLiteral("Content-Type: application/json"),
        QStringLiteral("--date"),
        QStringLiteral("20250301T090502Z"),
        QStringLiteral("--region"),
        QStringLiteral("us-east-1"),
        QStringLiteral("--service"),
        QStringLiteral("ses"),
        QStringLiteral("--verbose")};
    const Result fromFile = runCli(
        arguments + QStringList{QStringLiteral("--body-file"), body.fileName()}, environment);
    QCOMPARE(fromFile.exitCode, 0);
    const QStringList lines = fromFile.out.split(QLatin1Char('\n'));
    QVERIFY(lines[0].startsWith(QStringLiteral("Accept: application/json")));
    QVERIFY(lines[1].startsWith(QStringLiteral(
        "Authorization: AWS4-HMAC-SHA256 "
        "Credential=AKIDEXAMPLE/20250301/us-east-1/ses/aws4_request, "
        "SignedHeaders=accept;content-type;host;x-amz-date;x-amz-security-token, Signature=")));
    QCOMPARE(lines.mid(2, 3), (QStringList{QStringLiteral("Content-Type: application/json"),
                                           QStringLiteral("X-Amz-Date: 20250301T090502Z"),
                                           QStringLiteral("X-Amz-Security-Token: tok")}));
    // The payload line of the canonical request is the hash of the file's bytes.
    QVERIFY(fromFile.out.contains(QStringLiteral("\nd2a8eb8a0a2437936cb8fd10e71120126ac104c5a561539"
                                                 "b7aabe90919b55bb9\n\nString to sign:\n")));

    const Result fromStdin =
        runCli(arguments + QStringList{QStringLiteral("--body-file"), QStringLiteral("-")},
               environment, R"({"EmailIdentity":"example.com"})");
    QCOMPARE(fromStdin.out, fromFile.out);
}

void TestCliSign::badArguments_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("withKeys");
    QTest::addColumn<QString>("message");
    const auto replaced = [](const QString& option, const QString& value) {
        QStringList a = listUsers;
        a[a.indexOf(option) + 1] = value;
        return a;
    };
    QTest::newRow("no keys") << listUsers << false
                             << QStringLiteral("set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY");
    QTest::newRow("bad date") << replaced(QStringLiteral("--date"), QStringLiteral("2015-08-30"))
                              << true << QStringLiteral("--date must be YYYYMMDDTHHMMSSZ");
    QTest::newRow("impossible date")
        << replaced(QStringLiteral("--date"), QStringLiteral("20151330T123600Z")) << true
        << QStringLiteral("--date must be");
    QTest::newRow("relative url") << replaced(QStringLiteral("--url"), QStringLiteral("/v2/email"))
                                  << true << QStringLiteral("--url must be an absolute URL");
    QTest::newRow("header without colon")
        << replaced(QStringLiteral("--header"), QStringLiteral("Accept")) << true
        << QStringLiteral("--header must be \"Name: value\"");
}

void TestCliSign::badArguments() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, withKeys);
    QFETCH(QString, message);
    const Result result = runCli(arguments, withKeys ? exampleKeys : QMap<QString, QString>());
    QCOMPARE(result.exitCode, 2);
    QVERIFY(result.out.isEmpty());
    QVERIFY2(result.err.startsWith(QStringLiteral("quillmere-cli sign: ") + message),
             qPrintable(result.err));
    QCOMPARE(result.err.count(QLatin1Char('\n')), 1); // one line
}

QTEST_GUILESS_MAIN(TestCliSign)
#include "tst_cli_sign.moc"
