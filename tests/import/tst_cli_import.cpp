#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

const QString dataDir = QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/data/csv/");

// JSON written with single quotes, to keep the expectations readable.
QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    QJsonObject subscriber(qsizetype i) const {
        return json()[QLatin1String("subscribers")].toArray().at(i).toObject();
    }
};

Outcome runCli(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(QStringLiteral(QUILLMERE_CLI), QStringList{QStringLiteral("import")} + arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        qFatal("quillmere-cli did not finish");
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class TestCliImport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void printsResult();
    void sourceDefaultsToFileNameAndReadsStandardInput();
    void refusesBadInput();
};

void TestCliImport::printsResult() {
    const Outcome outcome = runCli({dataDir + "substack.csv", QStringLiteral("--source=import")});
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(outcome.err.isEmpty());
    QJsonObject result = outcome.json();
    QCOMPARE(result.take(QLatin1String("subscribers")).toArray().size(), 5);
    QCOMPARE(result, json("{'assumedActive': 0, 'confirmedElsewhere': 3, 'duplicates': 1, "
                          "'format': 'substack', 'skipped': [{'line': 8, 'reason': 'Invalid "
                          "email: not-an-address'}, {'line': 9, 'reason': 'Missing email'}]}"));
    QCOMPARE(outcome.subscriber(4),
             json("{'email': 'mina.park@example.co.uk', 'name': 'Mina 🌿 Park', 'status': "
                  "'unsubscribed', 'source': 'import:substack', 'createdAt': "
                  "'2023-12-01T10:30:00.000Z'}"));
}

void TestCliImport::sourceDefaultsToFileNameAndReadsStandardInput() {
    const Outcome file = runCli({dataDir + "generic_latin1.csv"});
    QCOMPARE(file.subscriber(0)[QLatin1String("source")].toString(), "generic_latin1");

    // The name needs every kind of JSON escape.
    const Outcome piped = runCli({QStringLiteral("-")}, "email,name\nAnn@Example.com,\"A \"\"B\"\" "
                                                        "\\ \x01\tC\n\xC3\xA9\"\n"
                                                        "bo@example.com,\"Bo\ncy@example.com,Cy\n");
    const QJsonObject skipped =
        json("{'skipped': [{'line': 4, 'reason': 'Quote opened on line 4 is never closed'}]}");
    QCOMPARE(piped.json()[QLatin1String("skipped")], skipped[QLatin1String("skipped")]);
    QCOMPARE(piped.subscriber(1)[QLatin1String("email")].toString(), "cy@example.com");
    QJsonObject ann = piped.subscriber(0);
    QVERIFY(ann.take(QLatin1String("createdAt")).isString());
    QCOMPARE(ann.take(QLatin1String("name")).toString(), QStringLiteral("A \"B\" \\ \x01\tC\né"));
    QCOMPARE(ann, json("{'email': 'ann@example.com', 'status': 'active', 'source': "
                       "'import:generic'}"));
}

void TestCliImport::refusesBadInput() {
    const QString beehiiv = dataDir + "beehiiv.csv";
    for (const QStringList& arguments :
         {QStringList{dataDir + "no-such-file.csv"}, QStringList{}, QStringList{dataDir},
          QStringList{"a.csv", "b.csv"}, QStringList{beehiiv, "--format"},
          QStringList{beehiiv, "--source"}}) {
        const Outcome outcome = runCli(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.out.isEmpty());
        QVERIFY2(outcome.err.startsWith("quillmere-cli import: "), outcome.err.constData());
    }
}

QTEST_GUILESS_MAIN(TestCliImport)
#include "tst_cli_import.moc"
