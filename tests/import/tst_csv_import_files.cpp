// Realistic exports of each service, as their export screens write them.
#include "core/iso_date.h"
#include "import/csv_importer.h"

#include <QFile>
#include <QTest>

using namespace quillmere;

namespace {

const QDateTime now(QDate(2025, 3, 14), QTime(9, 26, 53, 589), Qt::UTC);

QByteArray readData(const QString& name) {
    QFile file(QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/data/csv/") + name);
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("cannot read %s", qPrintable(file.fileName()));
    }
    return file.readAll();
}

CSVImportResult importFile(const QString& name) {
    return CSVImporter::importCSV(CSVImporter::decodeFile(readData(name)), QStringLiteral("import"),
                                  now);
}

// email | name | status | createdAt ("now" for the import time) of every subscriber.
QStringList summary(const CSVImportResult& result) {
    QStringList out;
    for (const Subscriber& s : result.subscribers) {
        const QString created =
            s.createdAt == now ? QStringLiteral("now") : IsoDate::formatSeconds(s.createdAt);
        out.append(
            QStringList{s.email, s.name, rawValue(s.status), created}.join(QLatin1String(" | ")));
        if (s.source != QLatin1String("import:") + rawValue(result.format) || s.updatedAt != now) {
            out.append(QStringLiteral("wrong source or updatedAt: ") + s.source);
        }
    }
    return out;
}

struct Counters {
    qsizetype duplicates, confirmedElsewhere, assumedActive;
    bool operator==(const Counters&) const = default;
};

Counters counters(const CSVImportResult& r) {
    return {r.duplicates, r.confirmedElsewhere, r.assumedActive};
}

} // namespace

namespace QTest {
template <>
char* toString(const Counters& c) {
    return qstrdup(QByteArray::number(c.duplicates) + "/" +
                   QByteArray::number(c.confirmedElsewhere) + "/" +
                   QByteArray::number(c.assumedActive));
}
} // namespace QTest

class TestCSVImportFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void substack();
    void beehiiv();
    void mailchimpSubscribed();
    void mailchimpUnsubscribed();
    void mailchimpCleaned();
    void genericQuirks();
    void genericBomCrlf();
    void genericLatin1();
};

void TestCSVImportFiles::substack() {
    const CSVImportResult r = importFile(QStringLiteral("substack.csv"));
    QCOMPARE(r.format, CSVFormat::substack);
    QCOMPARE(summary(r),
             (QStringList{
                 "ada.quill@example.com | Ada Quill | active | 2023-02-14T09:12:44Z",
                 "theo.marsh@example.net |  | active | 2022-11-03T18:40:02Z",
                 "ines.varga@example.org | Inés Varga | unsubscribed | 2021-06-01T07:00:00Z",
                 "r.okafor@example.com | Okafor, Rui | active | 2023-09-30T21:59:59Z",
                 "mina.park@example.co.uk | Mina 🌿 Park | unsubscribed | 2023-12-01T10:30:00Z",
             }));
    QCOMPARE(r.subscribers[0].createdAt.time().msec(), 518);
    QCOMPARE(r.skipped, (QList<SkippedRow>{{8, QStringLiteral("Invalid email: not-an-address")},
                                           {9, QStringLiteral("Missing email")}}));
    QCOMPARE(counters(r), (Counters{1, 3, 0}));
}

void TestCSVImportFiles::beehiiv() {
    const CSVImportResult r = importFile(QStringLiteral("beehiiv.csv"));
    QCOMPARE(r.format, CSVFormat::beehiiv);
    QCOMPARE(summary(r), (QStringList{
                             "june.holloway@example.com |  | active | 2024-03-05T14:02:11Z",
                             "kofi.mensah@example.org |  | active | 2024-03-06T08:15:00Z",
                             "lena.brandt@example.de |  | unsubscribed | 2023-11-20T19:45:33Z",
                             "sam.ortiz@example.com |  | pending | 2024-03-07T00:00:00Z",
                             "pat.nguyen@example.net |  | bounced | 2023-08-14T12:00:00Z",
                             "ola.berg@example.se |  | pending | 2024-01-02T03:04:05Z",
                             "li.wei@example.com |  | pending | 2024-02-29T23:59:59Z",
                         }));
    QVERIFY(r.skipped.isEmpty());
    QCOMPARE(counters(r), (Counters{1, 2, 0}));
}

void TestCSVImportFiles::mailchimpSubscribed() {
    const CSVImportResult r = importFile(QStringLiteral("mailchimp_subscribed.csv"));
    QCOMPARE(r.format, CSVFormat::mailchimp);
    // CONFIRM_TIME outranks OPTIN_TIME, also when it is empty.
    QCOMPARE(summary(r), (QStringList{
                             "hana.sato@example.jp | Hana Sato | active | 2022-05-10T09:02:40Z",
                             "marc.dubois@example.fr | Marc | active | now",
                             "tess.ryan@example.ie | Ryan | active | 2021-12-24T18:00:00Z",
                         }));
    QVERIFY(r.skipped.isEmpty());
    QCOMPARE(counters(r), (Counters{0, 3, 0}));
}

void TestCSVImportFiles::mailchimpUnsubscribed() {
    const CSVImportResult r = importFile(QStringLiteral("mailchimp_unsubscribed.csv"));
    QCOMPARE(r.format, CSVFormat::mailchimp);
    QCOMPARE(summary(r),
             (QStringList{
                 "olu.adeyemi@example.ng | Olu Adeyemi | unsubscribed | 2021-03-03T10:05:00Z",
                 "greta.lind@example.se | Greta Lind | unsubscribed | 2020-09-09T09:10:00Z",
             }));
    QCOMPARE(counters(r), (Counters{0, 0, 0}));
}

void TestCSVImportFiles::mailchimpCleaned() {
    const CSVImportResult r = importFile(QStringLiteral("mailchimp_cleaned.csv"));
    QCOMPARE(r.format, CSVFormat::mailchimp);
    QCOMPARE(summary(r), (QStringList{
                             "bounce.one@example.com | Bea One | bounced | 2019-01-01T00:01:00Z",
                             "old.address@example.net |  | bounced | now",
                         }));
    QCOMPARE(counters(r), (Counters{0, 0, 0}));
}

void TestCSVImportFiles::genericQuirks() {
    const CSVImportResult r = importFile(QStringLiteral("generic_quirks.csv"));
    QCOMPARE(r.format, CSVFormat::generic);
    QCOMPARE(summary(r),
             (QStringList{
                 "wren.ash@example.com | Wren \"Birdie\" Ash | active | 2024-01-31T09:30:00Z",
                 "paul.finch@example.com | Paul Finch | pending | now",
                 // Text after a closing quote belongs to the field.
                 "corra.vale@example.orgx |  | bounced | 2024-02-01T00:00:00Z",
                 "nell.oyelaran@example.com |  | active | 2024-02-01T07:00:00Z",
                 "quinn.reyes@example.com |  | unsubscribed | now",
                 "bo.lund@example.com | Bo | complained | 2024-01-31T10:00:00Z",
             }));
    QCOMPARE(
        r.skipped,
        (QList<SkippedRow>{{8, QStringLiteral("Invalid email: Dara O\"Neil <dara@example.com>")}}));
    QCOMPARE(counters(r), (Counters{0, 1, 1}));
}

void TestCSVImportFiles::genericBomCrlf() {
    const QByteArray bytes = readData(QStringLiteral("generic_bom_crlf.csv"));
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF") && bytes.contains("\r\n"));
    const CSVImportResult r = importFile(QStringLiteral("generic_bom_crlf.csv"));
    QCOMPARE(r.format, CSVFormat::generic);
    QCOMPARE(summary(r), (QStringList{
                             "ava.moss@example.com | Ava Moss | active | 2024-04-01T00:00:00Z",
                             "ben.cole@example.com | Ben Cole | active | 2024-04-02T12:30:00Z",
                         }));
    QCOMPARE(counters(r), (Counters{0, 0, 2}));
}

void TestCSVImportFiles::genericLatin1() {
    const QByteArray bytes = readData(QStringLiteral("generic_latin1.csv"));
    QVERIFY(bytes.contains("Zo\xEB"));
    const CSVImportResult r = importFile(QStringLiteral("generic_latin1.csv"));
    QCOMPARE(summary(r), (QStringList{
                             "zoe.lefevre@example.fr | Zoë Lefèvre | active | 2024-01-31T00:00:00Z",
                             "jose.nunez@example.es | José Núñez | active | now",
                         }));
    QCOMPARE(r.skipped,
             (QList<SkippedRow>{{4, QStringLiteral("Invalid email: søren.kirk@example.dk")}}));
    QCOMPARE(counters(r), (Counters{0, 0, 2}));
}

QTEST_GUILESS_MAIN(TestCSVImportFiles)
#include "tst_csv_import_files.moc"
