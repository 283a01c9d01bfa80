// The signup worker with real peers on loopback. Synchronisation: the model against
// resources/worker.js in Miniflare with D1, with this computer's clock ahead of or behind the
// worker's; and the merge of pulled pages on its own. Deployment and keeping the worker's AWS keys
// current: a fake Cloudflare API that serves what it is sent in Miniflare, and a stand-in for STS
// that answers which AWS account a key belongs to (nothing reaches a workers.dev address).
#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/model_fixture.h"
#include "support/node_peer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

const QString apiToken = u"sync-api-token"_s;
const QString signingSecret = u"sync-signing-secret"_s;
const QString cloudflareToken = u"cf-deployment-token"_s;
const QString accountID = u"4f3c1e0d2b4a59687766554433221100"_s;
const QString workerURL = u"https://postwick.deploy-writer.workers.dev"_s;

QDateTime at(const char* text) {
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

Subscriber reader(const QString& email, SubscriberStatus status = SubscriberStatus::active) {
    const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(-3600);
    return Subscriber{QUuid::createUuid(), email, QString(), status, u"manual"_s, now, now};
}

} // namespace

class TestSignupWorker : public QObject {
    Q_OBJECT

    std::unique_ptr<test::NodePeer> m_worker;
    QString m_url;
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials =
        test::memoryCredentials({{CredentialStore::Key::workerAPIToken, apiToken},
                                 {CredentialStore::Key::workerSigningSecret, signingSecret}});
    std::shared_ptr<NetworkTransport> m_http = std::make_shared<NetworkTransport>();
    int m_models = 0;
    // The deployment's peers, and its model with its own keys.
    std::unique_ptr<test::NodePeer> m_cloudflare;
    std::unique_ptr<test::NodePeer> m_sts;
    std::shared_ptr<MemoryCredentialStore> m_keys = test::memoryCredentials();
    std::unique_ptr<AppModel> m_model;

    // A model whose clock is `skew` off the real one, synced to the worker.
    std::unique_ptr<AppModel> makeModel(std::chrono::seconds skew) {
        AppModel::Dependencies d =
            test::modelDependencies(m_dir.filePath(u"m%1"_s.arg(++m_models)), m_credentials);
        d.now = [skew] { return QDateTime::currentDateTimeUtc().addSecs(skew.count()); };
        auto model = test::startedModel(std::move(d));
        model->setProfile({.workerBaseURL = m_url, .doubleOptIn = false});
        return model;
    }

    WorkerClient client() const { return WorkerClient(QUrl(m_url), apiToken, m_http); }

    int post(const QUrl& url, const QByteArray& form) {
        const QMap<QString, QString> headers{
            {u"Content-Type"_s, u"application/x-www-form-urlencoded"_s},
            {u"CF-Connecting-IP"_s, u"203.0.113.9"_s}};
        return test::runTask(m_http->send({u"POST"_s, url, headers, form})).status;
    }

    int unsubscribe(const QString& email) {
        return post(ReaderLinks::unsubscribeURL(m_url, email, signingSecret),
                    "List-Unsubscribe=One-Click");
    }

    QJsonObject script() {
        const QUrl url(m_cloudflare->value(u"control"_s) + u"/scripts/postwick"_s);
        const HTTPResponse answer = test::runTask(m_http->send(HTTPRequest{u"GET"_s, url, {}, {}}));
        return QJsonDocument::fromJson(answer.body).object();
    }

    // Keys put in the store behind the app's back: a new session (the model remembers what the
    // keychain said) on the same library.
    void storeKeys(const QString& accessKey, const QString& secret) {
        m_keys->set(accessKey, CredentialStore::Key::awsAccessKeyID);
        m_keys->set(secret, CredentialStore::Key::awsSecretAccessKey);
        m_model->flushPendingSave();
        m_model.reset();
        openModel();
    }

    void openModel() {
        AppModel::Dependencies d = test::modelDependencies(m_dir.filePath(u"deployed"_s), m_keys);
        d.transport = m_http;
        m_model = test::startedModel(std::move(d));
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

        const QJsonObject config{
            {"token", cloudflareToken}, {"accountId", accountID}, {"subdomain", "deploy-writer"}};
        m_cloudflare = std::make_unique<test::NodePeer>(u"fake_cloudflare.mjs"_s, config);
        const QJsonObject accounts{{"AKIDONE", "111111111111"},
                                   {"AKIDROTATED", "111111111111"},
                                   {"AKIDTWO", "222222222222"}};
        m_sts = std::make_unique<test::NodePeer>(u"sts_stub.mjs"_s, accounts);
        qputenv("CLOUDFLARE_API_BASE_URL", m_cloudflare->value(u"api"_s).toUtf8());
        qputenv("AWS_ENDPOINT_URL_STS", m_sts->value(u"url"_s).toUtf8());
        openModel();
        m_model->setProfile({.fromEmail = u"ann@deploy.example"_s, .region = u"eu-west-1"_s});
    }

    void cleanupTestCase() {
        m_model.reset();
        m_sts.reset();
        m_cloudflare.reset();
        m_worker.reset();
    }

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
        const QList<Subscriber>& here = ahead->library().subscribers;
        QCOMPARE(std::ranges::find(here, u"ahead@sync.example"_s, &Subscriber::email)->status,
                 SubscriberStatus::unsubscribed);

        auto behind = makeModel(-std::chrono::minutes(10));
        test::runTask(behind->syncSubscribers());
        behind->addSubscriber(u"behind@sync.example"_s, u"Behind"_s);
        test::runTask(behind->syncSubscribers());
        const QList<Subscriber> there = test::runTask(client().fetchSubscribers(std::nullopt));
        QVERIFY(std::ranges::find(there, u"behind@sync.example"_s, &Subscriber::email) !=
                there.end());
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

    // Keys STS does not know: the worker still goes live, says why bounce routing is off, and
    // is given no account to trust.
    void anUnreadableAccountLeavesBouncesOff() {
        storeKeys(u"AKIDUNKNOWN"_s, u"unknown-secret"_s);
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        QCOMPARE(*m_model->statusMessage(),
                 u"Worker live at "_s + workerURL +
                     u". Bounce routing stays off until your AWS account can be read: AWS STS "
                     "403 InvalidClientTokenId: The security token included in the request is "
                     "invalid."_s);
        QVERIFY(!script()[u"plain"_s].toObject().contains(u"AWS_ACCOUNT_ID"_s));
    }

    // The account of the stored keys, read from STS with them, is what the worker trusts; the
    // signup caps go along.
    void theKeysAccountIsTrusted() {
        storeKeys(u"AKIDONE"_s, u"one-secret"_s);
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        QCOMPARE(*m_model->statusMessage(), u"Worker live at "_s + workerURL);
        const QJsonObject plain = script()[u"plain"_s].toObject();
        QCOMPARE(plain[u"AWS_ACCOUNT_ID"_s].toString(), u"111111111111"_s);
        QCOMPARE(plain[u"SIGNUPS_PER_CLIENT_PER_HOUR"_s].toString(), u"5"_s);
        QCOMPARE(plain[u"SIGNUPS_PER_MAILBOX_PER_10_MINUTES"_s].toString(), u"1"_s);
        QCOMPARE(plain[u"SIGNUPS_PER_HOUR"_s].toString(), u"200"_s);
        // The worker holds the secrets this computer keeps.
        const QJsonObject secrets = script()[u"secrets"_s].toObject();
        using Key = CredentialStore::Key;
        for (const auto& [name, key] : {std::pair{"API_TOKEN", Key::workerAPIToken},
                                        {"SIGNING_SECRET", Key::workerSigningSecret},
                                        {"AWS_ACCESS_KEY_ID", Key::awsAccessKeyID}}) {
            QCOMPARE(std::optional(secrets[QLatin1String(name)].toString()), m_keys->get(key));
        }
        // The deployed worker itself says so.
        const WorkerClient deployed(QUrl(script()[u"url"_s].toString()),
                                    *m_keys->get(CredentialStore::Key::workerAPIToken), m_http);
        QCOMPARE(test::runTask(deployed.healthReport()).awsAccountId,
                 std::optional(u"111111111111"_s));
    }

    // New keys reach the deployed worker: as secrets when they belong to the same account, by a
    // new deployment when they belong to another.
    void savedKeysReachTheWorker() {
        storeKeys(u"AKIDONE"_s, u"one-secret"_s);
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        const QJsonObject first = script()[u"secrets"_s].toObject();
        m_model->saveAWSKeys(u"AKIDROTATED"_s, u"rotated-secret"_s);
        QTRY_COMPARE_WITH_TIMEOUT(
            m_model->statusMessage().value_or(QString()),
            u"Your worker now sends confirmation mail with the new AWS keys."_s, 60000);
        QJsonObject deployed = script();
        QCOMPARE(deployed[u"secrets"_s][u"AWS_ACCESS_KEY_ID"_s].toString(), u"AKIDROTATED"_s);
        QCOMPARE(deployed[u"secrets"_s][u"AWS_SECRET_ACCESS_KEY"_s].toString(),
                 u"rotated-secret"_s);

        m_model->saveAWSKeys(u"AKIDTWO"_s, u"two-secret"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            script()[u"plain"_s][u"AWS_ACCOUNT_ID"_s].toString() == u"222222222222"_s, 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->isBusy(), 60000);
        deployed = script();
        QCOMPARE(deployed[u"secrets"_s][u"AWS_ACCESS_KEY_ID"_s].toString(), u"AKIDTWO"_s);
        QCOMPARE(*m_model->statusMessage(), u"Worker live at "_s + workerURL);
        // A new deployment keeps the worker's token and the links already sent valid.
        for (const char* name : {"API_TOKEN", "SIGNING_SECRET"}) {
            QCOMPARE(deployed[u"secrets"_s][QLatin1String(name)], first[QLatin1String(name)]);
        }
    }
};

QTEST_GUILESS_MAIN(TestSignupWorker)
#include "tst_signup_worker.moc"
