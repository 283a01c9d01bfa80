// CloudflareDeployer against a scripted transport: the exact requests and bytes, and the odd
// answers Cloudflare's API can give (the whole deployment runs against a fake Cloudflare and
// Miniflare in tst_cloudflare_deploy_live).

#include "ses/transport_error.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"
#include "worker/cloudflare_deployer.h"
#include "worker/cloudflare_error.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

using namespace quillmere;
using quillmere::test::ScriptedTransport;

namespace {

const QString base = QStringLiteral("https://api.cloudflare.com/client/v4");

template <class T>
T run(QCoro::Task<T>&& task) {
    return quillmere::test::runTask(std::move(task));
}

CloudflareError expectCloudflareError(const std::function<void()>& call) {
    try {
        call();
    } catch (const CloudflareError& error) {
        return error;
    }
    throw std::logic_error("expected a CloudflareError");
}

QString url(const HTTPRequest& request) {
    return request.url.toString(QUrl::FullyEncoded);
}

QMap<QString, QString> vars() {
    return {{QStringLiteral("PUBLICATION_NAME"), QStringLiteral("The Quill")},
            {QStringLiteral("AWS_REGION"), QStringLiteral("eu-west-1")},
            {QStringLiteral("FROM_EMAIL"), QStringLiteral("letters@quill.example")},
            {QStringLiteral("DOUBLE_OPT_IN"), QStringLiteral("true")}};
}

QMap<QString, QString> secrets() {
    return {{QStringLiteral("SIGNING_SECRET"), QStringLiteral("s3")},
            {QStringLiteral("API_TOKEN"), QStringLiteral("a1")}};
}

// Answers for the steps after the database is known: schema (when sent), upload, route,
// subdomain.
void scriptAfterDatabase(ScriptedTransport& t, bool schema) {
    if (schema) {
        t.enqueue(200, R"({"success":true,"result":[{"results":[],"success":true}]})");
    }
    t.enqueue(200, R"({"success":true,"result":{"id":"postwick"}})");
    t.enqueue(200, R"({"success":true,"result":{"enabled":true}})");
    t.enqueue(200, R"({"success":true,"result":{"subdomain":"quill-writer"}})");
}

// A whole deployment that finds its database in the given list.
void scriptDeployment(ScriptedTransport& t, const char* databases, bool schema = true) {
    t.enqueue(200, databases);
    scriptAfterDatabase(t, schema);
}

} // namespace

class TestCloudflareDeployer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { qunsetenv("CLOUDFLARE_API_BASE_URL"); }
    void apiBaseAndBoundary();
    void deploymentSendsEachStepInOrder();
    void databaseMatchingAndCreation();
    void schemaIsSentUnlessBlank();
    void metadataAndMultipartBytes();
    void namesArePercentEncodedInPaths();
    void failuresCarryCloudflaresMessages();
    void tokenCheckAndAccounts();
};

void TestCloudflareDeployer::apiBaseAndBoundary() {
    auto transport = std::make_shared<ScriptedTransport>();
    QCOMPARE(CloudflareDeployer(QStringLiteral("t"), transport).apiBase(), base);
    qputenv("CLOUDFLARE_API_BASE_URL", "http://127.0.0.1:8787/client/v4/");
    QCOMPARE(CloudflareDeployer(QStringLiteral("t"), transport).apiBase(),
             QStringLiteral("http://127.0.0.1:8787/client/v4"));
    qunsetenv("CLOUDFLARE_API_BASE_URL");

    // The default boundary: "Postwick-" and a fresh upper-case UUID, different every upload.
    const CloudflareDeployer deployer(QStringLiteral("t"), transport);
    QStringList boundaries;
    for (int i = 0; i < 2; ++i) {
        scriptDeployment(
            *transport, R"({"success":true,"result":[{"name":"postwick-db","uuid":"u1"}]})", false);
        run(deployer.deploy(QStringLiteral("acc"), QStringLiteral("postwick"), QStringLiteral("js"),
                            QString(), {}, {}));
        const QString type =
            transport->requests().last().headers.value(QStringLiteral("Content-Type"));
        QVERIFY(type.isEmpty()); // the last request is the subdomain GET
        const HTTPRequest& upload = transport->requests()[transport->requests().size() - 3];
        const auto match =
            QRegularExpression(
                QStringLiteral("^multipart/form-data; boundary=(Postwick-[0-9A-F]{8}-[0-9A-F]{4}-"
                               "[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})$"))
                .match(upload.headers.value(QStringLiteral("Content-Type")));
        QVERIFY2(match.hasMatch(),
                 qPrintable(upload.headers.value(QStringLiteral("Content-Type"))));
        QVERIFY(upload.body.startsWith("--" + match.captured(1).toUtf8() + "\r\n"));
        boundaries.append(match.captured(1));
    }
    QVERIFY(boundaries[0] != boundaries[1]);
}

void TestCloudflareDeployer::deploymentSendsEachStepInOrder() {
    auto transport = std::make_shared<ScriptedTransport>();
    const CloudflareDeployer deployer(QStringLiteral("cf-token"), transport,
                                      [] { return QStringLiteral("BOUNDARY"); });
    scriptDeployment(*transport,
                     R"({"success":true,"result":[{"name":"postwick-db","uuid":"0a1b-db"}]})");
    const QUrl result = run(deployer.deploy(
        QStringLiteral("acc123"), QStringLiteral("postwick"), QStringLiteral("export default {}"),
        QStringLiteral("CREATE TABLE t (x);"), vars(), secrets()));
    QCOMPARE(result, QUrl(QStringLiteral("https://postwick.quill-writer.workers.dev")));

    const auto& r = transport->requests();
    QCOMPARE(r.size(), 5);
    const QStringList expected{
        QStringLiteral("GET ") + base +
            QStringLiteral("/accounts/acc123/d1/database?name=postwick-db"),
        QStringLiteral("POST ") + base +
            QStringLiteral("/accounts/acc123/d1/database/0a1b-db/query"),
        QStringLiteral("PUT ") + base + QStringLiteral("/accounts/acc123/workers/scripts/postwick"),
        QStringLiteral("POST ") + base +
            QStringLiteral("/accounts/acc123/workers/scripts/postwick/subdomain"),
        QStringLiteral("GET ") + base + QStringLiteral("/accounts/acc123/workers/subdomain"),
    };
    for (int i = 0; i < r.size(); ++i) {
        QCOMPARE(r[i].method + QLatin1Char(' ') + url(r[i]), expected[i]);
        QCOMPARE(r[i].headers.value(QStringLiteral("Authorization")),
                 QStringLiteral("Bearer cf-token"));
        QCOMPARE(r[i].headers.value(QStringLiteral("Accept")), QStringLiteral("application/json"));
    }
    QCOMPARE(r[1].body, QByteArray(R"({"sql":"CREATE TABLE t (x);"})"));
    QCOMPARE(r[1].headers.value(QStringLiteral("Content-Type")),
             QStringLiteral("application/json"));
    QCOMPARE(r[2].headers.value(QStringLiteral("Content-Type")),
             QStringLiteral("multipart/form-data; boundary=BOUNDARY"));
    QCOMPARE(r[2].body,
             CloudflareDeployer::multipartBody(
                 QStringLiteral("BOUNDARY"),
                 CloudflareDeployer::metadataJSON(QStringLiteral("0a1b-db"), vars(), secrets()),
                 QStringLiteral("export default {}")));
    QCOMPARE(r[3].body, QByteArray(R"({"enabled":true})"));
    QVERIFY(r[0].body.isEmpty() && r[4].body.isEmpty());
    QVERIFY(!r[0].headers.contains(QStringLiteral("Content-Type")));
}

void TestCloudflareDeployer::databaseMatchingAndCreation() {
    struct Case {
        const char* list;
        bool creates;
        const char* uuid;
    };
    const Case cases[] = {
        {R"({"success":true,"result":[{"name":"postwick-db-old","uuid":"wrong"}]})", true,
         "new-db"},
        {R"({"success":true,"result":[{"name":"postwick-db","uuid":"first"},{"name":"postwick-db","uuid":"second"}]})",
         false, "first"},
        {R"({"success":true,"result":[]})", true, "new-db"},
        {R"({"success":true,"result":[{"name":"postwick-db","uuid":7},{"name":"postwick-db","uuid":"later"}]})",
         true, "new-db"},
        {R"({"success":true})", true, "new-db"},
        {R"({"success":true,"result":{"name":"postwick-db","uuid":"not-a-list"}})", true, "new-db"},
    };
    for (const Case& c : cases) {
        auto transport = std::make_shared<ScriptedTransport>();
        const CloudflareDeployer deployer(QStringLiteral("t"), transport,
                                          [] { return QStringLiteral("B"); });
        transport->enqueue(200, c.list);
        if (c.creates) {
            transport->enqueue(
                200, R"({"success":true,"result":{"uuid":"new-db","name":"postwick-db"}})");
        }
        scriptAfterDatabase(*transport, true);
        run(deployer.deploy(QStringLiteral("a"), QStringLiteral("postwick"), QStringLiteral("js"),
                            QStringLiteral("SELECT 1;"), {}, {}));
        QCOMPARE(transport->pending(), qsizetype(0));
        const auto& r = transport->requests();
        QCOMPARE(r[1].method + QLatin1Char(' ') + url(r[1]),
                 c.creates
                     ? QStringLiteral("POST ") + base + QStringLiteral("/accounts/a/d1/database")
                     : QStringLiteral("POST ") + base + QStringLiteral("/accounts/a/d1/database/") +
                           QLatin1String(c.uuid) + QStringLiteral("/query"));
        if (c.creates) {
            QCOMPARE(r[1].body, QByteArray(R"({"name":"postwick-db"})"));
            QVERIFY(url(r[2]).endsWith(QStringLiteral("/d1/database/new-db/query")));
        }
    }

    // A creation answer without a text uuid ends the deployment.
    auto transport = std::make_shared<ScriptedTransport>();
    const CloudflareDeployer deployer(QStringLiteral("t"), transport,
                                      [] { return QStringLiteral("B"); });
    transport->enqueue(200, R"({"success":true,"result":[]})");
    transport->enqueue(200, R"({"success":true,"result":{"uuid":12}})");
    const auto error = expectCloudflareError([&] {
        run(deployer.deploy(QStringLiteral("a"), QStringLiteral("postwick"), QStringLiteral("js"),
                            QString(), {}, {}));
    });
    QCOMPARE(error, CloudflareError::decoding(QStringLiteral("D1 response has no uuid")));
    QCOMPARE(transport->requests().size(), 2);
}

void TestCloudflareDeployer::schemaIsSentUnlessBlank() {
    for (const QString& schema :
         {QString(), QStringLiteral("\n  \n\t\n"), QStringLiteral("\n  CREATE TABLE x (y);\n")}) {
        auto transport = std::make_shared<ScriptedTransport>();
        const CloudflareDeployer deployer(QStringLiteral("t"), transport,
                                          [] { return QStringLiteral("B"); });
        transport->enqueue(200, R"({"success":true,"result":[{"name":"w-db","uuid":"d"}]})");
        if (!schema.trimmed().isEmpty()) {
            transport->enqueue(200, R"({"success":true,"result":[]})");
        }
        transport->enqueue(200, R"({"success":true,"result":{}})");
        transport->enqueue(200, R"({"success":true,"result":null})");
        transport->enqueue(200, R"({"success":true,"result":{"subdomain":"s"}})");
        run(deployer.deploy(QStringLiteral("a"), QStringLiteral("w"), QStringLiteral("js"), schema,
                            {}, {}));
        const bool sent = transport->requests().size() == 5;
        QCOMPARE(sent, !schema.trimmed().isEmpty());
        if (sent) {
            QCOMPARE(transport->requests()[1].body,
                     QByteArray(R"({"sql":"\n  CREATE TABLE x (y);\n"})"));
        }
    }
}

void TestCloudflareDeployer::metadataAndMultipartBytes() {
    QCOMPARE(CloudflareDeployer::databaseName(QStringLiteral("postwick")),
             QStringLiteral("postwick-db"));
    QCOMPARE(
        CloudflareDeployer::metadataJSON(QStringLiteral("db-1"), vars(), secrets()),
        QByteArray(R"({"bindings":[{"id":"db-1","name":"DB","type":"d1"},)"
                   R"({"name":"AWS_REGION","text":"eu-west-1","type":"plain_text"},)"
                   R"({"name":"DOUBLE_OPT_IN","text":"true","type":"plain_text"},)"
                   R"({"name":"FROM_EMAIL","text":"letters@quill.example","type":"plain_text"},)"
                   R"({"name":"PUBLICATION_NAME","text":"The Quill","type":"plain_text"},)"
                   R"({"name":"API_TOKEN","text":"a1","type":"secret_text"},)"
                   R"({"name":"SIGNING_SECRET","text":"s3","type":"secret_text"}],)"
                   R"("compatibility_date":"2025-09-01","main_module":"worker.js"})"));
    QCOMPARE(
        CloudflareDeployer::metadataJSON(QStringLiteral("db-1"), {}, {}),
        QByteArray(
            R"({"bindings":[{"id":"db-1","name":"DB","type":"d1"}],"compatibility_date":"2025-09-01",)"
            R"("keep_bindings":["secret_text"],"main_module":"worker.js"})"));
    QCOMPARE(
        CloudflareDeployer::multipartBody(QStringLiteral("Postwick-XYZ"), QByteArray("{\"m\":1}"),
                                          QStringLiteral("export default { é };")),
        QByteArray("--Postwick-XYZ\r\n"
                   "Content-Disposition: form-data; name=\"metadata\"\r\n"
                   "Content-Type: application/json\r\n\r\n"
                   "{\"m\":1}"
                   "\r\n--Postwick-XYZ\r\n"
                   "Content-Disposition: form-data; name=\"worker.js\"; filename=\"worker.js\"\r\n"
                   "Content-Type: application/javascript+module\r\n\r\n"
                   "export default { \xc3\xa9 };"
                   "\r\n--Postwick-XYZ--\r\n"));
}

void TestCloudflareDeployer::namesArePercentEncodedInPaths() {
    auto transport = std::make_shared<ScriptedTransport>();
    const CloudflareDeployer deployer(QStringLiteral("t"), transport,
                                      [] { return QStringLiteral("B"); });
    transport->enqueue(
        200, R"({"success":true,"result":[{"name":"my worker-db","uuid":"id/with+odd"}]})");
    transport->enqueue(200, R"({"success":true,"result":{}})");
    transport->enqueue(200, R"({"success":true,"result":{}})");
    transport->enqueue(200, R"({"success":true,"result":{}})");
    transport->enqueue(200, R"({"success":true,"result":{"subdomain":"sub"}})");
    // Cloudflare refuses such a script name; what matters here is that nothing leaks into the path.
    const auto error = expectCloudflareError([&] {
        run(deployer.deploy(QStringLiteral("acc/é~._-"), QStringLiteral("my worker"),
                            QStringLiteral("js"), QStringLiteral("SELECT 1"), {}, {}));
    });
    const auto& r = transport->requests();
    QCOMPARE(url(r[0]),
             base + QStringLiteral("/accounts/acc%2F%C3%A9~._-/d1/database?name=my%20worker-db"));
    QCOMPARE(url(r[1]),
             base + QStringLiteral("/accounts/acc%2F%C3%A9~._-/d1/database/id%2Fwith%2Bodd/query"));
    QCOMPARE(url(r[2]),
             base + QStringLiteral("/accounts/acc%2F%C3%A9~._-/workers/scripts/my%20worker"));
    QCOMPARE(
        url(r[3]),
        base + QStringLiteral("/accounts/acc%2F%C3%A9~._-/workers/scripts/my%20worker/subdomain"));
    // A host with a space is no URL: reported like a missing subdomain rather than returned broken.
    QCOMPARE(error, CloudflareError::decoding(
                        QStringLiteral("workers.dev subdomain is not set up for this account")));
}

void TestCloudflareDeployer::failuresCarryCloudflaresMessages() {
    auto transport = std::make_shared<ScriptedTransport>();
    const CloudflareDeployer deployer(QStringLiteral("t"), transport,
                                      [] { return QStringLiteral("B"); });
    const auto verify = [&] { run(deployer.verifyToken()); };

    transport->enqueue(500, {});
    QCOMPARE(expectCloudflareError(verify), CloudflareError::api(500, {QString()}));
    transport->enqueue(502, QByteArray("\xff\xfe", 2));
    QCOMPARE(expectCloudflareError(verify),
             CloudflareError::api(502, {QStringLiteral("HTTP 502")}));
    transport->enqueue(403, "<html>denied</html>");
    QCOMPARE(expectCloudflareError(verify),
             CloudflareError::api(403, {QStringLiteral("<html>denied</html>")}));
    transport->enqueue(
        403,
        R"({"success":false,"errors":[{"code":9109,"message":"Invalid access token"},)"
        R"({"code":10000},{"message":"Second"},{"message":"Third","code":"x7"},"junk"],"result":null})");
    auto error = expectCloudflareError(verify);
    QCOMPARE(error,
             CloudflareError::api(403, {QStringLiteral("Invalid access token (9109)"),
                                        QStringLiteral("Second"), QStringLiteral("Third (x7)")}));
    QCOMPARE(error.description(),
             QStringLiteral(
                 "Cloudflare API error 403: Invalid access token (9109); Second; Third (x7)"));
    // "success": false wins over a 200; errors that are not a list fall back to the body.
    transport->enqueue(200, R"({"success":false,"errors":{"message":"odd"}})");
    QCOMPARE(expectCloudflareError(verify),
             CloudflareError::api(
                 200, {QStringLiteral(R"({"success":false,"errors":{"message":"odd"}})")}));
    transport->enqueue(200, "[]");
    error = expectCloudflareError(verify);
    QCOMPARE(error, CloudflareError::decoding(QStringLiteral("response is not a JSON object")));
    QCOMPARE(error.description(), QStringLiteral("response is not a JSON object"));
    // Without a boolean "success" a 2xx is a success and an error status is not.
    transport->enqueue(200, R"({"result":{"status":"active"}})");
    QVERIFY(run(deployer.verifyToken()));
    transport->enqueue(
        404, R"({"result":{"status":"active"},"errors":[{"message":"Not found","code":7003}]})");
    QCOMPARE(expectCloudflareError(verify),
             CloudflareError::api(404, {QStringLiteral("Not found (7003)")}));

    // The first failure ends a deployment; the transport's own error passes through unchanged.
    const qsizetype before = transport->requests().size();
    transport->enqueue(200, R"({"success":true,"result":[{"name":"p-db","uuid":"d"}]})");
    transport->enqueueFailure(TransportError(QStringLiteral("Connection refused")));
    QVERIFY_THROWS_EXCEPTION(
        TransportError,
        run(deployer.deploy(QStringLiteral("a"), QStringLiteral("p"), QStringLiteral("js"),
                            QStringLiteral("SELECT 1"), {}, {})));
    QCOMPARE(transport->requests().size() - before, 2);
    QCOMPARE(transport->pending(), 0);

    for (const char* subdomain :
         {R"({"success":true,"result":{"subdomain":""}})", R"({"success":true,"result":{}})",
          R"({"success":true})", R"({"success":true,"result":{"subdomain":"bad host!"}})"}) {
        transport->enqueue(200, R"({"success":true,"result":[{"name":"p-db","uuid":"d"}]})");
        transport->enqueue(200, R"({"success":true,"result":{}})");
        transport->enqueue(200, R"({"success":true,"result":{}})");
        transport->enqueue(200, subdomain);
        error = expectCloudflareError([&] {
            run(deployer.deploy(QStringLiteral("a"), QStringLiteral("p"), QStringLiteral("js"),
                                QString(), {}, {}));
        });
        QCOMPARE(error, CloudflareError::decoding(QStringLiteral(
                            "workers.dev subdomain is not set up for this account")));
    }
}

void TestCloudflareDeployer::tokenCheckAndAccounts() {
    auto transport = std::make_shared<ScriptedTransport>();
    const CloudflareDeployer deployer(QStringLiteral("tok"), transport);
    transport->enqueue(200, R"({"success":true,"result":{"id":"x","status":"active"}})");
    QVERIFY(run(deployer.verifyToken()));
    QCOMPARE(url(transport->requests().last()), base + QStringLiteral("/user/tokens/verify"));
    QCOMPARE(transport->requests().last().method, QStringLiteral("GET"));
    for (const char* answer :
         {R"({"success":true,"result":{"status":"Active"}})",
          R"({"success":true,"result":{"status":"disabled"}})", R"({"success":true,"result":{}})",
          R"({"success":true,"result":"active"})", R"({"success":true})"}) {
        transport->enqueue(200, answer);
        QVERIFY2(!run(deployer.verifyToken()), answer);
    }

    transport->enqueue(
        200,
        R"({"success":true,"result":[{"id":"a1","name":"Writer"},{"id":"a2"},{"name":"no id"},)"
        R"({"id":3,"name":"numeric id"},{"id":"a4","name":null}]})");
    QCOMPARE(run(deployer.listAccounts()),
             (QList<CloudflareAccount>{{QStringLiteral("a1"), QStringLiteral("Writer")},
                                       {QStringLiteral("a2"), QStringLiteral("a2")},
                                       {QStringLiteral("a4"), QStringLiteral("a4")}}));
    QCOMPARE(url(transport->requests().last()), base + QStringLiteral("/accounts"));
    for (const char* answer : {R"({"success":true,"result":{}})", R"({"success":true})"}) {
        transport->enqueue(200, answer);
        QCOMPARE(expectCloudflareError([&] { run(deployer.listAccounts()); }),
                 CloudflareError::decoding(QStringLiteral("accounts result is not a list")));
    }
}

QTEST_GUILESS_MAIN(TestCloudflareDeployer)
#include "tst_cloudflare_deployer.moc"
