// Synchronisation with the signup worker: the model against resources/worker.js in Miniflare
// with D1, with this computer's clock ahead of or behind the worker's; and the merge of pulled
// pages on its own.
#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/model_fixture.h"
#include "support/node_peer.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

const QString apiToken = u"sync-api-token"_s;
const QString signingSecret = u"sync-signing-secret"_s;

QDateTime at(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

Subscriber reader(const QString& email, SubscriberStatus status = SubscriberStatus::active) {
    const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(-3600);
    return Subscriber{QUuid::createUuid(), email, QString(), status, u"manual"_s, now, now};
}

} // namespace

class TestWorkerSync : public QObject {
    Q_OBJECT

    std::unique_ptr<test::NodePeer> m_worker;
    QString m_url;
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<NetworkTransport> m_http = std::make_shared<NetworkTransport>();
    int m_models = 0;

    // A model whose clock is `skew` off the real one, synced to the worker.
    std::unique_ptr<AppModel> makeModel(std::chrono::seconds skew) {
        AppModel::Dependencies d =
            test::modelDependencies(m_dir.filePath(u"m%1"_s.arg(++m_models)), m_credentials);
        d.now = [skew] { return QDateTime::currentDateTimeUtc().addSecs(skew.count()); };
        auto model = test::startedModel(std::move(d));
        SenderProfile profile = model->library().profile;
        profile.workerBaseURL = m_url;
        profile.doubleOptIn = false;
        model->setProfile(profile);
        return model;
    }

    WorkerClient client() const { return WorkerClient(QUrl(m_url), apiToken, m_http); }

    int post(const QUrl& url, const QByteArray& form) {
        const HTTPRequest request{u"POST"_s,
                                  url,
                                  {{u"Content-Type"_s, u"application/x-www-form-urlencoded"_s},
                                   {u"CF-Connecting-IP"_s, u"203.0.113.9"_s}},
                                  form};
        return test::runTask(m_http->send(request)).status;
    }

    int unsubscribe(const QString& email) {
        return post(ReaderLinks::unsubscribeURL(m_url, email, signingSecret),
                    "List-Unsubscribe=One-Click");
    }

    static const Subscriber* find(const AppModel& model, const QString& email) {
        for (const Subscriber& s : model.library().subscribers) {
            if (s.email == email) {
                return &s;
            }
        }
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase() {
        // AWS keys, so signups send confirmation mail; the worker's SES is unreachable here.
        const QJsonObject bindings{{"API_TOKEN", apiToken},
                                   {"SIGNING_SECRET", signingSecret},
                                   {"PUBLICATION_NAME", "Sync Notes"},
                                   {"FROM_EMAIL", "ann@sync.example"},
                                   {"AWS_REGION", "eu-west-1"},
                                   {"AWS_ACCESS_KEY_ID", "AKIDSYNC"},
                                   {"AWS_SECRET_ACCESS_KEY", "sync-secret"},
                                   {"DOUBLE_OPT_IN", "true"}};
        m_worker = std::make_unique<test::NodePeer>(u"worker_server.mjs"_s, bindings);
        m_url = m_worker->value(u"url"_s);
        QVERIFY(m_url.startsWith(u"http://127.0.0.1:"_s));
        m_credentials =
            test::memoryCredentials({{CredentialStore::Key::workerAPIToken, apiToken},
                                     {CredentialStore::Key::workerSigningSecret, signingSecret}});
    }

    void cleanupTestCase() { m_worker.reset(); }

    void cursorAndMerge() {
        // Without the worker's clock, a margin before this computer's (skewed clocks: below).
        QCOMPARE(WorkerSync::nextCursor(std::nullopt, at("2026-05-01T12:00:00Z")),
                 at("2026-05-01T11:55:00Z"));

        // Pages merge into a list that is edited between them.
        QList<Subscriber> list{reader(u"a@x.example"_s), reader(u"b@x.example"_s)};
        SubscriberMerge merge(list);
        const Subscriber bLeft = reader(u"b@x.example"_s, SubscriberStatus::unsubscribed);
        QCOMPARE(merge.apply({bLeft, reader(u"c@x.example"_s)}),
                 (QList<StatusChange>{{list[1].id, SubscriberStatus::unsubscribed}}));
        list.removeFirst();
        list.append(reader(u"d@x.example"_s));
        merge.reindex();
        const Subscriber dBounced = reader(u"d@x.example"_s, SubscriberStatus::bounced);
        QCOMPARE(merge.apply({dBounced, reader(u"c@x.example"_s)}).size(), 1);
        QStringList emails;
        for (const Subscriber& s : list) {
            emails.append(s.email + QLatin1Char(' ') + rawValue(s.status));
        }
        QCOMPARE(emails, (QStringList{"b@x.example unsubscribed", "c@x.example active",
                                      "d@x.example bounced"}));
    }

    // The pull's cursor is the worker's clock: a reader who leaves right after a sync is never
    // missed, however far ahead this computer's clock runs; and the push still sends what was
    // edited here after a sync when this computer's clock runs behind.
    void skewedClocksMissNothing() {
        auto ahead = makeModel(std::chrono::minutes(10));
        ahead->addSubscriber(u"ahead@sync.example"_s, u"Ahead"_s);
        test::runTask(ahead->syncSubscribers());
        QCOMPARE(unsubscribe(u"ahead@sync.example"_s), 200);
        test::runTask(ahead->syncSubscribers());
        QCOMPARE(find(*ahead, u"ahead@sync.example"_s)->status, SubscriberStatus::unsubscribed);

        auto behind = makeModel(-std::chrono::minutes(10));
        test::runTask(behind->syncSubscribers());
        behind->addSubscriber(u"behind@sync.example"_s, u"Behind"_s);
        test::runTask(behind->syncSubscribers());
        bool pushed = false;
        for (const Subscriber& s : test::runTask(client().fetchSubscribers(std::nullopt))) {
            pushed = pushed || s.email == u"behind@sync.example"_s;
        }
        QVERIFY(pushed);
    }

    // A first sync of more readers than a page holds follows the pages to the end.
    void firstSyncFollowsPages() {
        QList<Subscriber> list;
        for (int i = 0; i < 12001; ++i) {
            list.append(reader(u"paged%1@sync.example"_s.arg(i)));
        }
        QCOMPARE(test::runTask(client().upsertSubscribers(list), 120000), 12001);
        auto model = makeModel(std::chrono::seconds(0));
        test::runTask(model->syncSubscribers(), 120000);
        QVERIFY(model->statusMessage()->startsWith(u"Synced "_s));
        QSet<QString> pulled;
        for (const Subscriber& s : model->library().subscribers) {
            pulled.insert(s.email);
        }
        for (const Subscriber& s : list) {
            QVERIFY2(pulled.contains(s.email), qPrintable(s.email));
        }
    }

    // The worker remembers a confirmation mail SES refused; the next sync says so.
    void workerFailuresShowAfterASync() {
        auto model = makeModel(std::chrono::seconds(0));
        test::runTask(model->syncSubscribers());
        QCOMPARE(post(QUrl(m_url + u"/"_s), "email=failing%40sync.example"), 200);
        QTRY_VERIFY_WITH_TIMEOUT(test::runTask(client().healthReport()).mailFailure, 10000);
        test::runTask(model->syncSubscribers());
        const QString message = *model->statusMessage();
        QVERIFY2(message.contains(QStringLiteral(" changes from the worker. The worker reports: "
                                                 "Confirmation mail failed (")),
                 qPrintable(message));
        QVERIFY2(message.contains(u"failing@sync.example failed. SES answered 502"_s),
                 qPrintable(message));
        QVERIFY(model->workerHealthProblems().size() == 1);
    }
};

QTEST_GUILESS_MAIN(TestWorkerSync)
#include "tst_worker_sync.moc"
