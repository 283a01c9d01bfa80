// WorkerClient against the real worker: resources/worker.js in Miniflare with D1, over HTTP on
// loopback.

#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/run_task.h"
#include "support/node_peer.h"
#include "worker/worker_client.h"
#include "worker/worker_client_error.h"

#include <QTest>

using namespace quillmere;
using namespace quillmere::test;

namespace {

QDateTime utc(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs).toUTC();
}

QDateTime wholeSeconds(const QDateTime& date) {
    return QDateTime::fromSecsSinceEpoch(date.toSecsSinceEpoch(), Qt::UTC);
}

Subscriber reader(const QString& email, const char* created, const char* updated,
                  SubscriberStatus status = SubscriberStatus::active) {
    return Subscriber{QUuid::createUuid(),
                      email,
                      QStringLiteral("Reader"),
                      status,
                      QStringLiteral("manual"),
                      utc(created),
                      utc(updated)};
}

const Subscriber* find(const QList<Subscriber>& list, const QString& email) {
    for (const Subscriber& s : list) {
        if (s.email == email) {
            return &s;
        }
    }
    return nullptr;
}

} // namespace

class TestWorkerClientLive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_worker.reset(); }
    void healthAndAWrongToken();
    void pushThenPullSince();
    void changesMadeOnTheWorkerComeHome();
    void publishedIssuesAreServedInTheArchive();

private:
    WorkerClient client(const QString& token) const {
        return WorkerClient(m_base, token, m_transport);
    }
    HTTPResponse post(const QUrl& url, const QByteArray& form);

    std::unique_ptr<NodePeer> m_worker;
    std::shared_ptr<NetworkTransport> m_transport = std::make_shared<NetworkTransport>();
    QString m_token = ReaderLinks::randomSecret();
    QString m_secret = ReaderLinks::randomSecret();
    QUrl m_base;
};

void TestWorkerClientLive::initTestCase() {
    const QJsonObject bindings{
        {QStringLiteral("API_TOKEN"), m_token},
        {QStringLiteral("SIGNING_SECRET"), m_secret},
        {QStringLiteral("PUBLICATION_NAME"), QStringLiteral("The Quill")},
        {QStringLiteral("FROM_EMAIL"), QStringLiteral("letters@quill.example")},
        {QStringLiteral("AWS_REGION"), QStringLiteral("eu-west-1")},
        {QStringLiteral("DOUBLE_OPT_IN"), QStringLiteral("false")},
    };
    m_worker = std::make_unique<NodePeer>(
        QStringLiteral("worker_server.mjs"),
        QStringList{QString::fromUtf8(QJsonDocument(bindings).toJson(QJsonDocument::Compact))});
    // A trailing slash, as a writer might paste it.
    m_base = QUrl(m_worker->value(QStringLiteral("url")) + QStringLiteral("/"));
    QVERIFY2(m_base.isValid() && !m_base.host().isEmpty(), "the worker did not report its address");
}

HTTPResponse TestWorkerClientLive::post(const QUrl& url, const QByteArray& form) {
    HTTPRequest request{
        QStringLiteral("POST"),
        url,
        {{QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded")}},
        form};
    return runTask(m_transport->send(request));
}

void TestWorkerClientLive::healthAndAWrongToken() {
    QVERIFY(runTask(client(m_token).health()));
    const WorkerClient wrong = client(ReaderLinks::randomSecret());
    QVERIFY(!runTask(wrong.health()));
    try {
        runTask(wrong.fetchSubscribers(std::nullopt));
        QFAIL("a wrong token was accepted");
    } catch (const WorkerClientError& error) {
        QCOMPARE(error, WorkerClientError::http(
                            401, QStringLiteral("The API token is missing or wrong.")));
        QCOMPARE(error.description(),
                 QStringLiteral("Worker error 401: The API token is missing or wrong."));
    }
    QVERIFY_THROWS_EXCEPTION(WorkerClientError, runTask(wrong.upsertSubscribers({})));
}

void TestWorkerClientLive::pushThenPullSince() {
    const WorkerClient worker = client(m_token);
    const QList<Subscriber> local{
        reader(QStringLiteral("early@example.com"), "2025-01-01T10:00:00.900Z",
               "2025-01-02T00:00:00Z"),
        reader(QStringLiteral("exact@example.com"), "2025-01-01T10:00:00Z", "2025-02-01T00:00:00Z",
               SubscriberStatus::pending),
        reader(QStringLiteral("late@example.com"), "2025-01-01T10:00:00Z",
               "2025-03-01T12:00:00.400Z", SubscriberStatus::bounced),
    };
    QCOMPARE(runTask(worker.upsertSubscribers(local)), 3);

    const QList<Subscriber> all = runTask(worker.fetchSubscribers(std::nullopt));
    for (const Subscriber& mine : local) {
        const Subscriber* theirs = find(all, mine.email);
        QVERIFY2(theirs, qPrintable(mine.email));
        Subscriber expected = mine;
        expected.createdAt = wholeSeconds(mine.createdAt);
        expected.updatedAt = wholeSeconds(mine.updatedAt);
        QCOMPARE(*theirs, expected);
    }

    // At or after the instant: the wire date of 00:00:00.700 is 00:00:00, and the record changed
    // at exactly 00:00:00 is included.
    auto emails = [](const QList<Subscriber>& list) {
        QStringList out;
        for (const Subscriber& s : list) {
            if (s.email.endsWith(QStringLiteral("@example.com"))) {
                out.append(s.email);
            }
        }
        return out;
    };
    QCOMPARE(
        emails(runTask(worker.fetchSubscribers(utc("2025-02-01T00:00:00.700Z")))),
        (QStringList{QStringLiteral("exact@example.com"), QStringLiteral("late@example.com")}));
    QCOMPARE(emails(runTask(worker.fetchSubscribers(utc("2025-02-01T00:00:01Z")))),
             (QStringList{QStringLiteral("late@example.com")}));
    QCOMPARE(emails(runTask(worker.fetchSubscribers(utc("2026-01-01T00:00:00Z")))), QStringList());
}

void TestWorkerClientLive::changesMadeOnTheWorkerComeHome() {
    const WorkerClient worker = client(m_token);
    const QString email = QStringLiteral("leaves@example.org");
    const QString other = QStringLiteral("confirms@example.org");
    const QDateTime earlier = QDateTime::currentDateTimeUtc().addSecs(-3600);
    Subscriber leaving{QUuid::createUuid(),
                       email,
                       QStringLiteral("L"),
                       SubscriberStatus::active,
                       QStringLiteral("manual"),
                       earlier,
                       earlier};
    QCOMPARE(runTask(worker.upsertSubscribers({leaving})), 1);
    const QDateTime lastSync = QDateTime::currentDateTimeUtc();

    // The reader's mail client sends the RFC 8058 one-click POST; another reader confirms.
    const QString base = m_base.toString();
    QCOMPARE(post(ReaderLinks::unsubscribeURL(base, email, m_secret), "List-Unsubscribe=One-Click")
                 .status,
             200);
    QCOMPARE(post(ReaderLinks::confirmURL(base, other, m_secret), {}).status, 200);
    // A token made with another secret changes nothing.
    QCOMPARE(post(ReaderLinks::unsubscribeURL(base, other, ReaderLinks::randomSecret()),
                  "List-Unsubscribe=One-Click")
                 .status,
             400);

    // The application still holds its older copy; pushing it first must not undo the change.
    QCOMPARE(runTask(worker.upsertSubscribers({leaving})), 0);
    const QList<Subscriber> pulled = runTask(worker.fetchSubscribers(lastSync));
    QCOMPARE(pulled.size(), 2);
    QCOMPARE(find(pulled, email)->status, SubscriberStatus::unsubscribed);
    QCOMPARE(find(pulled, email)->id, leaving.id);
    QVERIFY(find(pulled, email)->updatedAt >= wholeSeconds(lastSync));
    QCOMPARE(find(pulled, other)->status, SubscriberStatus::active);
    QCOMPARE(find(pulled, other)->source, QStringLiteral("signup-form"));
}

void TestWorkerClientLive::publishedIssuesAreServedInTheArchive() {
    const WorkerClient worker = client(m_token);
    const QString html = QStringLiteral(
        "<!doctype html><html><body><h1>Hello, World!</h1><p>Caf\u00e9</p></body></html>");
    runTask(worker.publishIssue(QStringLiteral("hello-world-5a3d00"),
                                QStringLiteral("Hello, World!"), html,
                                utc("2025-03-01T09:30:00Z")));
    const QUrl page =
        *ReaderLinks::archiveURL(m_base.toString(), QStringLiteral("hello-world-5a3d00"));
    const HTTPResponse issue =
        runTask(m_transport->send(HTTPRequest{QStringLiteral("GET"), page, {}, {}}));
    QCOMPARE(issue.status, 200);
    QCOMPARE(QString::fromUtf8(issue.body), html);
    const HTTPResponse list = runTask(m_transport->send(
        HTTPRequest{QStringLiteral("GET"),
                    QUrl(m_worker->value(QStringLiteral("url")) + QStringLiteral("/archive")),
                    {},
                    {}}));
    QVERIFY(list.body.contains("<a href=\"/archive/hello-world-5a3d00\">Hello, World!</a>"));

    try {
        runTask(worker.publishIssue(QStringLiteral("Not A Slug"), QStringLiteral("x"), html,
                                    QDateTime::currentDateTimeUtc()));
        QFAIL("a bad slug was accepted");
    } catch (const WorkerClientError& error) {
        QCOMPARE(error.status(), 400);
        QVERIFY(error.message().contains(QStringLiteral("slug")));
    }
}

QTEST_GUILESS_MAIN(TestWorkerClientLive)
#include "tst_worker_client_live.moc"
