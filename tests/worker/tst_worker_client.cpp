// WorkerClient against a scripted transport: the request shapes and the odd answers a real
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
using quillmere::test::ScriptedTransport;

namespace {

QDateTime utc(const char* text) {
    QDateTime date = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    return date.toUTC();
}

Subscriber sample() {
    return Subscriber{QUuid::fromString(QStringLiteral("{5A3D00C1-2B4E-4F60-9A1B-0C2D3E4F5A6B}")),
                      QStringLiteral("ada@example.com"),
                      QStringLiteral("Ada"),
                      SubscriberStatus::active,
                      QStringLiteral("manual"),
                      utc("2025-03-01T09:30:00.750Z"),
                      utc("2025-03-02T10:00:59.999Z")};
}

template <class T>
T run(QCoro::Task<T>&& task) {
    return quillmere::test::runTask(std::move(task));
}

WorkerClientError expectClientError(const std::function<void()>& call) {
    try {
        call();
    } catch (const WorkerClientError& error) {
        return error;
    }
    throw std::logic_error("expected a WorkerClientError");
}

} // namespace

class TestWorkerClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void requestsHaveTheWireShape();
    void pulledObjectsAreNormalised();
    void workerDatesInEveryForm();
    void errorAnswersCarryTheWorkersMessage();
    void answersOfTheWrongShapeAreDecodingErrors();
    void healthIsFalseOnAnyFailure();
    void largePushesGoOutInBatches();
};

void TestWorkerClient::requestsHaveTheWireShape() {
    auto transport = std::make_shared<ScriptedTransport>();
    const WorkerClient client(QUrl(QStringLiteral("https://postwick.writer.workers.dev//")),
                              QStringLiteral("tok"), transport);
    transport->enqueue(200, R"({"subscribers":[]})");
    transport->enqueue(200, R"({"subscribers":[]})");
    transport->enqueue(200, R"({"upserted":1})");
    transport->enqueue(201, "");
    transport->enqueue(200, R"({"ok":true})");

    QVERIFY(run(client.fetchSubscribers(std::nullopt)).isEmpty());
    QVERIFY(run(client.fetchSubscribers(utc("2025-03-01T09:30:00.750Z"))).isEmpty());
    QCOMPARE(run(client.upsertSubscribers({sample()})), 1);
    run(client.publishIssue(QStringLiteral("hello-world-5a3d00"),
                            QStringLiteral("Hello, \"World\""), QStringLiteral("<p>Hi & bye</p>"),
                            utc("2025-03-03T08:00:00.500Z")));
    QVERIFY(run(client.health()));

    const auto& r = transport->requests();
    QCOMPARE(r.size(), 5);
    const QMap<QString, QString> plain{
        {QStringLiteral("Authorization"), QStringLiteral("Bearer tok")},
        {QStringLiteral("Accept"), QStringLiteral("application/json")}};
    QMap<QString, QString> withBody = plain;
    withBody.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));

    QCOMPARE(r[0].method, QStringLiteral("GET"));
    QCOMPARE(r[0].url.toString(QUrl::FullyEncoded),
             QStringLiteral("https://postwick.writer.workers.dev/api/subscribers"));
    QCOMPARE(r[0].headers, plain);
    QVERIFY(r[0].body.isEmpty());

    QCOMPARE(r[1].url.toString(QUrl::FullyEncoded),
             QStringLiteral(
                 "https://postwick.writer.workers.dev/api/subscribers?since=2025-03-01T09:30:00Z"));

    QCOMPARE(r[2].method, QStringLiteral("POST"));
    QCOMPARE(r[2].url.toString(QUrl::FullyEncoded),
             QStringLiteral("https://postwick.writer.workers.dev/api/subscribers"));
    QCOMPARE(r[2].headers, withBody);
    QCOMPARE(
        r[2].body,
        QByteArray(
            R"({"subscribers":[{"created_at":"2025-03-01T09:30:00Z","email":"ada@example.com",)"
            R"("id":"5a3d00c1-2b4e-4f60-9a1b-0c2d3e4f5a6b","name":"Ada","source":"manual",)"
            R"("status":"active","updated_at":"2025-03-02T10:00:59Z"}]})"));

    QCOMPARE(r[3].url.toString(QUrl::FullyEncoded),
             QStringLiteral("https://postwick.writer.workers.dev/api/issues"));
    // (moc misreads a backslash inside a raw string, so this one is an ordinary literal.)
    const QByteArray published =
        "{\"html\":\"<p>Hi & bye</p>\",\"published_at\":\"2025-03-03T08:00:00Z\","
        "\"slug\":\"hello-world-5a3d00\",\"subject\":\"Hello, \\\"World\\\"\"}";
    QCOMPARE(r[3].body, published);

    QCOMPARE(r[4].method, QStringLiteral("GET"));
    QCOMPARE(r[4].url.toString(QUrl::FullyEncoded),
             QStringLiteral("https://postwick.writer.workers.dev/api/health"));
    QCOMPARE(r[4].headers, plain);
}

void TestWorkerClient::pulledObjectsAreNormalised() {
    auto transport = std::make_shared<ScriptedTransport>();
    const WorkerClient client(QUrl(QStringLiteral("https://w.example")), QStringLiteral("t"),
                              transport);
    const char* body = R"({"subscribers":[
        {"email":"  Reader@Example.COM \n","status":"vip","created_at":"2025-03-01T09:30:00Z"},
        {"name":"no address"},
        {"email":42},
        {"email":"   "},
        {"id":"5A3D00C1-2B4E-4F60-9A1B-0C2D3E4F5A6B","email":"b@example.com","name":"B",
         "status":"bounced","source":"sns","created_at":"2025-03-01T09:30:00Z","updated_at":"2025-03-05T00:00:00Z"},
        {"id":"{5a3d00c1-2b4e-4f60-9a1b-0c2d3e4f5a6b}","email":"c@example.com","name":7,"source":null}
    ]})";
    transport->enqueue(200, body);
    transport->enqueue(200, body);
    const auto first = run(client.fetchSubscribers(std::nullopt));
    const auto second = run(client.fetchSubscribers(std::nullopt));

    QCOMPARE(first.size(), 3);
    const Subscriber& a = first[0];
    QCOMPARE(a.email, QStringLiteral("reader@example.com"));
    QCOMPARE(a.status, SubscriberStatus::pending);
    QCOMPARE(a.source, QStringLiteral("worker"));
    QCOMPARE(a.name, QString());
    // The identifier derived from the address: SHA-256, version 5 and RFC 4122 variant bits,
    // computed independently with Python's hashlib and uuid.
    QCOMPARE(a.id, QUuid::fromString(QStringLiteral("d108b279-434f-51d5-8ac0-f1da63356460")));
    QCOMPARE(second[0].id, a.id);
    QCOMPARE(a.createdAt, utc("2025-03-01T09:30:00Z"));
    QCOMPARE(a.updatedAt, a.createdAt);

    QCOMPARE(first[1],
             (Subscriber{QUuid::fromString(QStringLiteral("5a3d00c1-2b4e-4f60-9a1b-0c2d3e4f5a6b")),
                         QStringLiteral("b@example.com"), QStringLiteral("B"),
                         SubscriberStatus::bounced, QStringLiteral("sns"),
                         utc("2025-03-01T09:30:00Z"), utc("2025-03-05T00:00:00Z")}));
    // Only the canonical 36-character text is a UUID; a name or source that is not text is empty
    // or "worker".
    QCOMPARE(first[2].id, WorkerClient::derivedID(QStringLiteral("c@example.com")));
    QCOMPARE(first[2].name, QString());
    QCOMPARE(first[2].source, QStringLiteral("worker"));
}

void TestWorkerClient::workerDatesInEveryForm() {
    const auto read = [](const QJsonValue& v) { return WorkerClient::readWorkerDate(v); };
    QCOMPARE(read(1700000000000.0), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    QCOMPARE(read(1700000000.0), QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC));
    QCOMPARE(read(1700000000.25), QDateTime::fromMSecsSinceEpoch(1700000000250, Qt::UTC));
    QCOMPARE(read(QStringLiteral("2025-03-01T09:30:00Z")), utc("2025-03-01T09:30:00Z"));
    QCOMPARE(read(QStringLiteral("2025-03-01T11:30:00+02:00")), utc("2025-03-01T09:30:00Z"));
    QCOMPARE(read(QStringLiteral("2025-03-01T11:30:00.250+0200")), utc("2025-03-01T09:30:00.250Z"));
    QCOMPARE(read(QStringLiteral("2025-03-01T09:30:00.250")), utc("2025-03-01T09:30:00.250Z"));
    QCOMPARE(read(QStringLiteral("2025-03-01 09:30:00")), utc("2025-03-01T09:30:00Z"));
    for (const QJsonValue& unreadable :
         {QJsonValue(QString()), QJsonValue(QStringLiteral("March the first")), QJsonValue(true),
          QJsonValue(QJsonArray{1}), QJsonValue(),
          QJsonValue(QStringLiteral("2025-02-30 09:30:00")),
          QJsonValue(QStringLiteral("2025-03-01T09:30:00Zjunk"))}) {
        QVERIFY2(!read(unreadable), qPrintable(QJsonDocument(QJsonArray{unreadable}).toJson()));
    }

    // Missing or unreadable dates: creation is now, and the update copies it.
    const QDateTime now = utc("2030-01-01T00:00:00Z");
    const auto s = WorkerClient::subscriberFromWire(
        QJsonObject{{QStringLiteral("email"), QStringLiteral("x@y.z")},
                    {QStringLiteral("created_at"), QStringLiteral("garbage")}},
        now);
    QVERIFY(s);
    QCOMPARE(s->createdAt, now);
    QCOMPARE(s->updatedAt, now);
}

void TestWorkerClient::errorAnswersCarryTheWorkersMessage() {
    auto transport = std::make_shared<ScriptedTransport>();
    const WorkerClient client(QUrl(QStringLiteral("https://w.example")), QStringLiteral("t"),
                              transport);
    const auto pull = [&] { run(client.fetchSubscribers(std::nullopt)); };

    transport->enqueue(500, R"({"error":"database unavailable","message":"ignored"})");
    auto error = expectClientError(pull);
    QCOMPARE(error, WorkerClientError::http(500, QStringLiteral("database unavailable")));
    QCOMPARE(error.description(), QStringLiteral("Worker error 500: database unavailable"));

    transport->enqueue(404, "<html><body>Not here</body></html>");
    QCOMPARE(expectClientError(pull),
             WorkerClientError::http(404, QStringLiteral("<html><body>Not here</body></html>")));

    transport->enqueue(400, R"({"error":5,"message":"fallback"})");
    QCOMPARE(expectClientError(pull), WorkerClientError::http(400, QStringLiteral("fallback")));

    transport->enqueue(400, R"({"error":5})");
    QCOMPARE(expectClientError(pull),
             WorkerClientError::http(400, QStringLiteral(R"({"error":5})")));

    transport->enqueue(502, QByteArray("\xff\xfe bad", 6));
    QCOMPARE(expectClientError(pull), WorkerClientError::http(502, QString()));

    // The transport's own failure passes through unchanged.
    transport->enqueueFailure(TransportError(QStringLiteral("Connection refused")));
    QVERIFY_THROWS_EXCEPTION(TransportError, pull());
    transport->enqueueFailure(TransportError(QStringLiteral("Connection refused")));
    QVERIFY_THROWS_EXCEPTION(TransportError, run(client.upsertSubscribers({sample()})));
}

void TestWorkerClient::answersOfTheWrongShapeAreDecodingErrors() {
    auto transport = std::make_shared<ScriptedTransport>();
    const WorkerClient client(QUrl(QStringLiteral("https://w.example")), QStringLiteral("t"),
                              transport);
    const auto expectedList =
        WorkerClientError::decoding(QStringLiteral("expected {subscribers:[...]}"));
    for (const char* body : {"not json", "[]", R"({"subscribers":{}})", R"({"subscribers":[1]})",
                             R"({"subscribers":[{"email":"a@b.c"},"x"]})", R"({"other":[]})"}) {
        transport->enqueue(200, body);
        const auto error = expectClientError([&] { run(client.fetchSubscribers(std::nullopt)); });
        QCOMPARE(error, expectedList);
        QCOMPARE(error.description(), QStringLiteral("expected {subscribers:[...]}"));
    }
    const auto expectedCount = WorkerClientError::decoding(QStringLiteral("expected {upserted:n}"));
    for (const char* body :
         {R"({"upserted":"3"})", R"({"count":3})", "3", "", R"({"upserted":null})"}) {
        transport->enqueue(200, body);
        QCOMPARE(expectClientError([&] { run(client.upsertSubscribers({sample()})); }),
                 expectedCount);
    }
    transport->enqueue(200, R"({"upserted":3.0})");
    QCOMPARE(run(client.upsertSubscribers({sample()})), 3);
    // Publishing takes any 2xx answer.
    transport->enqueue(204, "");
    run(client.publishIssue(QStringLiteral("s"), QStringLiteral("S"), QStringLiteral("<p/>"),
                            QDateTime::currentDateTimeUtc()));
}

void TestWorkerClient::healthIsFalseOnAnyFailure() {
    auto transport = std::make_shared<ScriptedTransport>();
    const WorkerClient client(QUrl(QStringLiteral("https://w.example")), QStringLiteral("t"),
                              transport);
    transport->enqueue(200, R"({"ok":"true"})");
    transport->enqueue(200, R"({"ok":false})");
    transport->enqueue(200, R"({})");
    transport->enqueue(200, "[true]");
    transport->enqueue(503, R"({"ok":true})");
    transport->enqueueFailure(TransportError(QStringLiteral("Connection refused")));
    transport->enqueue(200, R"({"ok":true})");
    for (int i = 0; i < 6; ++i) {
        QVERIFY2(!run(client.health()), qPrintable(QString::number(i)));
    }
    QVERIFY(run(client.health()));
}

void TestWorkerClient::largePushesGoOutInBatches() {
    auto transport = std::make_shared<ScriptedTransport>();
    const WorkerClient client(QUrl(QStringLiteral("https://w.example")), QStringLiteral("t"),
                              transport);
    QList<Subscriber> many;
    for (int i = 0; i < 4500; ++i) {
        Subscriber s = sample();
        s.id = QUuid::createUuid();
        s.email = QStringLiteral("reader%1@example.com").arg(i);
        many.append(s);
    }
    transport->enqueue(200, R"({"upserted":2000})");
    transport->enqueue(200, R"({"upserted":1999})");
    transport->enqueue(200, R"({"upserted":500})");
    QCOMPARE(run(client.upsertSubscribers(many)), 4499);
    QCOMPARE(transport->requests().size(), 3);
    QStringList emails;
    for (const HTTPRequest& request : std::as_const(transport->requests())) {
        const QJsonArray list =
            QJsonDocument::fromJson(request.body).object()[QStringLiteral("subscribers")].toArray();
        for (const QJsonValue& v : list) {
            emails.append(v[QStringLiteral("email")].toString());
        }
    }
    QCOMPARE(emails.size(), 4500);
    QCOMPARE(emails.first(), QStringLiteral("reader0@example.com"));
    QCOMPARE(emails.last(), QStringLiteral("reader4499@example.com"));

    // A failing batch ends the push with its error.
    const qsizetype before = transport->requests().size();
    transport->enqueue(200, R"({"upserted":2000})");
    transport->enqueue(401, R"({"error":"The API token is missing or wrong."})");
    QCOMPARE(expectClientError([&] { run(client.upsertSubscribers(many)); }),
             WorkerClientError::http(401, QStringLiteral("The API token is missing or wrong.")));
    QCOMPARE(transport->requests().size() - before, 2);
}

QTEST_GUILESS_MAIN(TestWorkerClient)
#include "tst_worker_client.moc"
