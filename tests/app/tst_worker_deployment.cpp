// Deploying the signup worker and keeping its AWS keys current, with real peers on loopback: a
// fake Cloudflare API that serves what it is sent in Miniflare, and a stand-in for STS that
// answers which AWS account a key belongs to. Nothing here reaches the deployed worker's
// workers.dev address.
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

const QString cloudflareToken = u"cf-deployment-token"_s;
const QString accountID = u"4f3c1e0d2b4a59687766554433221100"_s;
const QString workerURL = u"https://postwick.deploy-writer.workers.dev"_s;

} // namespace

class TestWorkerDeployment : public QObject {
    Q_OBJECT

    std::unique_ptr<test::NodePeer> m_cloudflare;
    std::unique_ptr<test::NodePeer> m_sts;
    QTemporaryDir m_dir;
    std::shared_ptr<NetworkTransport> m_http = std::make_shared<NetworkTransport>();
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::unique_ptr<AppModel> m_model;

    QJsonObject script() {
        const QUrl url(m_cloudflare->value(u"control"_s) + u"/scripts/postwick"_s);
        const HTTPResponse answer = test::runTask(m_http->send(HTTPRequest{u"GET"_s, url, {}, {}}));
        return QJsonDocument::fromJson(answer.body).object();
    }

    // Keys put in the store behind the app's back: a new session (the model remembers what the
    // keychain said) on the same library.
    void storeKeys(const QString& accessKey, const QString& secret) {
        m_credentials->set(accessKey, CredentialStore::Key::awsAccessKeyID);
        m_credentials->set(secret, CredentialStore::Key::awsSecretAccessKey);
        m_model->flushPendingSave();
        m_model.reset();
        openModel();
    }

    void openModel() {
        AppModel::Dependencies d = test::modelDependencies(m_dir.path(), m_credentials);
        d.transport = m_http;
        m_model = test::startedModel(std::move(d));
    }

private Q_SLOTS:
    void initTestCase() {
        const QJsonObject config{
            {"token", cloudflareToken}, {"accountId", accountID}, {"subdomain", "deploy-writer"}};
        m_cloudflare = std::make_unique<test::NodePeer>(u"fake_cloudflare.mjs"_s, config);
        m_sts = std::make_unique<test::NodePeer>(
            u"sts_stub.mjs"_s,
            QStringList{QStringLiteral(R"({"AKIDONE": "111111111111", "AKIDROTATED": )"
                                       R"("111111111111", "AKIDTWO": "222222222222"})")});
        qputenv("CLOUDFLARE_API_BASE_URL", m_cloudflare->value(u"api"_s).toUtf8());
        qputenv("AWS_ENDPOINT_URL_STS", m_sts->value(u"url"_s).toUtf8());

        m_credentials = test::memoryCredentials();
        openModel();
        SenderProfile profile = m_model->library().profile;
        profile.fromEmail = u"ann@deploy.example"_s;
        profile.region = u"eu-west-1"_s;
        m_model->setProfile(profile);
    }

    void cleanupTestCase() {
        m_model.reset();
        m_sts.reset();
        m_cloudflare.reset();
        qunsetenv("AWS_ENDPOINT_URL_STS");
        qunsetenv("CLOUDFLARE_API_BASE_URL");
    }

    // Keys STS does not know: the worker still goes live, says why bounce routing is off, and
    // is given no account to trust.
    void anUnreadableAccountLeavesBouncesOff() {
        storeKeys(u"AKIDUNKNOWN"_s, u"unknown-secret"_s);
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        QCOMPARE(*m_model->statusMessage(),
                 u"Worker live at "_s + workerURL +
                     QStringLiteral(". Bounce routing stays off until your AWS account can be "
                                    "read: AWS STS 403 InvalidClientTokenId: The security token "
                                    "included in the request is invalid."));
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
            QCOMPARE(std::optional(secrets[QLatin1String(name)].toString()),
                     m_credentials->get(key));
        }
        // The deployed worker itself says so.
        const WorkerClient deployed(QUrl(script()[u"url"_s].toString()),
                                    *m_credentials->get(CredentialStore::Key::workerAPIToken),
                                    m_http);
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

QTEST_GUILESS_MAIN(TestWorkerDeployment)
#include "tst_worker_deployment.moc"
