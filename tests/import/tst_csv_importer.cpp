#include "import/csv_importer.h"

#include <QSet>
#include <QTest>

using namespace quillmere;
using Status = SubscriberStatus;
using OptionalStatus = std::optional<SubscriberStatus>;
using OptionalDate = std::optional<QDateTime>;

Q_DECLARE_METATYPE(OptionalStatus)
Q_DECLARE_METATYPE(OptionalDate)

namespace {

const QDateTime now(QDate(2025, 3, 14), QTime(9, 26, 53, 589), Qt::UTC);

QDateTime utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

CSVImportResult run(const QString& text, const QString& source = QStringLiteral("list")) {
    return CSVImporter::importCSV(text, source, now);
}

// email:status:name of every subscriber, for compact comparisons.
QStringList summary(const CSVImportResult& result) {
    QStringList out;
    for (const Subscriber& s : result.subscribers) {
        out.append(s.email + QLatin1Char(':') + rawValue(s.status) + QLatin1Char(':') + s.name);
    }
    return out;
}

} // namespace

class TestCSVImporter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void detectFormat_data();
    void detectFormat();
    void columnIndexPrefersCandidateOrder();
    void mapStatus_data();
    void mapStatus();
    void parseDate_data();
    void parseDate();
    void decodeFile();

    void emptyAndHeaderOnly();
    void headerWithoutEmailColumn();
    void rejectedAndBlankRows();
    void duplicatesIgnoreCase();
    void names();
    void genericStatuses();
    void substackOptOutFlag();
    void beehiivStatuses();
    void mailchimpStatusAndTimes();
    void datesAndSource();
};

void TestCSVImporter::detectFormat_data() {
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<CSVFormat>("format");
    QTest::newRow("mailchimp by member rating")
        << QStringList{"Email Address", "First Name", "Last Name", "MEMBER_RATING"}
        << CSVFormat::mailchimp;
    QTest::newRow("mailchimp by leid")
        << QStringList{"email address", "LEID"} << CSVFormat::mailchimp;
    QTest::newRow("email address alone is generic")
        << QStringList{"Email Address", "Phone"} << CSVFormat::generic;
    QTest::newRow("substack by active_subscription")
        << QStringList{"email", "active_subscription"} << CSVFormat::substack;
    QTest::newRow("substack by email_disabled")
        << QStringList{"email", "email_disabled"} << CSVFormat::substack;
    QTest::newRow("substack by expiry and plan")
        << QStringList{"email", "expiry", "plan"} << CSVFormat::substack;
    QTest::newRow("plan alone is not substack")
        << QStringList{"email", "plan"} << CSVFormat::generic;
    QTest::newRow("email and status is generic")
        << QStringList{"email", "status"} << CSVFormat::generic;
    QTest::newRow("beehiiv by utm_source")
        << QStringList{"email", "status", "utm_source"} << CSVFormat::beehiiv;
    QTest::newRow("beehiiv marker without status is generic")
        << QStringList{"email", "utm_source"} << CSVFormat::generic;
    QTest::newRow("names trimmed and lower-cased")
        << QStringList{" EMAIL\r\n", "\tStatus ", "Stripe_Customer_ID"} << CSVFormat::beehiiv;
    QTest::newRow("empty header") << QStringList{} << CSVFormat::generic;
}

void TestCSVImporter::detectFormat() {
    QFETCH(QStringList, header);
    QFETCH(CSVFormat, format);
    QCOMPARE(CSVImporter::detectFormat(header), format);
}

void TestCSVImporter::columnIndexPrefersCandidateOrder() {
    const QStringList header{"Full Name", "email", " NAME ", "name"};
    QCOMPARE(CSVImporter::columnIndex({"name", "full name"}, header), 2);
    QCOMPARE(CSVImporter::columnIndex({"fullname", "full name"}, header), 0);
    QCOMPARE(CSVImporter::columnIndex({"status"}, header), std::nullopt);
}

void TestCSVImporter::mapStatus_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<OptionalStatus>("status");
    const auto add = [](const char* value, OptionalStatus status) {
        QTest::newRow(value) << QString::fromUtf8(value) << status;
    };
    add("active", Status::active);
    add("Subscribed", Status::active);
    add("Opted-In", Status::active);
    add(" PAID\t", Status::active);
    add("unsubscribed", Status::unsubscribed);
    add("Opted Out", Status::unsubscribed);
    add("cleaned", Status::bounced);
    add("HARD_BOUNCE", Status::bounced);
    add("hard-bounced", Status::bounced);
    add("spam complaint", Status::complained);
    add("needs_attention", Status::pending);
    add("Awaiting Confirmation", Status::pending);
    add("", std::nullopt);
    add("VIP", std::nullopt);
    add("opted  in", std::nullopt);
    add("-active", std::nullopt);
    add("active\n", std::nullopt);     // only spaces and tabs are trimmed here
    add("\u017Fpam", std::nullopt);    // LONG S lower-cases to itself, not to "s"
    add("\u0130nvalid", std::nullopt); // I WITH DOT lower-cases to "i" and a combining dot
}

void TestCSVImporter::mapStatus() {
    QFETCH(QString, value);
    QFETCH(OptionalStatus, status);
    QCOMPARE(CSVImporter::mapStatus(value), status);
}

void TestCSVImporter::parseDate_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<OptionalDate>("date");
    const auto add = [](const char* value, OptionalDate date) {
        QTest::newRow(value) << QString::fromLatin1(value) << date;
    };
    const QDateTime tenOClock = utc(2024, 1, 31, 10);
    add("2024-01-31T10:00:00Z", tenOClock);
    add("2024-01-31T12:00:00+02:00", tenOClock);
    add("2024-01-31T10:00:00.250Z", utc(2024, 1, 31, 10, 0, 0, 250));
    add("2024-01-31T04:30:00.5-0530", utc(2024, 1, 31, 10, 0, 0, 500));
    add("2024-01-31T10:00:00.123+0000", utc(2024, 1, 31, 10, 0, 0, 123));
    add("2024-01-31 10:00:00 UTC", tenOClock);
    add("2024-01-31 10:00:00 GMT", tenOClock);
    add("2024-01-31 10:00:00 +0000", tenOClock);
    add("2024-01-31 10:00:00Z", tenOClock);
    add("2024-01-31 10:00:00", tenOClock);
    add("2024-01-31T10:00:00", tenOClock);
    add("2024-01-31T10:00:00.007", utc(2024, 1, 31, 10, 0, 0, 7));
    add("2024-01-31 10:00", tenOClock);
    add("2024-01-31", utc(2024, 1, 31));
    add("2024-01-31 UTC", utc(2024, 1, 31));
    add("01/31/2024 10:00", tenOClock);
    add("01/31/2024", utc(2024, 1, 31));
    add("1/5/2024", utc(2024, 1, 5));
    add(" \t2024-02-29\t ", utc(2024, 2, 29));
    add("", std::nullopt);
    add("31/01/2024", std::nullopt); // there is no month 31
    add("2023-02-29", std::nullopt);
    add("01/31/24", std::nullopt);
    add("24-01-31", std::nullopt);
    add("2024-01-31 24:00:00", std::nullopt);
    add("2024-01-31 10:60", std::nullopt);
    add("2024-01-31T10:00", std::nullopt);
    add("01/31/2024 10:00:00", std::nullopt);
    add("2024-01-31 10:00:00 +0100", std::nullopt);
    add("2024-01-31 10:00:00 utc", std::nullopt);
    add("2024-01-31 10:00:00 UTC UTC", std::nullopt);
    add("2024-01-31T10:00:00.Z", std::nullopt);
    add("2024-01-31x", std::nullopt);
    add("yesterday", std::nullopt);
    // Offsets never carry a date out of the four-digit years the library writes.
    add("9999-12-31T23:59:59Z", utc(9999, 12, 31, 23, 59, 59));
    add("9999-12-31T23:59:59-00:01", std::nullopt);
    add("0001-01-01T00:00:00+23:59", std::nullopt);
}

void TestCSVImporter::parseDate() {
    QFETCH(QString, value);
    QFETCH(OptionalDate, date);
    const OptionalDate parsed = CSVImporter::parseDate(value);
    QCOMPARE(parsed, date);
    if (parsed) {
        QCOMPARE(parsed->timeSpec(), Qt::UTC);
    }
}

void TestCSVImporter::decodeFile() {
    QCOMPARE(CSVImporter::decodeFile("Zo\xC3\xAB,\xF0\x9F\x8C\xBF"), QStringLiteral("Zoë,🌿"));
    QCOMPARE(CSVImporter::decodeFile("Zo\xEB L\xE8"), QStringLiteral("Zoë Lè"));
    // A sequence cut off at the end, an encoded surrogate and an overlong form are not UTF-8.
    QCOMPARE(CSVImporter::decodeFile("ab\xC3"), QStringLiteral("ab\u00C3"));
    QCOMPARE(CSVImporter::decodeFile("\xED\xA0\x80"), QStringLiteral("\u00ED\u00A0\u0080"));
    QCOMPARE(CSVImporter::decodeFile("\xC0\xAF"), QStringLiteral("\u00C0\u00AF"));
    // A UTF-8 byte order mark before Latin-1 text is not part of the first column name.
    const CSVImportResult result =
        run(CSVImporter::decodeFile("\xEF\xBB\xBF"
                                    "email,name\nzoe@example.fr,Zo\xEB\n"));
    QCOMPARE(summary(result), QStringList{"zoe@example.fr:active:Zoë"});
}

void TestCSVImporter::emptyAndHeaderOnly() {
    QCOMPARE(run(QString()), CSVImportResult{});
    QCOMPARE(run(QStringLiteral("\n\n")), CSVImportResult{});
    CSVImportResult headerOnly;
    headerOnly.format = CSVFormat::beehiiv;
    QCOMPARE(run(QStringLiteral("email,status,utm_source\n")), headerOnly);
}

void TestCSVImporter::headerWithoutEmailColumn() {
    CSVImportResult expected;
    expected.format = CSVFormat::generic;
    expected.skipped = {SkippedRow{3, QStringLiteral("No email column found in header")}};
    QCOMPARE(run(QStringLiteral("\n\nName,Status,E-mails\nAnn,active,ann@example.com\n")),
             expected);
}

void TestCSVImporter::rejectedAndBlankRows() {
    const CSVImportResult result = run(QStringLiteral("name,EMAIL\n"
                                                      "Ann, Ann@Example.COM \n"
                                                      " , \t\n"
                                                      "Bo\n"
                                                      "Cy,  \n"
                                                      "Di, not an address \n"
                                                      ",\"\n\"\n"
                                                      "Ed,ed@example\n"));
    QCOMPARE(summary(result), QStringList{"ann@example.com:active:Ann"});
    const QList<SkippedRow> skipped{
        {4, QStringLiteral("Missing email")},
        {5, QStringLiteral("Missing email")},
        {6, QStringLiteral("Invalid email: not an address")},
        // A quoted line break is not a blank row: only spaces and tabs make one.
        {7, QStringLiteral("Missing email")},
        {9, QStringLiteral("Invalid email: ed@example")},
    };
    QCOMPARE(result.skipped, skipped);
    QCOMPARE(result.assumedActive, 1);
    QCOMPARE(result.duplicates, 0);
}

void TestCSVImporter::duplicatesIgnoreCase() {
    const CSVImportResult result = run(QStringLiteral("mail,email\n"
                                                      "ann@example.com,x@example.com\n"
                                                      "ANN@example.COM,y@example.com\n"
                                                      "bad,z@example.com\n"
                                                      "bad,z@example.com\n"
                                                      "ann@example.com,\n"));
    // The leftmost email column counts; invalid rows are reported each time.
    QCOMPARE(summary(result), QStringList{"ann@example.com:active:"});
    QCOMPARE(result.duplicates, 2);
    QCOMPARE(result.skipped.size(), 2);
    QCOMPARE(result.assumedActive, 1);
}

void TestCSVImporter::names() {
    const CSVImportResult result =
        run(QStringLiteral("email,first name,full name,name,last_name,fname\n"
                           "a@example.com,Ann,Full Ann,Ann Lee,Lee,Fn\n"
                           "b@example.com,Bo,Full Bo, ,Berg\n"
                           "c@example.com,,,,Cole\n"
                           "d@example.com, Di ,,,\n"
                           "e@example.com\n"));
    // "name" outranks "full name"; "first name" outranks "fname".
    QCOMPARE(summary(result),
             (QStringList{"a@example.com:active:Ann Lee", "b@example.com:active:Bo Berg",
                          "c@example.com:active:Cole", "d@example.com:active:Di",
                          "e@example.com:active:"}));
}

void TestCSVImporter::genericStatuses() {
    const CSVImportResult result = run(QStringLiteral("Email,Subscription_Status\n"
                                                      "a@example.com,Opted-In\n"
                                                      "b@example.com,VIP\n"
                                                      "c@example.com,\n"
                                                      "d@example.com,cleaned\n"
                                                      "e@example.com,complaint\n"
                                                      "f@example.com\n"));
    QCOMPARE(result.format, CSVFormat::generic);
    QCOMPARE(summary(result), (QStringList{"a@example.com:active:", "b@example.com:pending:",
                                           "c@example.com:active:", "d@example.com:bounced:",
                                           "e@example.com:complained:", "f@example.com:active:"}));
    QCOMPARE(result.confirmedElsewhere, 1);
    QCOMPARE(result.assumedActive, 2);
}

void TestCSVImporter::substackOptOutFlag() {
    const CSVImportResult result = run(QStringLiteral("email,active_subscription,email_disabled,"
                                                      "status\n"
                                                      "a@example.com,true,TRUE,active\n"
                                                      "b@example.com,false,false,unsubscribed\n"
                                                      "c@example.com,false,,\n"
                                                      "d@example.com,false, Y \n"
                                                      "e@example.com,false,1\n"
                                                      "f@example.com,false,on\n"));
    QCOMPARE(result.format, CSVFormat::substack);
    QCOMPARE(summary(result),
             (QStringList{"a@example.com:unsubscribed:", "b@example.com:active:",
                          "c@example.com:active:", "d@example.com:unsubscribed:",
                          "e@example.com:unsubscribed:", "f@example.com:active:"}));
    QCOMPARE(result.confirmedElsewhere, 3);
    QCOMPARE(result.assumedActive, 0);
}

void TestCSVImporter::beehiivStatuses() {
    const CSVImportResult result = run(QStringLiteral("email,status,referral_code\n"
                                                      "a@example.com,active,\n"
                                                      "b@example.com,inactive,\n"
                                                      "c@example.com,,\n"
                                                      "d@example.com,paused,\n"));
    QCOMPARE(result.format, CSVFormat::beehiiv);
    QCOMPARE(summary(result), (QStringList{"a@example.com:active:", "b@example.com:unsubscribed:",
                                           "c@example.com:pending:", "d@example.com:pending:"}));
    QCOMPARE(result.confirmedElsewhere, 1);
    QCOMPARE(result.assumedActive, 0);
}

void TestCSVImporter::mailchimpStatusAndTimes() {
    const CSVImportResult result =
        run(QStringLiteral("Email Address,LEID,Status,UNSUB_TIME,CLEAN_TIME\n"
                           "a@example.com,1,,,2024-01-01 00:00:00\n"
                           "b@example.com,2,,2024-01-01 00:00:00,2024-01-01 00:00:00\n"
                           "c@example.com,3,,2024-01-01 00:00:00,\n"
                           "d@example.com,4,,,\n"
                           "e@example.com,5,subscribed,2024-01-01 00:00:00,\n"
                           "f@example.com,6,pending,,2024-01-01 00:00:00\n"
                           "g@example.com,7,weird,,\n"));
    QCOMPARE(result.format, CSVFormat::mailchimp);
    QCOMPARE(summary(result), (QStringList{"a@example.com:bounced:", "b@example.com:bounced:",
                                           "c@example.com:unsubscribed:", "d@example.com:active:",
                                           "e@example.com:active:", "f@example.com:pending:",
                                           "g@example.com:active:"}));
    QCOMPARE(result.confirmedElsewhere, 3);

    // Without CLEAN_TIME the campaign title of the cleaning marks the bounce.
    const CSVImportResult titled =
        run(QStringLiteral("Email Address,OPTIN_TIME,CLEAN_CAMPAIGN_TITLE\n"
                           "a@example.com,,Spring digest\n"));
    QCOMPARE(summary(titled), QStringList{"a@example.com:bounced:"});
    QCOMPARE(titled.confirmedElsewhere, 0);
}

void TestCSVImporter::datesAndSource() {
    const QString text = QStringLiteral("email,status,utm_medium,signup_date,created\n"
                                        "a@example.com,active,,2020-01-01,2024-01-31 10:00:00 UTC\n"
                                        "b@example.com,active,,2020-01-01,31/01/2024\n"
                                        "c@example.com,active\n");
    const CSVImportResult imported = run(text, QStringLiteral("import"));
    QCOMPARE(imported.subscribers.size(), 3);
    // "created" outranks "signup_date"; an unreadable or absent date is the import time.
    QCOMPARE(imported.subscribers[0].createdAt, utc(2024, 1, 31, 10));
    QCOMPARE(imported.subscribers[1].createdAt, now);
    QCOMPARE(imported.subscribers[2].createdAt, now);
    QSet<QUuid> ids;
    for (const Subscriber& s : imported.subscribers) {
        QCOMPARE(s.source, QStringLiteral("import:beehiiv"));
        QCOMPARE(s.updatedAt, now);
        QVERIFY(!s.id.isNull());
        ids.insert(s.id);
    }
    QCOMPARE(ids.size(), 3);

    const CSVImportResult named = run(text, QStringLiteral("spring list"));
    QCOMPARE(named.subscribers[0].source, QStringLiteral("spring list"));
    QCOMPARE(run(text, QStringLiteral("Import")).subscribers[0].source, QStringLiteral("Import"));

    // The clock is read once per import.
    const CSVImportResult timed = CSVImporter::importCSV(text, QStringLiteral("x"));
    QCOMPARE(timed.subscribers[1].createdAt, timed.subscribers[2].updatedAt);
    QVERIFY(qAbs(timed.subscribers[1].createdAt.secsTo(QDateTime::currentDateTimeUtc())) < 60);
}

QTEST_GUILESS_MAIN(TestCSVImporter)
#include "tst_csv_importer.moc"
