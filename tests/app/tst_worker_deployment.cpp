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

namespace {

const QString cloudflareToken = QStringLiteral("cf-deployment-token");
const QString accountID = QStringLiteral("4f3c1e0d2b4a59687766554433221100");
const QString workerURL = QStringLiteral("https://postwick.deploy-writer.workers.dev");

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
        const QUrl url(m_cloudflare->value(QStringLiteral("control")) +
                       QStringLiteral("/scripts/postwick"));
        const HTTPResponse answer =
            test::runTask(m_http->send(HTTPRequest{QStringLiteral("GET"), url, {}, {}}));
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
        m_cloudflare = std::make_unique<test::NodePeer>(
            QStringLiteral("fake_cloudflare.mjs"),
            QStringList{QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact))});
        m_sts = std::make_unique<test::NodePeer>(
            QStringLiteral("sts_stub.mjs"),
            QStringList{QStringLiteral(R"({"AKIDONE": "111111111111", "AKIDROTATED": )"
                                       R"("111111111111", "AKIDTWO": "222222222222"})")});
        qputenv("CLOUDFLARE_API_BASE_URL", m_cloudflare->value(QStringLiteral("api")).toUtf8());
        qputenv("AWS_ENDPOINT_URL_STS", m_sts->value(QStringLiteral("url")).toUtf8());

        m_credentials = test::memoryCredentials();
        openModel();
        SenderProfile profile = m_model->library().profile;
        profile.fromEmail = QStringLiteral("ann@deploy.example");
        profile.region = QStringLiteral("eu-west-1");
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
        storeKeys(QStringLiteral("AKIDUNKNOWN"), QStringLiteral("unknown-secret"));
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        QCOMPARE(*m_model->statusMessage(),
                 QStringLiteral("Worker live at ") + workerURL +
                     QStringLiteral(". Bounce routing stays off until your AWS account can be "
                                    "read: AWS STS 403 InvalidClientTokenId: The security token "
                                    "included in the request is invalid."));
        QVERIFY(!script()[QStringLiteral("plain")].toObject().contains(
            QStringLiteral("AWS_ACCOUNT_ID")));
    }

    // The account of the stored keys, read from STS with them, is what the worker trusts; the
    // signup caps go along.
    void theKeysAccountIsTrusted() {
        storeKeys(QStringLiteral("AKIDONE"), QStringLiteral("one-secret"));
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        QCOMPARE(*m_model->statusMessage(), QStringLiteral("Worker live at ") + workerURL);
        const QJsonObject plain = script()[QStringLiteral("plain")].toObject();
        QCOMPARE(plain[QStringLiteral("AWS_ACCOUNT_ID")].toString(),
                 QStringLiteral("111111111111"));
        QCOMPARE(plain[QStringLiteral("SIGNUPS_PER_CLIENT_PER_HOUR")].toString(),
                 QStringLiteral("5"));
        QCOMPARE(plain[QStringLiteral("SIGNUPS_PER_MAILBOX_PER_10_MINUTES")].toString(),
                 QStringLiteral("1"));
        QCOMPARE(plain[QStringLiteral("SIGNUPS_PER_HOUR")].toString(), QStringLiteral("200"));
        // The deployed worker itself says so.
        const WorkerClient deployed(QUrl(script()[QStringLiteral("url")].toString()),
                                    *m_credentials->get(CredentialStore::Key::workerAPIToken),
                                    m_http);
        QCOMPARE(test::runTask(deployed.healthReport()).awsAccountId,
                 std::optional(QStringLiteral("111111111111")));
    }

    // New keys reach the deployed worker: as secrets when they belong to the same account, by a
    // new deployment when they belong to another.
    void savedKeysReachTheWorker() {
        storeKeys(QStringLiteral("AKIDONE"), QStringLiteral("one-secret"));
        test::runTask(m_model->deployWorker(cloudflareToken, accountID), 120000);
        m_model->saveAWSKeys(QStringLiteral("AKIDROTATED"), QStringLiteral("rotated-secret"));
        QTRY_COMPARE_WITH_TIMEOUT(
            m_model->statusMessage().value_or(QString()),
            QStringLiteral("Your worker now sends confirmation mail with the new AWS keys."),
            60000);
        QJsonObject deployed = script();
        QCOMPARE(
            deployed[QStringLiteral("secrets")][QStringLiteral("AWS_ACCESS_KEY_ID")].toString(),
            QStringLiteral("AKIDROTATED"));
        QCOMPARE(
            deployed[QStringLiteral("secrets")][QStringLiteral("AWS_SECRET_ACCESS_KEY")].toString(),
            QStringLiteral("rotated-secret"));

        m_model->saveAWSKeys(QStringLiteral("AKIDTWO"), QStringLiteral("two-secret"));
        QTRY_VERIFY_WITH_TIMEOUT(
            script()[QStringLiteral("plain")][QStringLiteral("AWS_ACCOUNT_ID")].toString() ==
                QStringLiteral("222222222222"),
            60000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_model->isBusy(), 60000);
        deployed = script();
        QCOMPARE(
            deployed[QStringLiteral("secrets")][QStringLiteral("AWS_ACCESS_KEY_ID")].toString(),
            QStringLiteral("AKIDTWO"));
        QCOMPARE(*m_model->statusMessage(), QStringLiteral("Worker live at ") + workerURL);
    }
};

QTEST_GUILESS_MAIN(TestWorkerDeployment)
#include "tst_worker_deployment.moc"
