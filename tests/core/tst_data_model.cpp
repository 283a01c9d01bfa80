#include "core/aws_credentials.h"
#include "core/iso_date.h"
#include "core/library.h"
#include "core/uuid_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quillmere;

namespace {

// One stored issue; tests swap parts of it.
const QByteArray issueDocument = R"({"newsletters": [{"id": "5A3D0000-0000-4000-8000-000000000101",
    "subject": "", "previewText": "", "markdown": "", "template": "plain",
    "status": "draft", "createdAt": "2025-01-01T00:00:00Z", "deliveredIDs": [],
    "stats": {"recipients": 0, "sent": 0, "failed": 0, "bounced": 0,
              "complained": 0, "unsubscribed": 0}}]})";

} // namespace

class TestDataModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void optionalKeysAreOmittedAndReadAsAbsent() {
        // The library itself is lenient: every key may be missing.
        QCOMPARE(Library::fromJson(QJsonObject()), Library());

        AWSCredentials keys{QStringLiteral("AKIA"), QStringLiteral("secret"), std::nullopt};
        QVERIFY(!keys.toJson().contains(QLatin1String("sessionToken")));
        QCOMPARE(AWSCredentials::fromJson(keys.toJson()), keys);
        keys.sessionToken = QString();
        QCOMPARE(AWSCredentials::fromJson(keys.toJson()), keys); // empty token is kept, not lost
    }

    void datesAtTheEdgesAndMalformedOnes() {
        QCOMPARE(IsoDate::formatSeconds(*IsoDate::parse(u"2025-03-01T09:30:00.999Z")),
                 QStringLiteral("2025-03-01T09:30:00Z"));
        // Instants beyond four-digit years are written at the edge, so the file still reads.
        QCOMPARE(IsoDate::format(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC)),
                 QStringLiteral("9999-12-31T23:59:59.999Z"));
        QCOMPARE(IsoDate::format(QDateTime(QDate(-40, 1, 1), QTime(0, 0), Qt::UTC)),
                 QStringLiteral("0001-01-01T00:00:00.000Z"));
        QCOMPARE(IsoDate::format(QDateTime()), QStringLiteral("1970-01-01T00:00:00.000Z"));
        for (const char* bad :
             {"yesterday", "2025-03-14", "2025-03-14T09:26:53", "2025-02-30T00:00:00Z",
              "2025-03-14T24:00:00Z", "2025-03-14T09:26:53.Z", "2025-03-14T09:26:53Zjunk", "",
              "2025-03-14 09:26:53Z"}) {
            QVERIFY2(!IsoDate::parse(QString::fromLatin1(bad)), bad);
        }
    }

    void deliveredIDsAreASetWrittenInOrder() {
        const QByteArray a = "\"0A000000-0000-4000-8000-000000000001\"";
        const QByteArray b = "\"FF000000-0000-4000-8000-000000000001\"";
        const QByteArray c = "\"1B000000-0000-4000-8000-0000000000FF\"";
        const auto withIDs = [](const QByteArray& ids) {
            const QByteArray json = QByteArray(issueDocument).replace("[]", "[" + ids + "]");
            return Library::fromJson(QJsonDocument::fromJson(json).object());
        };
        const Library one = withIDs(a + "," + b + "," + c);
        QCOMPARE(withIDs(c + "," + a + "," + b), one);
        const QJsonArray written = one.toJson()["newsletters"][0]["deliveredIDs"].toArray();
        QCOMPARE(QJsonDocument(written).toJson(QJsonDocument::Compact),
                 "[" + a + "," + c + "," + b + "]");
    }

    void enumerationsReadTheirExactRawTexts() {
        QCOMPARE(fromRaw<SubscriberStatus>(u"bounced"), SubscriberStatus::bounced);
        QCOMPARE(fromRaw<SubscriberStatus>(u"Bounced"), std::nullopt);
        QStringList sendable;
        for (SubscriberStatus s : allCases<SubscriberStatus>()) {
            sendable += isSendable(s) ? rawValue(s) : QString();
        }
        QCOMPARE(sendable.join(QString()), QStringLiteral("active"));
    }

    void slug() {
        // The id's first six hex digits, lower-cased, end every slug.
        const QList<std::pair<QString, QString>> cases{
            {"Hello, World!", "hello-world-5a3d00"},
            {"?!… —", "issue-5a3d00"},
            {"", "issue-5a3d00"},
            {"Ünïcode café", "n-code-caf-5a3d00"},        // non-ASCII letters separate words
            {"cafe\u0301 au lait", "caf-au-lait-5a3d00"}, // a combining mark is one character
            {"No. 12\r\nIssue", "no-12-issue-5a3d00"},
            {QString(200, u'a'), QString(80, u'a') + "-5a3d00"},
            {QString(79, u'a') + " b", QString(79, u'a') + "-5a3d00"}}; // cut, then trim hyphens
        const QUuid id = QUuid::fromString(QStringLiteral("5A3D0012-0000-4000-8000-000000000101"));
        for (const auto& [subject, expected] : cases) {
            const Newsletter issue{.id = id, .subject = subject};
            QCOMPARE(issue.slug(), expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestDataModel)
#include "tst_data_model.moc"
