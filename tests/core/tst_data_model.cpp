#include "core/aws_credentials.h"
#include "core/decoding_error.h"
#include "core/iso_date.h"
#include "core/library.h"
#include "core/uuid_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quillmere;

namespace {

QJsonObject parse(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

QDateTime at(const char* iso) {
    return *IsoDate::parse(QString::fromLatin1(iso));
}

Newsletter issueWithSubject(const QString& subject) {
    Newsletter n;
    n.id = QUuid::fromString(QStringLiteral("5A3D0012-0000-4000-8000-000000000101"));
    n.subject = subject;
    return n;
}

Library richLibrary() {
    Library library;
    library.profile.publicationName = QStringLiteral("Field Notes — Ünïcode");
    library.profile.fromEmail = QStringLiteral("ann@example.com");
    library.profile.doubleOptIn = false;
    Subscriber s;
    s.id = QUuid::createUuid();
    s.email = QStringLiteral("reader@example.com");
    s.name = QStringLiteral("Zoë \"Z\" O'Neil");
    s.status = SubscriberStatus::complained;
    s.source = QStringLiteral("import:substack");
    s.createdAt = at("2025-03-14T09:26:53.589Z");
    s.updatedAt = at("2025-03-15T00:00:00.001Z");
    library.subscribers = {s};
    Newsletter n = issueWithSubject(QStringLiteral("Hello"));
    n.markdown = QStringLiteral("# Hi {{name}}\n");
    n.emailTemplate = EmailTemplate::letter;
    n.status = CampaignStatus::failed;
    n.createdAt = at("2024-02-29T23:59:59.999Z");
    n.sentAt = at("2024-03-01T00:00:00.000Z");
    n.stats = CampaignStats{9007199254740993, 5, 4, 3, 2, 1};
    n.deliveredIDs = {s.id, QUuid::createUuid(), QUuid::createUuid()};
    library.newsletters = {n};
    library.lastSync = at("2026-01-01T12:00:00.250Z");
    return library;
}

// Decodes and returns the failure, or fails the test when decoding succeeds.
DecodingError decodingFailure(const QJsonObject& document) {
    try {
        Library::fromJson(document);
    } catch (const DecodingError& error) {
        return error;
    }
    qFatal("decoding unexpectedly succeeded");
}

} // namespace

class TestDataModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTripKeepsEveryField() {
        const Library library = richLibrary();
        const QJsonObject json = library.toJson();
        const Library back = Library::fromJson(json);
        QCOMPARE(back, library);
        QCOMPARE(qHash(back), qHash(library));
        // Large counters survive exactly (no detour through double).
        QCOMPARE(back.newsletters[0].stats.recipients, 9007199254740993LL);
        // Stored forms: enumerations by raw text, upper-case UUIDs, keys exactly the field names.
        const QJsonObject issue = json[QLatin1String("newsletters")][0].toObject();
        QCOMPARE(issue[QLatin1String("template")].toString(), QStringLiteral("letter"));
        QCOMPARE(issue[QLatin1String("status")].toString(), QStringLiteral("failed"));
        QCOMPARE(issue[QLatin1String("id")].toString(),
                 QStringLiteral("5A3D0012-0000-4000-8000-000000000101"));
        QCOMPARE(issue.keys(),
                 (QStringList{"createdAt", "deliveredIDs", "id", "markdown", "previewText",
                              "sentAt", "stats", "status", "subject", "template"}));
        QCOMPARE(
            json[QLatin1String("subscribers")][0].toObject().keys(),
            (QStringList{"createdAt", "email", "id", "name", "source", "status", "updatedAt"}));
    }

    void optionalKeysAreOmittedAndReadAsAbsent() {
        Library library;
        library.newsletters = {issueWithSubject(QStringLiteral("x"))};
        const QJsonObject json = library.toJson();
        QVERIFY(!json.contains(QLatin1String("lastSync")));
        QVERIFY(
            !json[QLatin1String("newsletters")][0].toObject().contains(QLatin1String("sentAt")));
        QCOMPARE(Library::fromJson(json).newsletters[0].sentAt, std::nullopt);

        AWSCredentials keys{QStringLiteral("AKIA"), QStringLiteral("secret"), std::nullopt};
        QVERIFY(!keys.toJson().contains(QLatin1String("sessionToken")));
        QCOMPARE(AWSCredentials::fromJson(keys.toJson()), keys);
        keys.sessionToken = QString();
        QCOMPARE(AWSCredentials::fromJson(keys.toJson()), keys); // empty token is kept, not lost
    }

    void libraryIsLenientOnlyAtItsOwnLevel() {
        const Library empty = Library::fromJson(QJsonObject());
        QCOMPARE(empty, Library());
        QCOMPARE(empty.profile.region, QStringLiteral("us-east-1"));
        QVERIFY(empty.profile.doubleOptIn);

        // A present profile is strict: a missing key fails the whole document.
        const DecodingError missing =
            decodingFailure(parse(R"({"profile": {"publicationName": "x"}})"));
        QCOMPARE(missing.kind(), QStringLiteral("SenderProfile"));
        QCOMPARE(missing.path(), QStringLiteral("profile"));
    }

    void strictRecordsNameWhatFailed_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("reasonStart");
        const QByteArray good = R"({"id": "5A3D0000-0000-4000-8000-000000000007", "email": "a@b.co",
            "name": "", "status": "active", "source": "manual",
            "createdAt": "2025-03-14T09:26:53.589Z", "updatedAt": "2025-03-14T09:26:53Z"})";
        const auto withSubscriber = [&](QByteArray subscriber) {
            return R"({"subscribers": [)" + good + "," + subscriber + "]}";
        };
        QByteArray noSource = good;
        noSource.replace(R"("source": "manual",)", "");
        QTest::newRow("missing source") << withSubscriber(noSource) << "Subscriber"
                                        << "subscribers[1]"
                                        << "source"
                                        << "missing";
        QByteArray badStatus = good;
        badStatus.replace(R"("active")", R"("gone")");
        QTest::newRow("unknown status") << withSubscriber(badStatus) << "Subscriber"
                                        << "subscribers[1]"
                                        << "status"
                                        << "unknown value \"gone\"";
        QByteArray numericName = good;
        numericName.replace(R"("name": "")", R"("name": 12)");
        QTest::newRow("wrong type") << withSubscriber(numericName) << "Subscriber"
                                    << "subscribers[1]"
                                    << "name"
                                    << "expected text, found number 12";
        QByteArray badDate = good;
        badDate.replace("2025-03-14T09:26:53.589Z", "yesterday");
        QTest::newRow("bad date") << withSubscriber(badDate) << "Subscriber"
                                  << "subscribers[1]"
                                  << "createdAt"
                                  << "Invalid ISO8601 date: yesterday";
        QByteArray badID = good;
        badID.replace("5A3D0000-0000-4000-8000-000000000007", "seven");
        QTest::newRow("bad id") << withSubscriber(badID) << "Subscriber"
                                << "subscribers[1]"
                                << "id"
                                << "not a UUID";
        QTest::newRow("fractional counter")
            << QByteArray(R"({"newsletters": [{"id": "5A3D0000-0000-4000-8000-000000000101",
                "subject": "", "previewText": "", "markdown": "", "template": "plain",
                "status": "draft", "createdAt": "2025-01-01T00:00:00Z", "deliveredIDs": [],
                "stats": {"recipients": 1.5, "sent": 0, "failed": 0, "bounced": 0,
                          "complained": 0, "unsubscribed": 0}}]})")
            << "CampaignStats"
            << "newsletters[0].stats"
            << "recipients"
            << "expected a whole number";
        QTest::newRow("bad delivered id")
            << QByteArray(R"({"newsletters": [{"id": "5A3D0000-0000-4000-8000-000000000101",
                "subject": "", "previewText": "", "markdown": "", "template": "plain",
                "status": "draft", "createdAt": "2025-01-01T00:00:00Z", "deliveredIDs": [3],
                "stats": {"recipients": 0, "sent": 0, "failed": 0, "bounced": 0,
                          "complained": 0, "unsubscribed": 0}}]})")
            << "Newsletter"
            << "newsletters[0]"
            << "deliveredIDs"
            << "element 0 is not a UUID";
        QTest::newRow("subscribers not a list") << QByteArray(R"({"subscribers": {}})") << "Library"
                                                << ""
                                                << "subscribers"
                                                << "expected a list";
    }

    void strictRecordsNameWhatFailed() {
        QFETCH(QByteArray, json);
        QFETCH(QString, kind);
        QFETCH(QString, path);
        QFETCH(QString, key);
        QFETCH(QString, reasonStart);
        const QJsonDocument document = QJsonDocument::fromJson(json);
        QVERIFY2(document.isObject(), json.constData());
        const DecodingError error = decodingFailure(document.object());
        QCOMPARE(error.kind(), kind);
        QCOMPARE(error.path(), path);
        QCOMPARE(error.key(), key);
        QVERIFY2(error.reason().startsWith(reasonStart), qPrintable(error.reason()));
        // The readable line names all three, so a person can find the spot in the file.
        QVERIFY(error.description().contains(kind));
        QVERIFY(error.description().contains(key));
    }

    void datesReadBothFormsAndWriteMilliseconds() {
        QCOMPARE(IsoDate::format(at("2025-03-14T09:26:53.589Z")),
                 QStringLiteral("2025-03-14T09:26:53.589Z"));
        QCOMPARE(IsoDate::format(at("2025-03-14T09:26:53Z")),
                 QStringLiteral("2025-03-14T09:26:53.000Z"));
        // Offsets are honoured and written back in UTC.
        QCOMPARE(IsoDate::format(at("2025-03-14T10:26:53.5+01:00")),
                 QStringLiteral("2025-03-14T09:26:53.500Z"));
        QCOMPARE(IsoDate::formatSeconds(at("2025-03-01T09:30:00.999Z")),
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
        const QString a = QStringLiteral("0A000000-0000-4000-8000-000000000001");
        const QString b = QStringLiteral("FF000000-0000-4000-8000-000000000001");
        const QString c = QStringLiteral("1B000000-0000-4000-8000-0000000000FF");
        const auto issueJSON = [](QStringList ids) {
            return QJsonObject{
                {"newsletters",
                 QJsonArray{QJsonObject{{"id", "5A3D0000-0000-4000-8000-000000000101"},
                                        {"subject", ""},
                                        {"previewText", ""},
                                        {"markdown", ""},
                                        {"template", "plain"},
                                        {"status", "draft"},
                                        {"createdAt", "2025-01-01T00:00:00Z"},
                                        {"stats", CampaignStats().toJson()},
                                        {"deliveredIDs", QJsonArray::fromStringList(ids)}}}}};
        };
        const Library one = Library::fromJson(issueJSON({a, b, c}));
        const Library other = Library::fromJson(issueJSON({c, a, b}));
        QCOMPARE(one, other);
        QCOMPARE(one.toJson(), other.toJson());
        const QJsonArray written = one.toJson()["newsletters"][0]["deliveredIDs"].toArray();
        QCOMPARE(written, QJsonArray::fromStringList({a, c, b}));
    }

    void ratesAreFractionsOfSent() {
        CampaignStats stats;
        QCOMPARE(stats.bounceRate(), 0.0);
        QCOMPARE(stats.complaintRate(), 0.0);
        stats.sent = 18;
        stats.bounced = 1;
        stats.complained = 2;
        QCOMPARE(stats.bounceRate(), 1.0 / 18.0);
        QCOMPARE(stats.complaintRate(), 2.0 / 18.0);
    }

    void enumerationsKnowTheirRawTexts() {
        QCOMPARE(rawValue(SubscriberStatus::unsubscribed), QStringLiteral("unsubscribed"));
        QCOMPARE(fromRaw<SubscriberStatus>(u"bounced"), SubscriberStatus::bounced);
        QCOMPARE(fromRaw<SubscriberStatus>(u"Bounced"), std::nullopt);
        QCOMPARE(allCases<SubscriberStatus>().size(), size_t(5));
        QCOMPARE(allCases<SubscriberStatus>()[0], SubscriberStatus::pending);
        int sendable = 0;
        for (SubscriberStatus s : allCases<SubscriberStatus>()) {
            sendable += isSendable(s) ? 1 : 0;
        }
        QCOMPARE(sendable, 1);
        QVERIFY(isSendable(SubscriberStatus::active));
        QCOMPARE(displayName(EmailTemplate::editorial), QStringLiteral("Editorial"));
    }

    void slug_data() {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("expected");
        QTest::newRow("punctuation") << "Hello, World!"
                                     << "hello-world-5a3d00";
        QTest::newRow("only punctuation") << "?!… —"
                                          << "issue-5a3d00";
        QTest::newRow("empty") << ""
                               << "issue-5a3d00";
        QTest::newRow("non-ascii letters separate")
            << QStringLiteral("Ünïcode café") << "n-code-caf-5a3d00";
        QTest::newRow("combining mark is one character")
            << QStringLiteral("cafe\u0301 au lait") << "caf-au-lait-5a3d00";
        QTest::newRow("crlf and digits") << "No. 12\r\nIssue"
                                         << "no-12-issue-5a3d00";
        QTest::newRow("200 letters") << QString(200, u'a') << QString(80, u'a') + "-5a3d00";
        QTest::newRow("cut then trim hyphens")
            << QString(79, u'a') + QStringLiteral(" b") << QString(79, u'a') + "-5a3d00";
    }

    void slug() {
        QFETCH(QString, subject);
        QFETCH(QString, expected);
        QCOMPARE(issueWithSubject(subject).slug(), expected);
    }
};

QTEST_GUILESS_MAIN(TestDataModel)
#include "tst_data_model.moc"
