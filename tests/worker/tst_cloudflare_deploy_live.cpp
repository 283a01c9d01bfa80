// A whole deployment against a fake Cloudflare API on loopback (tests/support/fake_cloudflare.mjs)
// that answers like Cloudflare, records every request, and serves the uploaded script in
// Miniflare with the uploaded bindings and a D1 database made from the SQL it was sent. The
// deployed worker is then called through WorkerClient: what we deploy serves the API with the
// secrets we passed.

#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "worker/cloudflare_deployer.h"
#include "worker/cloudflare_error.h"
#include "worker/worker_client.h"
#include "worker/worker_resources.h"

#include <QJsonArray>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;
using namespace quillmere::test;

namespace {

const QString accountID = u"9f3c1e0d2b4a59687766554433221100"_s;
const QString cloudflareToken = u"cf-test-token-with-three-permissions"_s;
const QUrl expectedURL(u"https://postwick.quill-writer.workers.dev"_s);

QMap<QString, QString> vars() {
    return {{u"PUBLICATION_NAME"_s, u"The Quill & Ink"_s},
            {u"FROM_EMAIL"_s, u"letters@quill.example"_s},
            {u"AWS_REGION"_s, u"eu-west-1"_s},
            {u"DOUBLE_OPT_IN"_s, u"false"_s}};
}

} // namespace

class TestCloudflareDeployLive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void deploymentServesTheApiWithThePassedSecrets();
    void redeploymentReusesTheDatabaseAndTheURL();
    void aWrongTokenStopsAtTheFirstCall();
    void aBrokenScriptIsRefusedAndTheOldOneServes();

private:
    CloudflareDeployer deployer(const QString& token = cloudflareToken) const {
        return CloudflareDeployer(token, m_transport);
    }
    QJsonValue control(const QString& path);
    QJsonArray requestsSince(qsizetype first);
    QUrl deployNow(const QMap<QString, QString>& secrets);
    qsizetype requestCount() { return control(u"requests"_s).toArray().size(); }
    // The description of the error that ended the deployment.
    QString refusal(const QString& token, const QString& script, const QString& schema) {
        try {
            runTask(deployer(token).deploy(accountID, u"postwick"_s, script, schema, vars(), {}));
        } catch (const CloudflareError& error) {
            return error.description();
        }
        return u"no error"_s;
    }

    std::unique_ptr<NodePeer> m_cloudflare;
    std::shared_ptr<NetworkTransport> m_transport = std::make_shared<NetworkTransport>();
    QString m_apiToken = ReaderLinks::randomSecret();
    QString m_signingSecret = ReaderLinks::randomSecret();
    QString m_databaseID;
    const QMap<QString, QString> m_secrets{{u"API_TOKEN"_s, m_apiToken},
                                           {u"SIGNING_SECRET"_s, m_signingSecret}};
};

void TestCloudflareDeployLive::initTestCase() {
    m_cloudflare = std::make_unique<NodePeer>(u"fake_cloudflare.mjs"_s,
                                              QJsonObject{{u"token"_s, cloudflareToken},
                                                          {u"accountId"_s, accountID},
                                                          {u"accountName"_s, u"Writer's account"_s},
                                                          {u"subdomain"_s, u"quill-writer"_s}});
    const QString api = m_cloudflare->value(u"api"_s);
    QVERIFY2(api.startsWith(u"http://127.0.0.1:"_s),
             "the fake Cloudflare did not report its address");
    qputenv("CLOUDFLARE_API_BASE_URL", api.toUtf8());
    QCOMPARE(deployer().apiBase(), api);
}

void TestCloudflareDeployLive::cleanupTestCase() {
    qunsetenv("CLOUDFLARE_API_BASE_URL");
    m_cloudflare.reset();
}

QJsonValue TestCloudflareDeployLive::control(const QString& path) {
    const QUrl url(m_cloudflare->value(u"control"_s) + QLatin1Char('/') + path);
    const HTTPResponse response = runTask(m_transport->send(HTTPRequest{u"GET"_s, url, {}, {}}));
    return QJsonValue::fromVariant(QJsonDocument::fromJson(response.body).toVariant());
}

QJsonArray TestCloudflareDeployLive::requestsSince(qsizetype first) {
    return QJsonArray::fromVariantList(control(u"requests"_s).toArray().toVariantList().mid(first));
}

QUrl TestCloudflareDeployLive::deployNow(const QMap<QString, QString>& secrets) {
    return runTask(deployer().deploy(accountID, u"postwick"_s, *WorkerResources::script(),
                                     *WorkerResources::schema(), vars(), secrets));
}

void TestCloudflareDeployLive::deploymentServesTheApiWithThePassedSecrets() {
    const qsizetype before = requestCount();
    QCOMPARE(deployNow(m_secrets), expectedURL);

    const QJsonArray sent = requestsSince(before);
    QStringList lines;
    for (const QJsonValue& r : sent) {
        lines.append(r[u"method"_s].toString() + QLatin1Char(' ') + r[u"path"_s].toString() +
                     r[u"query"_s].toString());
    }
    m_databaseID = control(u"databases"_s).toArray().first()[u"uuid"_s].toString();
    const QString account = u"/client/v4/accounts/"_s + accountID;
    QCOMPARE(lines,
             (QStringList{u"GET "_s + account + u"/d1/database?name=postwick-db"_s,
                          u"POST "_s + account + u"/d1/database"_s,
                          u"POST "_s + account + u"/d1/database/"_s + m_databaseID + u"/query"_s,
                          u"PUT "_s + account + u"/workers/scripts/postwick"_s,
                          u"POST "_s + account + u"/workers/scripts/postwick/subdomain"_s,
                          u"GET "_s + account + u"/workers/subdomain"_s}));
    // The fake Cloudflare checks the token on every call, runs the SQL it is sent and parses the
    // form, serving the script with the bindings it names: the worker answering below proves
    // them all.
    const QString type = sent[3][u"headers"_s][u"content-type"_s].toString();
    QVERIFY(type.startsWith(u"multipart/form-data; boundary=Postwick-"_s));

    // The deployed worker answers on its loopback address with the secrets that were passed.
    const QJsonValue script = control(u"scripts/postwick"_s);
    QVERIFY(script[u"routeEnabled"_s].toBool());
    const QUrl local(script[u"url"_s].toString());
    const WorkerClient worker(local, m_apiToken, m_transport);
    QVERIFY(runTask(worker.health()));
    QVERIFY(!runTask(WorkerClient(local, cloudflareToken, m_transport).health()));
    const QDateTime now =
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    // clang-format off
    const Subscriber ada{QUuid::createUuid(), u"ada@example.com"_s, u"Ada"_s, SubscriberStatus::active, u"manual"_s, now, now};
    // clang-format on
    QCOMPARE(runTask(worker.upsertSubscribers({ada})), 1);
    QCOMPARE(runTask(worker.fetchSubscribers(std::nullopt)), QList<Subscriber>{ada});

    // The signing secret that was passed is the one the deployed worker checks tokens with.
    const HTTPRequest unsubscribe{
        u"POST"_s,
        ReaderLinks::unsubscribeURL(local.toString(), ada.email, m_signingSecret),
        {{u"Content-Type"_s, u"application/x-www-form-urlencoded"_s}},
        "List-Unsubscribe=One-Click"};
    QCOMPARE(runTask(m_transport->send(unsubscribe)).status, 200);
    QCOMPARE(runTask(worker.fetchSubscribers(now)).first().status, SubscriberStatus::unsubscribed);

    const HTTPResponse form = runTask(m_transport->send(HTTPRequest{u"GET"_s, local, {}, {}}));
    QVERIFY(form.body.contains("Subscribe to The Quill &amp; Ink"));
}

void TestCloudflareDeployLive::redeploymentReusesTheDatabaseAndTheURL() {
    QVERIFY(!m_databaseID.isEmpty());
    const qsizetype before = requestCount();
    QCOMPARE(deployNow(m_secrets), expectedURL);
    // Without secrets Cloudflare keeps the ones the script has.
    QCOMPARE(deployNow({}), expectedURL);

    const QJsonArray sent = requestsSince(before);
    QCOMPARE(sent.size(), 10); // no second database was created
    QCOMPARE(control(u"databases"_s).toArray().size(), 1);
    // A fresh boundary for every upload.
    QVERIFY(sent[2][u"headers"_s][u"content-type"_s] != sent[7][u"headers"_s][u"content-type"_s]);
    const QByteArray lastMetadata =
        QByteArray::fromBase64(sent[7][u"body"_s].toString().toLatin1());
    QVERIFY(lastMetadata.contains("\"keep_bindings\":[\"secret_text\"]"));

    // Same database, same data, still the same API token.
    const QUrl local(control(u"scripts/postwick"_s)[u"url"_s].toString());
    const WorkerClient worker(local, m_apiToken, m_transport);
    const QList<Subscriber> pulled = runTask(worker.fetchSubscribers(std::nullopt));
    QVERIFY(pulled.size() == 1 && pulled.first().status == SubscriberStatus::unsubscribed);
}

void TestCloudflareDeployLive::aWrongTokenStopsAtTheFirstCall() {
    const qsizetype before = requestCount();
    QCOMPARE(refusal(u"revoked"_s, u"js"_s, u"SELECT 1;"_s),
             u"Cloudflare API error 403: Authentication error (10000)"_s);
    QCOMPARE(requestsSince(before).size(), 1);
}

void TestCloudflareDeployLive::aBrokenScriptIsRefusedAndTheOldOneServes() {
    const QString message =
        refusal(cloudflareToken, u"export default { fetch( }"_s, *WorkerResources::schema());
    QVERIFY2(message.startsWith(u"Cloudflare API error 400: Uncaught SyntaxError: "_s) &&
                 message.endsWith(u"(10021)"_s),
             qPrintable(message));
    const QUrl local(control(u"scripts/postwick"_s)[u"url"_s].toString());
    QVERIFY(runTask(WorkerClient(local, m_apiToken, m_transport).health()));
}

QTEST_GUILESS_MAIN(TestCloudflareDeployLive)
#include "tst_cloudflare_deploy_live.moc"
