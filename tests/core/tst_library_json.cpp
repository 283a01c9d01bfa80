#include "core/decoding_error.h"
#include "core/iso_date.h"
#include "core/library_file.h"
#include "core/library_json.h"
#include "core/sample_data.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>

using namespace quillmere;

namespace {

// Our file indents by two spaces a level; Qt's writer by four. Lines never start inside a
// string (line breaks in strings are escaped), so doubling the indentation is exact.
QByteArray asQtIndentation(const QByteArray& ours) {
    QByteArray out;
    for (const QByteArray& line : ours.split('\n')) {
        qsizetype spaces = 0;
        while (spaces < line.size() && line[spaces] == ' ') {
            ++spaces;
        }
        out += QByteArray(spaces * 2, ' ') + line.mid(spaces) + '\n';
    }
    out.chop(1);
    return out;
}

QByteArray qtBytes(const Library& library) {
    return QJsonDocument(library.toJson()).toJson(QJsonDocument::Indented);
}

Library strictRead(const QByteArray& bytes) {
    return Library::fromJson(QJsonDocument::fromJson(bytes).object());
}

Library awkwardLibrary() {
    Library library;
    QString weird = QStringLiteral("quote \" backslash \\ slash / controls ");
    for (char16_t c = 0; c < 0x20; ++c) {
        weird += QChar(c);
    }
    weird += QStringLiteral(" DEL \x7f é € 😀 ") + QChar(0xD800) + QStringLiteral(" lone ") +
             QChar(0xDC00) + QChar(0x2028);
    library.profile.publicationName = weird;
    library.profile.postalAddress = QStringLiteral("1 Main St\r\nSpringfield\n");
    library.profile.region = QString();
    Subscriber s;
    s.id = QUuid(); // the nil id is still an id
    s.email = weird;
    s.createdAt = QDateTime::fromMSecsSinceEpoch(-1, Qt::UTC);
    s.updatedAt = *IsoDate::parse(u"9999-12-31T23:59:59.999Z");
    library.subscribers = {s, s};
    Newsletter empty;
    empty.id = QUuid::createUuid();
    empty.stats = CampaignStats{std::numeric_limits<qint64>::max(), -1, 0, 0, 0, 0};
    library.newsletters = {empty};
    return library;
}

Library randomLibrary(QRandomGenerator& random) {
    Library library = SampleData::library();
    for (Subscriber& s : library.subscribers) {
        if (random.bounded(3) == 0) {
            s.name += QChar(char16_t(random.bounded(1, 0xD7FF)));
        }
        s.updatedAt = s.updatedAt.addMSecs(random.bounded(1000));
    }
    for (int i = 0; i < 200; ++i) {
        library.newsletters[2].deliveredIDs.insert(QUuid::createUuid());
    }
    library.newsletters[1].failedIDs.insert(QUuid::createUuid());
    library.newsletters[1].uncertainIDs.insert(QUuid::createUuid());
    library.lastSync.reset();
    return library;
}

} // namespace

class TestLibraryJSON : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Our writer gives Qt's bytes; the fast reader agrees with the strict one on every form.
    void writerAndFastReaderAgreeWithQt() {
        QRandomGenerator random(7);
        const QList<Library> libraries{Library(), SampleData::library(), awkwardLibrary(),
                                       randomLibrary(random), randomLibrary(random)};
        for (const Library& library : libraries) {
            const QByteArray ours = LibraryJSON::write(library);
            QCOMPARE(asQtIndentation(ours), qtBytes(library));
            QVERIFY(ours.endsWith("}\n"));
            for (const QByteArray& bytes :
                 {ours, qtBytes(library),
                  QJsonDocument(library.toJson()).toJson(QJsonDocument::Compact)}) {
                const auto fast = LibraryJSON::readFast(bytes);
                const Library strict = strictRead(bytes);
                QCOMPARE(strict, library);
                // Lone surrogates are left to the strict reader; everything else is fast.
                QVERIFY(fast || library.profile.publicationName.contains(QChar(0xD800)));
                QVERIFY(!fast || *fast == strict);
            }
        }
    }

    void unusualDocumentsTakeTheStrictPath_data() {
        QTest::addColumn<QByteArray>("json");
        const QByteArray subscriber =
            R"({"id": "5a3d0000-0000-4000-8000-000000000007", "email": "a@b.co",
            "name": "\u00e9", "status": "active", "source": "manual",
            "createdAt": "2025-03-14T09:26:53.589+02:00", "updatedAt": "2025-03-14T09:26:53Z"})";
        QTest::newRow("keys in another order, lower-case id") << QByteArray(
            R"({"subscribers": [)" + subscriber + R"(], "lastSync": "2025-01-01T00:00:00Z"})");
        QTest::newRow("unknown key")
            << QByteArray(R"({"future": 1, "subscribers": [)" + subscriber + "]}");
        QTest::newRow("integral fraction")
            << QByteArray(R"({"newsletters": [{"id": "5A3D0000-0000-4000-8000-000000000101",
                "subject": "", "previewText": "", "markdown": "", "template": "plain",
                "status": "draft", "createdAt": "2025-01-01T00:00:00Z", "deliveredIDs": [],
                "stats": {"recipients": 2.0, "sent": 1e0, "failed": 0, "bounced": 0,
                          "complained": 0, "unsubscribed": 0}}]})");
        QTest::newRow("escaped surrogate pair")
            << QByteArray(R"({"profile": {"publicationName": "\ud83d\ude00",
            "fromName": "", "fromEmail": "", "replyTo": "", "postalAddress": "", "region": "",
            "domain": "", "workerBaseURL": "", "doubleOptIn": false}})");
        QTest::newRow("braced id")
            << QByteArray(R"({"subscribers": [{"id": "{5a3d0000-0000-4000-8000-000000000007}",
            "email": "a@b.co", "name": "", "status": "active", "source": "manual",
            "createdAt": "2025-03-14T09:26:53Z", "updatedAt": "2025-03-14T09:26:53Z"}]})");
    }

    void unusualDocumentsTakeTheStrictPath() {
        QFETCH(QByteArray, json);
        const Library strict = strictRead(json);
        QCOMPARE(LibraryFile::decode(json), strict);
        if (const auto fast = LibraryJSON::readFast(json)) {
            QCOMPARE(*fast, strict);
        }
    }

    void damagedDocumentsFailWithTheStrictMessage_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("reason");
        const auto add = [](const char* name, const char* json, const char* reason) {
            QTest::newRow(name) << QByteArray(json) << QString::fromUtf8(reason);
        };
        add("truncated", R"({"subscribers": [)", "not valid JSON");
        add("trailing garbage", "{} x", "not valid JSON");
        add("not an object", "[]", "the document is not a JSON object");
        add("duplicate key with a bad value",
            R"({"lastSync": "2025-01-01T00:00:00Z", "lastSync": "soon"})",
            "Invalid ISO8601 date: soon");
        add("invalid UTF-8", "{\"profile\": \"\xff\"}", "not valid JSON");
    }

    void damagedDocumentsFailWithTheStrictMessage() {
        QFETCH(QByteArray, json);
        QFETCH(QString, reason);
        QVERIFY(!LibraryJSON::readFast(json));
        try {
            LibraryFile::decode(json);
            QFAIL("decoding must fail");
        } catch (const DecodingError& error) {
            QVERIFY2(error.reason().startsWith(reason), qPrintable(error.reason()));
        }
    }
};

QTEST_GUILESS_MAIN(TestLibraryJSON)
#include "tst_library_json.moc"
