// WorkerClient against the real worker: resources/worker.js in Miniflare with D1, over HTTP on
// loopback.

#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "worker/worker_client.h"

#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;
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
    return Subscriber{QUuid::createUuid(), email,        u"Reader"_s, status,
                      u"manual"_s,         utc(created), utc(updated)};
}

} // namespace

class TestWorkerClientLive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase() { m_worker.reset(); }
    void pushThenPullSince();
    void changesMadeOnTheWorkerComeHome();

private:
    WorkerClient client() const { return WorkerClient(m_base, m_token, m_transport); }

    std::unique_ptr<NodePeer> m_worker;
    std::shared_ptr<NetworkTransport> m_transport = std::make_shared<NetworkTransport>();
    QString m_token = ReaderLinks::randomSecret();
    QString m_secret = ReaderLinks::randomSecret();
    QUrl m_base;
};

void TestWorkerClientLive::initTestCase() {
    m_worker = std::make_unique<NodePeer>(u"worker_server.mjs"_s,
                                          QJsonObject{{u"API_TOKEN"_s, m_token},
                                                      {u"SIGNING_SECRET"_s, m_secret},
                                                      {u"PUBLICATION_NAME"_s, u"The Quill"_s},
                                                      {u"FROM_EMAIL"_s, u"letters@quill.example"_s},
                                                      {u"AWS_REGION"_s, u"eu-west-1"_s},
                                                      {u"DOUBLE_OPT_IN"_s, u"false"_s}});
    // A trailing slash, as a writer might paste it.
    m_base = QUrl(m_worker->value(u"url"_s) + u"/"_s);
    QVERIFY2(m_base.isValid() && !m_base.host().isEmpty(), "the worker did not report its address");
}

void TestWorkerClientLive::pushThenPullSince() {
    const WorkerClient worker = client();
    const QList<Subscriber> local{
        reader(u"early@example.com"_s, "2025-01-01T10:00:00.900Z", "2025-01-02T00:00:00Z"),
        reader(u"exact@example.com"_s, "2025-01-01T10:00:00Z", "2025-02-01T00:00:00Z",
               SubscriberStatus::pending),
        reader(u"late@example.com"_s, "2025-01-01T10:00:00Z", "2025-03-01T12:00:00.400Z",
               SubscriberStatus::bounced),
    };
    QCOMPARE(runTask(worker.upsertSubscribers(local)), 3);

    // Pulled in the order of their updates, the dates in whole seconds.
    QList<Subscriber> expected = local;
    for (Subscriber& s : expected) {
        s.createdAt = wholeSeconds(s.createdAt);
        s.updatedAt = wholeSeconds(s.updatedAt);
    }
    QCOMPARE(runTask(worker.fetchSubscribers(std::nullopt)), expected);

    // At or after the instant: the wire date of 00:00:00.700 is 00:00:00, and the record changed
    // at exactly 00:00:00 is included.
    QCOMPARE(runTask(worker.fetchSubscribers(utc("2025-02-01T00:00:00.700Z"))).size(), 2);
    QCOMPARE(runTask(worker.fetchSubscribers(utc("2025-02-01T00:00:01Z"))).size(), 1);
}

void TestWorkerClientLive::changesMadeOnTheWorkerComeHome() {
    const WorkerClient worker = client();
    const QString email = u"leaves@example.org"_s;
    const QDateTime earlier = QDateTime::currentDateTimeUtc().addSecs(-3600);
    Subscriber leaving{QUuid::createUuid(), email,   u"L"_s, SubscriberStatus::active,
                       u"manual"_s,         earlier, earlier};
    QCOMPARE(runTask(worker.upsertSubscribers({leaving})), 1);
    const QDateTime lastSync = QDateTime::currentDateTimeUtc();

    // The reader's mail client sends the RFC 8058 one-click POST to the link the application made.
    const HTTPRequest oneClick{u"POST"_s,
                               ReaderLinks::unsubscribeURL(m_base.toString(), email, m_secret),
                               {{u"Content-Type"_s, u"application/x-www-form-urlencoded"_s}},
                               "List-Unsubscribe=One-Click"};
    QCOMPARE(runTask(m_transport->send(oneClick)).status, 200);

    // The application still holds its older copy; pushing it first must not undo the change.
    QCOMPARE(runTask(worker.upsertSubscribers({leaving})), 0);
    const QList<Subscriber> pulled = runTask(worker.fetchSubscribers(lastSync));
    QCOMPARE(pulled.size(), 1);
    QCOMPARE(pulled[0].status, SubscriberStatus::unsubscribed);
    QCOMPARE(pulled[0].id, leaving.id);
    QVERIFY(pulled[0].updatedAt >= wholeSeconds(lastSync));
}

QTEST_GUILESS_MAIN(TestWorkerClientLive)
#include "tst_worker_client_live.moc"
