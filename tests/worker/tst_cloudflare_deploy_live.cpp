// A whole deployment against a fake Cloudflare API on loopback (tests/support/fake_cloudflare.mjs)
// that answers like Cloudflare, records every request, and serves the uploaded script in
// Miniflare with the uploaded bindings and a D1 database made from the SQL it was sent. The
// deployed worker is then called through WorkerClient: what we deploy serves the API with the
// secrets we passed.

#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/run_task.h"
#include "worker/cloudflare_deployer.h"
#include "worker/cloudflare_error.h"
#include "support/node_peer.h"
#include "worker/worker_client.h"
#include "worker/worker_resources.h"

#include <QFile>
#include <QJsonArray>
#include <QTest>

using namespace quillmere;
using namespace quillmere::test;

namespace {

const QString accountID = QStringLiteral("9f3c1e0d2b4a59687766554433221100");
const QString cloudflareToken = QStringLiteral("cf-test-token-with-three-permissions");
const QUrl expectedURL(QStringLiteral("https://postwick.quill-writer.workers.dev"));

QMap<QString, QString> vars() {
    return {{QStringLiteral("PUBLICATION_NAME"), QStringLiteral("The Quill & Ink")},
            {QStringLiteral("FROM_EMAIL"), QStringLiteral("letters@quill.example")},
            {QStringLiteral("AWS_REGION"), QStringLiteral("eu-west-1")},
            {QStringLiteral("DOUBLE_OPT_IN"), QStringLiteral("false")}};
}

QByteArray fileBytes(const char* relative) {
    QFile file(QStringLiteral(QUILLMERE_SOURCE_DIR "/") + QLatin1String(relative));
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read " + std::string(relative));
    }
    return file.readAll();
}

template <class E>
E expectError(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& error) {
        return error;
    }
    throw std::logic_error("expected an error");
}

} // namespace

class TestCloudflareDeployLive : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void resourcesAreTheFilesInTheSourceTree();
    void tokenCheckAndAccounts();
    void deploymentServesTheApiWithThePassedSecrets();
    void redeploymentReusesTheDatabaseAndTheURL();
    void aWrongTokenStopsAtTheFirstCall();

private:
    CloudflareDeployer deployer(const QString& token = cloudflareToken) const {
        return CloudflareDeployer(token, m_transport);
    }
    QJsonValue control(const QString& path);
    QJsonArray requestsSince(qsizetype first);
    QUrl deployNow(const QMap<QString, QString>& secrets);

    std::unique_ptr<NodePeer> m_cloudflare;
    std::shared_ptr<NetworkTransport> m_transport = std::make_shared<NetworkTransport>();
    QString m_apiToken = ReaderLinks::randomSecret();
    QString m_signingSecret = ReaderLinks::randomSecret();
    QString m_databaseID;
};

void TestCloudflareDeployLive::initTestCase() {
    const QJsonObject config{{QStringLiteral("token"), cloudflareToken},
                             {QStringLiteral("accountId"), accountID},
                             {QStringLiteral("accountName"), QStringLiteral("Writer's account")},
                             {QStringLiteral("subdomain"), QStringLiteral("quill-writer")}};
    m_cloudflare = std::make_unique<NodePeer>(
        QStringLiteral("fake_cloudflare.mjs"),
        QStringList{QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact))});
    const QString api = m_cloudflare->value(QStringLiteral("api"));
    QVERIFY2(api.startsWith(QStringLiteral("http://127.0.0.1:")),
             "the fake Cloudflare did not report its address");
    qputenv("CLOUDFLARE_API_BASE_URL", api.toUtf8());
    QCOMPARE(deployer().apiBase(), api);
}

void TestCloudflareDeployLive::cleanupTestCase() {
    qunsetenv("CLOUDFLARE_API_BASE_URL");
    m_cloudflare.reset();
}

QJsonValue TestCloudflareDeployLive::control(const QString& path) {
    const QUrl url(m_cloudflare->value(QStringLiteral("control")) + QLatin1Char('/') + path);
    const HTTPResponse response =
        runTask(m_transport->send(HTTPRequest{QStringLiteral("GET"), url, {}, {}}));
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

QJsonArray TestCloudflareDeployLive::requestsSince(qsizetype first) {
    const QJsonArray all = control(QStringLiteral("requests")).toArray();
    QJsonArray out;
    for (qsizetype i = first; i < all.size(); ++i) {
        out.append(all[i]);
    }
    return out;
}

QUrl TestCloudflareDeployLive::deployNow(const QMap<QString, QString>& secrets) {
    return runTask(deployer().deploy(accountID, QStringLiteral("postwick"),
                                     *WorkerResources::script(), *WorkerResources::schema(), vars(),
                                     secrets));
}

void TestCloudflareDeployLive::resourcesAreTheFilesInTheSourceTree() {
    const auto script = WorkerResources::script();
    const auto schema = WorkerResources::schema();
    QVERIFY(script && schema);
    QCOMPARE(script->toUtf8(), fileBytes("resources/worker.js"));
    QCOMPARE(schema->toUtf8(), fileBytes("resources/schema.sql"));
}

void TestCloudflareDeployLive::tokenCheckAndAccounts() {
    QVERIFY(runTask(deployer().verifyToken()));
    QCOMPARE(runTask(deployer().listAccounts()),
             (QList<CloudflareAccount>{{accountID, QStringLiteral("Writer's account")}}));
    const auto error = expectError<CloudflareError>(
        [&] { runTask(deployer(QStringLiteral("nope")).verifyToken()); });
    QCOMPARE(error, CloudflareError::api(401, {QStringLiteral("Invalid API Token (1000)")}));
}

void TestCloudflareDeployLive::deploymentServesTheApiWithThePassedSecrets() {
    const qsizetype before = control(QStringLiteral("requests")).toArray().size();
    const QMap<QString, QString> secrets{{QStringLiteral("API_TOKEN"), m_apiToken},
                                         {QStringLiteral("SIGNING_SECRET"), m_signingSecret}};
    QCOMPARE(deployNow(secrets), expectedURL);

    const QJsonArray sent = requestsSince(before);
    QStringList lines;
    for (const QJsonValue& r : sent) {
        lines.append(r[QStringLiteral("method")].toString() + QLatin1Char(' ') +
                     r[QStringLiteral("path")].toString() + r[QStringLiteral("query")].toString());
    }
    m_databaseID =
        control(QStringLiteral("databases")).toArray().first()[QStringLiteral("uuid")].toString();
    const QString account = QStringLiteral("/client/v4/accounts/") + accountID;
    QCOMPARE(lines,
             (QStringList{
                 QStringLiteral("GET ") + account + QStringLiteral("/d1/database?name=postwick-db"),
                 QStringLiteral("POST ") + account + QStringLiteral("/d1/database"),
                 QStringLiteral("POST ") + account + QStringLiteral("/d1/database/") +
                     m_databaseID + QStringLiteral("/query"),
                 QStringLiteral("PUT ") + account + QStringLiteral("/workers/scripts/postwick"),
                 QStringLiteral("POST ") + account +
                     QStringLiteral("/workers/scripts/postwick/subdomain"),
                 QStringLiteral("GET ") + account + QStringLiteral("/workers/subdomain"),
             }));
    for (const QJsonValue& r : sent) {
        QCOMPARE(r[QStringLiteral("headers")][QStringLiteral("authorization")].toString(),
                 QStringLiteral("Bearer ") + cloudflareToken);
    }
    // The bytes Cloudflare received are exactly the upload body, script unchanged.
    const QJsonValue upload = sent[3];
    const QString type =
        upload[QStringLiteral("headers")][QStringLiteral("content-type")].toString();
    const QString boundary = type.section(QStringLiteral("boundary="), 1);
    QVERIFY(boundary.startsWith(QStringLiteral("Postwick-")));
    QCOMPARE(QByteArray::fromBase64(upload[QStringLiteral("body")].toString().toLatin1()),
             CloudflareDeployer::multipartBody(
                 boundary, CloudflareDeployer::metadataJSON(m_databaseID, vars(), secrets),
                 *WorkerResources::script()));
    QCOMPARE(QJsonDocument::fromJson(
                 QByteArray::fromBase64(sent[2][QStringLiteral("body")].toString().toLatin1()))
                 .object()
                 .value(QStringLiteral("sql"))
                 .toString(),
             *WorkerResources::schema());

    // The deployed worker answers on its loopback address with the secrets that were passed.
    const QJsonValue script = control(QStringLiteral("scripts/postwick"));
    QVERIFY(script[QStringLiteral("routeEnabled")].toBool());
    const QUrl local(script[QStringLiteral("url")].toString());
    const WorkerClient worker(local, m_apiToken, m_transport);
    QVERIFY(runTask(worker.health()));
    QVERIFY(!runTask(WorkerClient(local, cloudflareToken, m_transport).health()));
    const QDateTime now =
        QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    const Subscriber ada{QUuid::createUuid(),
                         QStringLiteral("ada@example.com"),
                         QStringLiteral("Ada"),
                         SubscriberStatus::active,
                         QStringLiteral("manual"),
                         now,
                         now};
    QCOMPARE(runTask(worker.upsertSubscribers({ada})), 1);
    QCOMPARE(runTask(worker.fetchSubscribers(std::nullopt)), QList<Subscriber>{ada});

    const auto unsubscribe = [&](const QString& secret) {
        const HTTPRequest request{
            QStringLiteral("POST"),
            ReaderLinks::unsubscribeURL(local.toString(), ada.email, secret),
            {{QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded")}},
            "List-Unsubscribe=One-Click"};
        return runTask(m_transport->send(request)).status;
    };
    QCOMPARE(unsubscribe(ReaderLinks::randomSecret()), 400);
    QCOMPARE(unsubscribe(m_signingSecret), 200);
    QCOMPARE(runTask(worker.fetchSubscribers(now)).first().status, SubscriberStatus::unsubscribed);

    const HTTPResponse form =
        runTask(m_transport->send(HTTPRequest{QStringLiteral("GET"), local, {}, {}}));
    QVERIFY(form.body.contains("Subscribe to The Quill &amp; Ink"));
}

void TestCloudflareDeployLive::redeploymentReusesTheDatabaseAndTheURL() {
    QVERIFY(!m_databaseID.isEmpty());
    const qsizetype before = control(QStringLiteral("requests")).toArray().size();
    const QMap<QString, QString> secrets{{QStringLiteral("API_TOKEN"), m_apiToken},
                                         {QStringLiteral("SIGNING_SECRET"), m_signingSecret}};
    QCOMPARE(deployNow(secrets), expectedURL);
    // Without secrets Cloudflare keeps the ones the script has.
    QCOMPARE(deployNow({}), expectedURL);

    const QJsonArray sent = requestsSince(before);
    QCOMPARE(sent.size(), 10);
    for (const QJsonValue& r : sent) {
        QVERIFY2(!(r[QStringLiteral("method")] == QStringLiteral("POST") &&
                   r[QStringLiteral("path")].toString().endsWith(QStringLiteral("/d1/database"))),
                 "a second database was created");
    }
    QCOMPARE(sent[1][QStringLiteral("path")].toString(),
             QStringLiteral("/client/v4/accounts/") + accountID + QStringLiteral("/d1/database/") +
                 m_databaseID + QStringLiteral("/query"));
    QCOMPARE(control(QStringLiteral("databases")).toArray().size(), 1);
    const QByteArray lastMetadata =
        QByteArray::fromBase64(sent[7][QStringLiteral("body")].toString().toLatin1());
    QVERIFY(lastMetadata.contains("\"keep_bindings\":[\"secret_text\"]"));

    // Same database, same data, still the same API token.
    const QUrl local(control(QStringLiteral("scripts/postwick"))[QStringLiteral("url")].toString());
    const WorkerClient worker(local, m_apiToken, m_transport);
    const QList<Subscriber> pulled = runTask(worker.fetchSubscribers(std::nullopt));
    QCOMPARE(pulled.size(), 1);
    QCOMPARE(pulled.first().email, QStringLiteral("ada@example.com"));
    QCOMPARE(pulled.first().status, SubscriberStatus::unsubscribed);
}

void TestCloudflareDeployLive::aWrongTokenStopsAtTheFirstCall() {
    const qsizetype before = control(QStringLiteral("requests")).toArray().size();
    const auto error = expectError<CloudflareError>([&] {
        runTask(deployer(QStringLiteral("revoked"))
                    .deploy(accountID, QStringLiteral("postwick"), QStringLiteral("js"),
                            QStringLiteral("SELECT 1;"), vars(), {}));
    });
    QCOMPARE(error, CloudflareError::api(403, {QStringLiteral("Authentication error (10000)")}));
    QCOMPARE(error.description(),
             QStringLiteral("Cloudflare API error 403: Authentication error (10000)"));
    QCOMPARE(requestsSince(before).size(), 1);
}

QTEST_GUILESS_MAIN(TestCloudflareDeployLive)
#include "tst_cloudflare_deploy_live.moc"
