#include "support/cli_run.h"

#include <QJsonArray>
#include <QTest>

using quillmere::test::CliRun;
using quillmere::test::runCli;

namespace {

const QString dataDir = QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/data/csv/");

// JSON written with single quotes, to keep the expectations readable.
QJsonObject json(const char* text) {
    return QJsonDocument::fromJson(QByteArray(text).replace('\'', '"')).object();
}

QJsonObject subscriber(const CliRun& run, qsizetype i) {
    return run.json()[QLatin1String("subscribers")].toArray().at(i).toObject();
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
    const CliRun outcome = runCli({"import", dataDir + "substack.csv", "--source=import"});
    QCOMPARE(outcome.code, 0);
    QVERIFY(outcome.err.isEmpty());
    QJsonObject result = outcome.json();
    QCOMPARE(result.take(QLatin1String("subscribers")).toArray().size(), 5);
    QCOMPARE(result, json("{'assumedActive': 0, 'confirmedElsewhere': 3, 'duplicates': 1, "
                          "'format': 'substack', 'skipped': [{'line': 8, 'reason': 'Invalid "
                          "email: not-an-address'}, {'line': 9, 'reason': 'Missing email'}]}"));
    QCOMPARE(subscriber(outcome, 4),
             json("{'email': 'mina.park@example.co.uk', 'name': 'Mina 🌿 Park', 'status': "
                  "'unsubscribed', 'source': 'import:substack', 'createdAt': "
                  "'2023-12-01T10:30:00.000Z'}"));
}

void TestCliImport::sourceDefaultsToFileNameAndReadsStandardInput() {
    const CliRun file = runCli({"import", dataDir + "generic_latin1.csv"});
    QCOMPARE(subscriber(file, 0)[QLatin1String("source")].toString(), "generic_latin1");

    // The name needs every kind of JSON escape.
    const CliRun piped = runCli({"import", "-"}, "email,name\nAnn@Example.com,\"A \"\"B\"\" "
                                                 "\\ \x01\tC\n\xC3\xA9\"\n"
                                                 "bo@example.com,\"Bo\ncy@example.com,Cy\n");
    const QJsonObject skipped =
        json("{'skipped': [{'line': 4, 'reason': 'Quote opened on line 4 is never closed'}]}");
    QCOMPARE(piped.json()[QLatin1String("skipped")], skipped[QLatin1String("skipped")]);
    QCOMPARE(subscriber(piped, 1)[QLatin1String("email")].toString(), "cy@example.com");
    QJsonObject ann = subscriber(piped, 0);
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
        const CliRun outcome = runCli(QStringList{"import"} + arguments);
        QCOMPARE(outcome.code, 2);
        QVERIFY(outcome.out.isEmpty());
        QVERIFY2(outcome.err.startsWith("quillmere-cli import: "), outcome.err.constData());
    }
}

QTEST_GUILESS_MAIN(TestCliImport)
#include "tst_cli_import.moc"
