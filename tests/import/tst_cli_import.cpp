#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

namespace {

const QString dataDir = QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/data/csv/");

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
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

QJsonObject parse(const QByteArray& json) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qFatal("not a JSON object: %s", json.constData());
    }
    return document.object();
}

} // namespace

class TestCliImport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void printsResult();
    void sourceDefaultsToFileName();
    void readsStandardInput();
    void refusesBadInput();
};

void TestCliImport::printsResult() {
    const Outcome outcome =
        runCli({dataDir + QStringLiteral("substack.csv"), QStringLiteral("--source=import")});
    QCOMPARE(outcome.exitCode, 0);
    QVERIFY(outcome.err.isEmpty());
    const QJsonObject result = parse(outcome.out);
    QCOMPARE(result.keys(), (QStringList{"assumedActive", "confirmedElsewhere", "duplicates",
                                         "format", "skipped", "subscribers"}));
    QCOMPARE(result[QLatin1String("format")].toString(), QStringLiteral("substack"));
    QCOMPARE(result[QLatin1String("duplicates")].toInteger(), 1);
    QCOMPARE(result[QLatin1String("confirmedElsewhere")].toInteger(), 3);
    QCOMPARE(result[QLatin1String("assumedActive")].toInteger(), 0);

    const QJsonArray subscribers = result[QLatin1String("subscribers")].toArray();
    QCOMPARE(subscribers.size(), 5);
    const QJsonObject mina = subscribers[4].toObject();
    QCOMPARE(mina, (QJsonObject{{"email", "mina.park@example.co.uk"},
                                {"name", "Mina 🌿 Park"},
                                {"status", "unsubscribed"},
                                {"source", "import:substack"},
                                {"createdAt", "2023-12-01T10:30:00.000Z"}}));

    const QJsonArray skipped = result[QLatin1String("skipped")].toArray();
    QCOMPARE(skipped.size(), 2);
    QCOMPARE(skipped[0].toObject(),
             (QJsonObject{{"line", 8}, {"reason", "Invalid email: not-an-address"}}));
}

void TestCliImport::sourceDefaultsToFileName() {
    const Outcome outcome = runCli({dataDir + QStringLiteral("generic_latin1.csv")});
    QCOMPARE(outcome.exitCode, 0);
    const QJsonObject first =
        parse(outcome.out)[QLatin1String("subscribers")].toArray().first().toObject();
    QCOMPARE(first[QLatin1String("source")].toString(), QStringLiteral("generic_latin1"));
    QCOMPARE(first[QLatin1String("name")].toString(), QStringLiteral("Zoë Lefèvre"));
}

void TestCliImport::readsStandardInput() {
    // The name needs every kind of JSON escape.
    const Outcome outcome =
        runCli({QStringLiteral("-")},
               "email,name\nAnn@Example.com,\"A \"\"B\"\" \\ \x01\tC\n\xC3\xA9\"\n");
    QCOMPARE(outcome.exitCode, 0);
    const QJsonObject result = parse(outcome.out);
    const QJsonObject ann = result[QLatin1String("subscribers")].toArray().first().toObject();
    QCOMPARE(ann[QLatin1String("email")].toString(), QStringLiteral("ann@example.com"));
    QCOMPARE(ann[QLatin1String("name")].toString(), QStringLiteral("A \"B\" \\ \x01\tC\né"));
    QCOMPARE(ann[QLatin1String("source")].toString(), QStringLiteral("import:generic"));
    QCOMPARE(result[QLatin1String("assumedActive")].toInteger(), 1);
}

void TestCliImport::refusesBadInput() {
    const QStringList missing{dataDir + QStringLiteral("no-such-file.csv")};
    for (const QStringList& arguments :
         {missing, QStringList{}, QStringList{dataDir}, QStringList{"a.csv", "b.csv"},
          QStringList{dataDir + QStringLiteral("beehiiv.csv"), QStringLiteral("--format")},
          QStringList{dataDir + QStringLiteral("beehiiv.csv"), QStringLiteral("--source")}}) {
        const Outcome outcome = runCli(arguments);
        QCOMPARE(outcome.exitCode, 2);
        QVERIFY(outcome.out.isEmpty());
        QVERIFY(outcome.err.startsWith("quillmere-cli import: "));
    }
}

QTEST_GUILESS_MAIN(TestCliImport)
#include "tst_cli_import.moc"
