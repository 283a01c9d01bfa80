// WorkerClient against a scripted transport: the exact request bytes and the odd answers a real
// worker is never made to give (the live worker is exercised in tst_worker_client_live).

#include "ses/transport_error.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"
#include "worker/worker_client.h"
#include "worker/worker_client_error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;
using quillmere::test::ScriptedTransport;

namespace {

QDateTime utc(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toUTC();
}

Subscriber sample() {
    return Subscriber{QUuid::fromString(u"{5A3D00C1-2B4E-4F60-9A1B-0C2D3E4F5A6B}"_s),
                      u"ada@example.com"_s,
                      u"Ada"_s,
                      SubscriberStatus::active,
                      u"manual"_s,
                      utc("2025-03-01T09:30:00.750Z"),
                      utc("2025-03-02T10:00:59.999Z")};
}

struct Fixture {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    WorkerClient client{QUrl(u"https://w.example//"_s), u"tok"_s, transport};

    // What the call made of one scripted answer: its result or the error's description.
    template <class Call>
    QString answer(int status, const QByteArray& body, Call call) {
        transport->enqueue(status, body);
        try {
            return QVariant::fromValue(test::runTask(call())).toString();
        } catch (const WorkerClientError& error) {
            return error.description();
        }
    }
    QCoro::Task<qint64> push() const { return client.upsertSubscribers({sample()}); }
    QCoro::Task<qint64> pullCount() const {
        co_return (co_await client.fetchSubscribers(std::nullopt)).size();
    }
};

} // namespace

class TestWorkerClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestBytes();
    void oddAnswers();
    void pulledObjectsAreNormalised();
    void workerDatesInEveryForm();
    void largePushesGoOutInBatches();
    void pagesAndHealthReports();
};

void TestWorkerClient::requestBytes() {
    Fixture f;
    f.transport->enqueue(200, R"({"subscribers":[]})");
    f.transport->enqueue(200, R"({"upserted":1})");
    f.transport->enqueue(201, "");
    test::runTask(f.client.fetchSubscribers(std::nullopt));
    test::runTask(f.client.upsertSubscribers({sample()}));
    test::runTask(f.client.publishIssue(u"hello-world-5a3d00"_s, u"Hello, \"World\""_s,
                                        u"<p>Hi & bye</p>"_s, utc("2025-03-03T08:00:00.500Z")));
    const auto& r = f.transport->requests();
    // The URLs are proven by the live worker and by the pages below.
    QCOMPARE(r[0].headers, (QMap<QString, QString>{{u"Authorization"_s, u"Bearer tok"_s},
                                                   {u"Accept"_s, u"application/json"_s}}));
    QCOMPARE(r[1].headers.value(u"Content-Type"_s), u"application/json"_s);
    QCOMPARE(
        r[1].body,
        QByteArray(
            R"({"subscribers":[{"created_at":"2025-03-01T09:30:00Z","email":"ada@example.com",)"
            R"("id":"5a3d00c1-2b4e-4f60-9a1b-0c2d3e4f5a6b","name":"Ada","source":"manual",)"
            R"("status":"active","updated_at":"2025-03-02T10:00:59Z"}]})"));
    QCOMPARE(r[2].url.toString(), u"https://w.example/api/issues"_s);
    // (moc misreads a backslash inside a raw string, so this one is an ordinary literal.)
    QCOMPARE(r[2].body,
             QByteArray("{\"html\":\"<p>Hi & bye</p>\",\"published_at\":\"2025-03-03T08:00:00Z\","
                        "\"slug\":\"hello-world-5a3d00\",\"subject\":\"Hello, \\\"World\\\"\"}"));
}

void TestWorkerClient::oddAnswers() {
    Fixture f;
    const auto pull = [&](int status, const QByteArray& body) {
        return f.answer(status, body, [&] { return f.pullCount(); });
    };
    const auto push = [&](int status, const QByteArray& body) {
        return f.answer(status, body, [&] { return f.push(); });
    };
    // Errors carry the worker's message, else the body as text.
    QCOMPARE(pull(500, R"({"error":"database unavailable","message":"ignored"})"),
             u"Worker error 500: database unavailable"_s);
    QCOMPARE(pull(400, R"({"error":5,"message":"fallback"})"), u"Worker error 400: fallback"_s);
    QCOMPARE(pull(400, R"({"error":5})"), uR"(Worker error 400: {"error":5})"_s);
    QCOMPARE(pull(404, "<html>Not here</html>"), u"Worker error 404: <html>Not here</html>"_s);
    QCOMPARE(pull(502, QByteArray("\xff\xfe bad", 6)), u"Worker error 502"_s);
    // A 2xx answer of the wrong shape is a decoding error.
    for (const char* body : {"not json", "[]", R"({"subscribers":{}})", R"({"subscribers":[1]})",
                             R"({"subscribers":[{"email":"a@b.c"},"x"]})", R"({"other":[]})"}) {
        QCOMPARE(pull(200, body), u"expected {subscribers:[...]}"_s);
    }
    for (const char* body :
         {R"({"upserted":"3"})", R"({"count":3})", "3", "", R"({"upserted":null})"}) {
        QCOMPARE(push(200, body), u"expected {upserted:n}"_s);
    }
    QCOMPARE(push(200, R"({"upserted":3.0})"), u"3"_s);

    // Health is false on any failure, and the transport's own failure passes through elsewhere.
    const auto health = [&] { return f.client.health(); };
    for (const char* body : {R"({"ok":"true"})", R"({"ok":false})", "{}", "[true]"}) {
        QCOMPARE(f.answer(200, body, health), u"false"_s);
    }
    QCOMPARE(f.answer(503, R"({"ok":true})", health), u"false"_s);
    QCOMPARE(f.answer(200, R"({"ok":true})", health), u"true"_s);
    f.transport->enqueueFailure(TransportError(u"Connection refused"_s));
    QVERIFY(!test::runTask(f.client.health()));
    f.transport->enqueueFailure(TransportError(u"Connection refused"_s));
    QVERIFY_THROWS_EXCEPTION(TransportError, test::runTask(f.client.upsertSubscribers({sample()})));
}

void TestWorkerClient::pulledObjectsAreNormalised() {
    Fixture f;
    f.transport->enqueue(200, R"({"subscribers":[
        {"email":"  Reader@Example.COM \n","status":"vip","created_at":"2025-03-01T09:30:00Z"},
        {"name":"no address"}, {"email":42}, {"email":"   "},
        {"id":"{5a3d00c1-2b4e-4f60-9a1b-0c2d3e4f5a6b}","email":"c@example.com","name":7,"source":null}
    ]})");
    const auto pulled = test::runTask(f.client.fetchSubscribers(std::nullopt));
    QCOMPARE(pulled.size(), 2);
    const Subscriber& a = pulled[0];
    QCOMPARE(a.email, u"reader@example.com"_s);
    QCOMPARE(a.status, SubscriberStatus::pending);
    QCOMPARE(a.source, u"worker"_s);
    // The identifier derived from the address: SHA-256, version 5 and RFC 4122 variant bits,
    // computed independently with Python's hashlib and uuid.
    QCOMPARE(a.id, QUuid::fromString(u"d108b279-434f-51d5-8ac0-f1da63356460"_s));
    QCOMPARE(a.updatedAt, a.createdAt);
    // Only the canonical 36-character text is a UUID; a name or source that is not text is empty
    // or "worker".
    QCOMPARE(pulled[1].id, WorkerClient::derivedID(u"c@example.com"_s));
    QCOMPARE(pulled[1].name, QString());
    QCOMPARE(pulled[1].source, u"worker"_s);
}

void TestWorkerClient::workerDatesInEveryForm() {
    const auto read = [](const QJsonValue& v) { return WorkerClient::readWorkerDate(v); };
    QCOMPARE(read(1700000000000.0), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    QCOMPARE(read(1700000000.25), QDateTime::fromMSecsSinceEpoch(1700000000250, Qt::UTC));
    QCOMPARE(read(u"2025-03-01T11:30:00.250+0200"_s), utc("2025-03-01T09:30:00.250Z"));
    QCOMPARE(read(u"2025-03-01T09:30:00.250"_s), utc("2025-03-01T09:30:00.250Z"));
    QCOMPARE(read(u"2025-03-01 09:30:00"_s), utc("2025-03-01T09:30:00Z"));
    for (const QJsonValue& unreadable :
         {QJsonValue(u"March the first"_s), QJsonValue(true), QJsonValue(),
          QJsonValue(u"2025-02-30 09:30:00"_s), QJsonValue(u"2025-03-01T09:30:00Zjunk"_s)}) {
        QVERIFY2(!read(unreadable), qPrintable(QJsonDocument(QJsonArray{unreadable}).toJson()));
    }
    // Missing or unreadable dates: creation is now, and the update copies it.
    const QDateTime now = utc("2030-01-01T00:00:00Z");
    const auto s = WorkerClient::subscriberFromWire(
        {{u"email"_s, u"x@y.z"_s}, {u"created_at"_s, u"garbage"_s}}, now);
    QVERIFY(s && s->createdAt == now && s->updatedAt == now);
}

void TestWorkerClient::largePushesGoOutInBatches() {
    Fixture f;
    QList<Subscriber> many;
    for (int i = 0; i < 4500; ++i) {
        Subscriber s = sample();
        s.email = u"reader%1@example.com"_s.arg(i);
        many.append(s);
    }
    for (int batch = 0; batch < 9; ++batch) {
        f.transport->enqueue(200, batch == 1 ? R"({"upserted":499})" : R"({"upserted":500})");
    }
    QCOMPARE(test::runTask(f.client.upsertSubscribers(many)), 4499);
    QStringList emails;
    for (const HTTPRequest& request : std::as_const(f.transport->requests())) {
        for (const QJsonValue& v :
             QJsonDocument::fromJson(request.body)[u"subscribers"_s].toArray()) {
            emails.append(v[u"email"_s].toString());
        }
    }
    QCOMPARE(f.transport->requests().size(), 9);
    QCOMPARE(emails.size(), 4500);
    QCOMPARE(emails.last(), u"reader4499@example.com"_s);

    // A failing batch ends the push with its error.
    f.transport->enqueue(200, R"({"upserted":500})");
    f.transport->enqueue(401, R"({"error":"The API token is missing or wrong."})");
    QVERIFY_THROWS_EXCEPTION(WorkerClientError, test::runTask(f.client.upsertSubscribers(many)));
    QCOMPARE(f.transport->requests().size(), 11);
}

void TestWorkerClient::pagesAndHealthReports() {
    Fixture f;
    // A pull follows "next" to the end; a page position replaces "since".
    f.transport->enqueue(200, R"({"subscribers":[{"email":"a@x.example"}],)"
                              R"("syncedAt":"2026-05-01T12:00:00Z","next":"eyJ+a/"})");
    f.transport->enqueue(200, R"({"subscribers":[{"email":"b@x.example"}],"syncedAt":"soon"})");
    QCOMPARE(test::runTask(f.client.fetchSubscribers(utc("2026-05-01T11:00:00Z"))).size(), 2);
    QCOMPARE(f.transport->requests()[1].url.toString(QUrl::FullyEncoded),
             u"https://w.example/api/subscribers?next=eyJ%2Ba/"_s);
    f.transport->enqueue(200, R"({"subscribers":[],"syncedAt":"2026-05-01T12:00:00Z"})");
    f.transport->enqueue(200, R"({"subscribers":[],"syncedAt":"soon","next":""})");
    QCOMPARE(test::runTask(f.client.fetchPage(std::nullopt)),
             (WorkerPage{{}, utc("2026-05-01T12:00:00Z"), std::nullopt}));
    QCOMPARE(test::runTask(f.client.fetchPage(std::nullopt)), WorkerPage{});

    f.transport->enqueue(200, R"({"ok":true,"awsAccountId":"123456789012","mailConfigured":false,)"
                              R"("mailFailure":{"at":"2026-05-01T10:00:00Z","message":"SES 403"},)"
                              R"("snsFailure":null})");
    f.transport->enqueue(200, R"({"ok":true})");
    QCOMPARE(
        test::runTask(f.client.healthReport()),
        (WorkerHealth{true, u"123456789012"_s, false,
                      WorkerFailure{utc("2026-05-01T10:00:00Z"), u"SES 403"_s}, std::nullopt}));
    // A worker of an older version says only that it is up.
    QCOMPARE(test::runTask(f.client.healthReport()), (WorkerHealth{true, {}, {}, {}, {}}));
    QCOMPARE(f.answer(200, R"({"up":true})", [&] { return f.client.healthReport(); }),
             u"expected {ok:boolean}"_s);
}

QTEST_GUILESS_MAIN(TestWorkerClient)
#include "tst_worker_client.moc"
