#include "core/iso_date.h"
#include "import/csv_importer.h"

#include <QBuffer>
#include <QFile>
#include <QTest>

using namespace quillmere;
using OptionalStatus = std::optional<SubscriberStatus>;
using OptionalDate = std::optional<QDateTime>;

namespace {

const QDateTime now(QDate(2025, 3, 14), QTime(9, 26, 53, 589), Qt::UTC);

CSVImportResult run(const QString& text, const QString& source = QStringLiteral("import")) {
    return CSVImporter::importCSV(text, source, now);
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

// The format and duplicates/confirmedElsewhere/assumedActive, then every reader and skipped row.
QStringList described(const CSVImportResult& r) {
    QStringList out{u"%1 %2/%3/%4"_qs.arg(rawValue(r.format))
                        .arg(r.duplicates)
                        .arg(r.confirmedElsewhere)
                        .arg(r.assumedActive)};
    out += summary(r);
    for (const SkippedRow& row : r.skipped) {
        out.append(u"skipped %1: %2"_qs.arg(row.line).arg(row.reason));
    }
    return out;
}

} // namespace

class TestCSVImporter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tokenize();
    void detectFormat();
    void mapStatus();
    void parseDate();
    void decodeFile();
    void importText_data();
    void importText();
    void statusesPerFormat();
    void datesAndSource();
    void importFile_data();
    void importFile();
    void streamedEqualsWhole();
};

void TestCSVImporter::tokenize() {
    // (QString's UTF-8 conversion would drop a mark from a narrow literal: build it here.)
    const QString bom(QChar(0xFEFF));
    // Text, then each row: its line number, then each field in brackets.
    const std::tuple<QString, QString, const char*> rows[] = {
        {"empty text", QString(), ""},
        {"CR, LF and CRLF end lines; blank lines dropped but counted", "a\rb\n\nc\r\n\r\nd\n",
         "1[a] 2[b] 4[c] 6[d]"},
        {"a line of two quotes is one empty field", "a\n\"\"\n\nb", "1[a] 2[] 4[b]"},
        {"empty fields and white space kept", ",,\n a , b \t", "1[][][] 2[ a ][ b \t]"},
        {"quoted line breaks become LF", "\"x\r\ny\rz\nq\",z\r\nw", "1[x\ny\nz\nq][z] 5[w]"},
        {"quote inside unquoted field", "he said \"hi\",x", "1[he said \"hi\"][x]"},
        {"a quote never closed loses its own record only", "a,\"b\r\nc,d\n", "2[c][d]"},
        {"four quotes", "\"\"\"\"", "1[\"]"},
        {"byte order mark dropped at the start only", bom + "a," + bom + "b", "1[a][\uFEFFb]"},
        {"byte order mark alone", bom, ""},
        {"surrogate pairs stay whole", "🌿,\"x🌿\"\"🌿\"\n🌿", "1[🌿][x🌿\"🌿] 2[🌿]"}};
    for (const auto& [name, text, expected] : rows) {
        QStringList lines;
        QList<QStringList> fields;
        for (const CSVImporter::Row& row : CSVImporter::tokenize(text)) {
            lines.append(QString::number(row.line) + u'[' + row.fields.join(QLatin1String("][")) +
                         u']');
            fields.append(row.fields);
        }
        QCOMPARE(name + u'=' + lines.join(u' '), name + u'=' + QString::fromUtf8(expected));
        QCOMPARE(CSVImporter::parseRows(text), fields);
    }
}

// Each check below compares "input=output" so that a failure names its input.
void TestCSVImporter::detectFormat() {
    // Header names (comma-separated) and the service they identify.
    const QList<std::pair<QString, QString>> cases{
        {"Email Address,MEMBER_RATING", "mailchimp"},
        {"email address,LEID", "mailchimp"},
        {"Email Address,Phone", "generic"},
        {"email,active_subscription", "substack"},
        {"email,email_disabled", "substack"},
        {"email,expiry,plan", "substack"},
        {"email,plan", "generic"},
        {"email,utm_source", "generic"},
        // Names are trimmed and lower-cased.
        {" EMAIL\r\n,\tStatus ,Stripe_Customer_ID", "beehiiv"},
        {"", "generic"}};
    for (const auto& [header, expected] : cases) {
        const QStringList names = header.isEmpty() ? QStringList{} : header.split(u',');
        QCOMPARE(header + u'=' + rawValue(CSVImporter::detectFormat(names)),
                 header + u'=' + expected);
    }
}

void TestCSVImporter::mapStatus() {
    const QList<std::pair<QString, QString>> cases{
        {" PAID\t", "active"},
        {"Opted Out", "unsubscribed"},
        {"HARD_BOUNCE", "bounced"},
        {"spam complaint", "complained"},
        {"Awaiting Confirmation", "pending"},
        {"", ""},
        {"opted  in", ""},
        {"-active", ""},
        {"active\n", ""},      // only spaces and tabs are trimmed here
        {"\u017Fpam", ""},     // LONG S lower-cases to itself, not to "s"
        {"\u0130nvalid", ""}}; // I WITH DOT lower-cases to "i" and a combining dot
    for (const auto& [value, expected] : cases) {
        const OptionalStatus status = CSVImporter::mapStatus(value);
        QCOMPARE(value + u'=' + (status ? QString(rawValue(*status)) : QString()),
                 value + u'=' + expected);
    }
}

void TestCSVImporter::parseDate() {
    const QString ten = QStringLiteral("2024-01-31T10:00:00.000Z");
    const QList<std::pair<QString, QString>> cases{
        {"2024-01-31T12:00:00+02:00", ten},
        {"2024-01-31T04:30:00.5-0530", "2024-01-31T10:00:00.500Z"},
        {"2024-01-31T10:00:00.007", "2024-01-31T10:00:00.007Z"},
        {"2024-01-31 10:00:00 UTC", ten},
        {"2024-01-31 10:00:00 +0000", ten},
        {"2024-01-31 10:00", ten},
        {"2024-01-31 UTC", "2024-01-31T00:00:00.000Z"},
        {"01/31/2024 10:00", ten},
        {"1/5/2024", "2024-01-05T00:00:00.000Z"},
        {" \t2024-02-29\t ", "2024-02-29T00:00:00.000Z"},
        {"", ""},
        {"31/01/2024", ""},
        {"01/31/24", ""},
        {"2024-01-31 24:00:00", ""},
        {"2024-01-31T10:00", ""},
        {"01/31/2024 10:00:00", ""},
        {"2024-01-31 10:00:00 +0100", ""},
        {"2024-01-31 10:00:00 utc", ""},
        {"2024-01-31T10:00:00.Z", ""},
        // Offsets never carry a date out of the four-digit years the library writes.
        {"9999-12-31T23:59:59Z", "9999-12-31T23:59:59.000Z"},
        {"9999-12-31T23:59:59-00:01", ""},
        {"0001-01-01T00:00:00+23:59", ""}};
    for (const auto& [value, expected] : cases) {
        const OptionalDate date = CSVImporter::parseDate(value);
        QCOMPARE(value + u'=' + (date ? date->toString(Qt::ISODateWithMs) : QString()),
                 value + u'=' + expected);
    }
}

void TestCSVImporter::decodeFile() {
    // A sequence cut off at the end, an encoded surrogate and an overlong form are not UTF-8.
    QCOMPARE(CSVImporter::decodeFile("ab\xC3"), QStringLiteral("ab\u00C3"));
    QCOMPARE(CSVImporter::decodeFile("\xED\xA0\x80"), QStringLiteral("\u00ED\u00A0€"));
    QCOMPARE(CSVImporter::decodeFile("\xC0\xAF"), QStringLiteral("\u00C0\u00AF"));
    // A UTF-8 byte order mark before Latin-1 text is not part of the first column name.
    QCOMPARE(summary(run(CSVImporter::decodeFile("\xEF\xBB\xBF"
                                                 "email,name\nzoe@example.fr,Zo\xEB\n"))),
             QStringList{"zoe@example.fr | Zoë | active | now"});
}

// Small texts: each row's format and counters, readers and skipped rows as importFile lists them.
void TestCSVImporter::importText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    const std::tuple<const char*, const char*, QStringList> texts[] = {
        {"empty", "\n\n", {"generic 0/0/0"}},
        {"header only", "email,status,utm_source\n", {"beehiiv 0/0/0"}},
        {"no email column",
         "\n\nName,Status,E-mails\nAnn,active,ann@example.com\n",
         {"generic 0/0/0", "skipped 3: No email column found in header"}},
        // A quoted line break (line 7) is not a blank row: only spaces and tabs make one.
        {"rejected and blank rows",
         "name,EMAIL\nAnn, Ann@Example.COM \n , \t\nBo\nCy,  \nDi, not an address \n,\"\n\"\n"
         "Ed,ed@example\n",
         {"generic 0/0/1", "ann@example.com | Ann | active | now", "skipped 4: Missing email",
          "skipped 5: Missing email", "skipped 6: Invalid email: not an address",
          "skipped 7: Missing email", "skipped 9: Invalid email: ed@example"}},
        // The leftmost email column counts, whatever the case; invalid rows are reported each time.
        {"duplicates",
         "mail,email\nann@example.com,x@example.com\nANN@example.COM,y@example.com\n"
         "bad,z@example.com\nbad,z@example.com\nann@example.com,\n",
         {"generic 2/0/1", "ann@example.com |  | active | now", "skipped 4: Invalid email: bad",
          "skipped 5: Invalid email: bad"}},
        // "name" outranks "full name"; "first name" outranks "fname".
        {"names",
         "email,first name,full name,name,last_name,fname\na@example.com,Ann,Full Ann,Ann Lee,Lee,"
         "Fn\nb@example.com,Bo,Full Bo, ,Berg\nc@example.com,,,,Cole\nd@example.com, Di ,,,\n"
         "e@example.com\n",
         {"generic 0/0/5", "a@example.com | Ann Lee | active | now",
          "b@example.com | Bo Berg | active | now", "c@example.com | Cole | active | now",
          "d@example.com | Di | active | now", "e@example.com |  | active | now"}},
    };
    for (const auto& [name, text, expected] : texts) {
        QTest::newRow(name) << QString::fromUtf8(text) << expected;
    }
}

void TestCSVImporter::importText() {
    QFETCH(QString, text);
    QTEST(described(run(text)), "expected");
}

void TestCSVImporter::statusesPerFormat() {
    // CSV text; its format, duplicates/confirmedElsewhere/assumedActive, each row's status initial.
    const QList<std::pair<QString, QString>> cases{
        // Unknown words are pending, empty ones assumed active.
        {"Email,Subscription_Status\na@x.io,Opted-In\nb@x.io,VIP\nc@x.io,\nd@x.io,cleaned\n"
         "e@x.io,complaint\nf@x.io\n",
         "generic 0/1/2 apabca"},
        // The email_disabled flag wins over the status.
        {"email,active_subscription,email_disabled,status\na@x.io,true,TRUE,active\n"
         "b@x.io,false,false,unsubscribed\nc@x.io,false,,\nd@x.io,false, Y \ne@x.io,false,1\n"
         "f@x.io,false,on\n",
         "substack 0/3/0 uaauua"},
        {"email,status,referral_code\na@x.io,active,\nb@x.io,inactive,\nc@x.io,,\nd@x.io,paused,\n",
         "beehiiv 0/1/0 aupp"},
        // The status, then a clean time, then an unsubscribe time.
        {"Email Address,LEID,Status,UNSUB_TIME,CLEAN_TIME\na@x.io,1,,,2024-01-01\n"
         "b@x.io,2,,2024-01-01,2024-01-01\nc@x.io,3,,2024-01-01,\nd@x.io,4,,,\n"
         "e@x.io,5,subscribed,2024-01-01,\nf@x.io,6,pending,,2024-01-01\ng@x.io,7,weird,,\n",
         "mailchimp 0/3/0 bbuaapa"},
        // Without CLEAN_TIME the campaign title of the cleaning marks the bounce.
        {"Email Address,OPTIN_TIME,CLEAN_CAMPAIGN_TITLE\na@x.io,,Spring digest\n",
         "mailchimp 0/0/0 b"}};
    for (const auto& [csv, expected] : cases) {
        const CSVImportResult result = run(csv);
        QString initials;
        for (const Subscriber& s : result.subscribers) {
            initials += rawValue(s.status).at(0);
        }
        QCOMPARE(csv.section(u'\n', 0, 0) + u'=' + described(result).first() + u' ' + initials,
                 csv.section(u'\n', 0, 0) + u'=' + expected);
    }
}

void TestCSVImporter::datesAndSource() {
    const QString text = QStringLiteral("email,status,utm_medium,signup_date,created\n"
                                        "a@example.com,active,,2020-01-01,2024-01-31 10:00:00 UTC\n"
                                        "b@example.com,active,,2020-01-01,31/01/2024\n");
    const CSVImportResult imported = run(text, QStringLiteral("Import"));
    // "created" outranks "signup_date"; an unreadable date is the import time.
    QCOMPARE(imported.subscribers[0].createdAt,
             QDateTime::fromString("2024-01-31T10:00:00Z", Qt::ISODate));
    QCOMPARE(imported.subscribers[1].createdAt, now);
    QCOMPARE(imported.subscribers[0].source, QStringLiteral("Import"));
    QVERIFY(imported.subscribers[0].id != imported.subscribers[1].id);

    // The clock is read once per import.
    const CSVImportResult timed = CSVImporter::importCSV(text, QStringLiteral("x"));
    QCOMPARE(timed.subscribers[1].createdAt, timed.subscribers[0].updatedAt);
    QVERIFY(qAbs(timed.subscribers[1].createdAt.secsTo(QDateTime::currentDateTimeUtc())) < 60);
}

// Realistic exports of each service, as their export screens write them: the files; their format
// and duplicates/confirmedElsewhere/assumedActive, then the readers and the skipped rows.
void TestCSVImporter::importFile_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("expected");
    const std::pair<QStringList, QStringList> exports[] = {
        {{"substack.csv"},
         {"substack 1/3/0", "ada.quill@example.com | Ada Quill | active | 2023-02-14T09:12:44Z",
          "theo.marsh@example.net |  | active | 2022-11-03T18:40:02Z",
          "ines.varga@example.org | Inés Varga | unsubscribed | 2021-06-01T07:00:00Z",
          "r.okafor@example.com | Okafor, Rui | active | 2023-09-30T21:59:59Z",
          "mina.park@example.co.uk | Mina 🌿 Park | unsubscribed | 2023-12-01T10:30:00Z",
          "skipped 8: Invalid email: not-an-address", "skipped 9: Missing email"}},
        {{"beehiiv.csv"},
         {"beehiiv 1/2/0", "june.holloway@example.com |  | active | 2024-03-05T14:02:11Z",
          "kofi.mensah@example.org |  | active | 2024-03-06T08:15:00Z",
          "lena.brandt@example.de |  | unsubscribed | 2023-11-20T19:45:33Z",
          "sam.ortiz@example.com |  | pending | 2024-03-07T00:00:00Z",
          "pat.nguyen@example.net |  | bounced | 2023-08-14T12:00:00Z",
          "ola.berg@example.se |  | pending | 2024-01-02T03:04:05Z",
          "li.wei@example.com |  | pending | 2024-02-29T23:59:59Z"}},
        // CONFIRM_TIME outranks OPTIN_TIME, also when it is empty.
        {{"mailchimp_subscribed.csv"},
         {"mailchimp 0/3/0", "hana.sato@example.jp | Hana Sato | active | 2022-05-10T09:02:40Z",
          "marc.dubois@example.fr | Marc | active | now",
          "tess.ryan@example.ie | Ryan | active | 2021-12-24T18:00:00Z"}},
        {{"mailchimp_unsubscribed.csv"},
         {"mailchimp 0/0/0",
          "olu.adeyemi@example.ng | Olu Adeyemi | unsubscribed | 2021-03-03T10:05:00Z",
          "greta.lind@example.se | Greta Lind | unsubscribed | 2020-09-09T09:10:00Z"}},
        {{"mailchimp_cleaned.csv"},
         {"mailchimp 0/0/0", "bounce.one@example.com | Bea One | bounced | 2019-01-01T00:01:00Z",
          "old.address@example.net |  | bounced | now"}},
        // Text after a closing quote belongs to the field (corra.vale).
        {{"generic_quirks.csv"},
         {"generic 0/1/1",
          "wren.ash@example.com | Wren \"Birdie\" Ash | active | 2024-01-31T09:30:00Z",
          "paul.finch@example.com | Paul Finch | pending | now",
          "corra.vale@example.orgx |  | bounced | 2024-02-01T00:00:00Z",
          "nell.oyelaran@example.com |  | active | 2024-02-01T07:00:00Z",
          "quinn.reyes@example.com |  | unsubscribed | now",
          "bo.lund@example.com | Bo | complained | 2024-01-31T10:00:00Z",
          "skipped 8: Invalid email: Dara O\"Neil <dara@example.com>"}},
        {{"generic_bom_crlf.csv"},
         {"generic 0/0/2", "ava.moss@example.com | Ava Moss | active | 2024-04-01T00:00:00Z",
          "ben.cole@example.com | Ben Cole | active | 2024-04-02T12:30:00Z"}},
        {{"encoding_utf16le_bom.csv", "encoding_utf16be_bom.csv", "encoding_utf16le.csv",
          "encoding_utf32le_bom.csv", "encoding_utf32be_bom.csv", "encoding_windows1252.csv"},
         {"generic 0/1/0", "zoe@example.fr | Zoë “Birdie” Lefèvre | active | now",
          "jose@example.es | José Núñez | unsubscribed | now"}},
        {{"generic_latin1.csv"},
         {"generic 0/0/2", "zoe.lefevre@example.fr | Zoë Lefèvre | active | 2024-01-31T00:00:00Z",
          "jose.nunez@example.es | José Núñez | active | now",
          "skipped 4: Invalid email: søren.kirk@example.dk"}},
    };
    for (const auto& [files, expected] : exports) {
        for (const QString& file : files) {
            QTest::newRow(qPrintable(file)) << file << expected;
        }
    }
}

void TestCSVImporter::importFile() {
    QFETCH(QString, file);
    QFile data(QStringLiteral(QUILLMERE_SOURCE_DIR "/tests/data/csv/") + file);
    QVERIFY(data.open(QIODevice::ReadOnly));
    QTEST(described(*CSVImporter::importFile(data, QStringLiteral("import"), now)), "expected");
}

// A file read in pieces (records across their edges: quoted line breaks, CR LF, doubled quotes)
// imports as the same text given whole, with progress reported up to the file's size.
void TestCSVImporter::streamedEqualsWhole() {
    QByteArray bytes = "email,name\r\n";
    for (int i = 0; bytes.size() < (5 << 20); ++i) {
        bytes += "r" + QByteArray::number(i) + "@example.com,\"Name \"\"" + QByteArray::number(i) +
                 "\"\"\r\nsecond line\"\r\n";
    }
    bytes += "last@example.com,\"never closed\r\nfinal@example.com,Final\r\n";
    QBuffer file(&bytes);
    QVERIFY(file.open(QIODevice::ReadOnly));
    qint64 reported = 0;
    const CSVImportResult streamed = *CSVImporter::importFile(
        file, QStringLiteral("import"), now, [&reported, &file](qint64 read, qint64 size) {
            reported = read;
            return size == qint64(file.size());
        });
    const CSVImportResult whole = run(CSVImporter::decodeFile(bytes));
    QCOMPARE(summary(streamed), summary(whole));
    QCOMPARE(streamed.skipped, whole.skipped);
    QCOMPARE(streamed.skipped.size(), 1);
    QCOMPARE(summary(streamed).last(), QStringLiteral("final@example.com | Final | active | now"));
    QCOMPARE(reported, bytes.size());
}

QTEST_GUILESS_MAIN(TestCSVImporter)
#include "tst_csv_importer.moc"
