// The list leaves as CSV and comes back through the importer unchanged, for a large list full of
// awkward names and every status.
#include "core/iso_date.h"
#include "core/library_file.h"
#include "core/sample_data.h"
#include "import/csv_exporter.h"
#include "import/csv_importer.h"
#include "support/cli_run.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

QList<Subscriber> generated(int count) {
    const char* const names[] = {
        "",        "Ada Lovelace", "Smith, Jane", "Dwayne \"The Rock\" J.", "Zoë Ørsted-Łukasz",
        "两个 字", "multi\nline",  "=SUM(A1:A2)", "trailing \"quote\"",     "emoji 📬"};
    QRandomGenerator rng(17);
    const auto statuses = allCases<SubscriberStatus>();
    QList<Subscriber> out;
    out.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QDateTime created = QDateTime::fromMSecsSinceEpoch(
            1'500'000'000'000 + qint64(rng.bounded(400'000'000)) * 1000 + i % 1000, Qt::UTC);
        out.append({.id = QUuid::createUuid(),
                    .email = QStringLiteral("reader%1@example%2.org").arg(i).arg(i % 97),
                    .name = QString::fromUtf8(names[i % std::size(names)]),
                    .status = statuses[i % statuses.size()],
                    .source = i % 3 ? u"signup-form"_qs : u"import:sub,stack"_qs,
                    .createdAt = created,
                    .updatedAt = created.addSecs(i)});
    }
    return out;
}

// What an import into an empty library must give back.
void expectRoundTrip(const QList<Subscriber>& list) {
    const QByteArray csv = CSVExporter::exportCSV(list);
    const CSVImportResult back = CSVImporter::importCSV(CSVImporter::decodeFile(csv), u"x"_qs);
    QCOMPARE(back.skipped.size(), 0);
    // One line per reader: the list comparison names the first row that differs.
    const auto lines = [](const QList<Subscriber>& readers) {
        QStringList out;
        for (const Subscriber& s : readers) {
            out.append(
                QStringList{s.email, s.name, rawValue(s.status), IsoDate::format(s.createdAt)}.join(
                    u'\t'));
        }
        return out;
    };
    QCOMPARE(lines(back.subscribers), lines(list));
}

} // namespace

class TestCSVExporter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fields() {
        // Plain, a comma, quotes doubled, a line break, empty.
        const std::pair<QString, QString> rows[] = {{u"Ada"_qs, u"Ada"_qs},
                                                    {u"Smith, Jane"_qs, u"\"Smith, Jane\""_qs},
                                                    {u"a \"b\""_qs, u"\"a \"\"b\"\"\""_qs},
                                                    {u"a\r\nb"_qs, u"\"a\r\nb\""_qs},
                                                    {QString(), QString()}};
        for (const auto& [value, written] : rows) {
            QCOMPARE(CSVExporter::field(value), written);
        }
    }

    void largeListRoundTrip() { expectRoundTrip(generated(100'000)); }

    void commandLineExport() {
        QTemporaryDir dir;
        Library library = SampleData::library();
        library.subscribers = generated(50);
        const QString path = dir.filePath(u"library.json"_qs);
        LibraryFile::write(path, library);
        const auto run = [&](const QStringList& extra) {
            const auto cli = test::runCli(QStringList{u"export"_qs, u"--library"_qs, path} + extra);
            return std::pair(cli.code, cli.out);
        };
        QCOMPARE(run({}), std::pair(0, CSVExporter::exportCSV(library.subscribers)));
        QList<Subscriber> bounced = library.subscribers;
        bounced.removeIf([](const Subscriber& s) { return s.status != SubscriberStatus::bounced; });
        QCOMPARE(run({u"--status"_qs, u"Bounced"_qs}),
                 std::pair(0, CSVExporter::exportCSV(bounced)));
        QCOMPARE(run({u"--status"_qs, u"gone"_qs}).first, 2);
    }
};

QTEST_APPLESS_MAIN(TestCSVExporter)
#include "tst_csv_exporter.moc"
