// CloudflareDeployer against a scripted transport: the odd answers and names Cloudflare's API
// can give (the whole deployment, upload included, runs against a fake Cloudflare and Miniflare
// in tst_cloudflare_deploy_live).

#include "ses/transport_error.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"
#include "worker/cloudflare_deployer.h"
#include "worker/cloudflare_error.h"

#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;
using quillmere::test::ScriptedTransport;

namespace {

const QString base = u"https://api.cloudflare.com/client/v4"_s;

struct Fixture {
    Fixture() { qunsetenv("CLOUDFLARE_API_BASE_URL"); }
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    CloudflareDeployer deployer{u"t"_s, transport, [] { return u"B"_s; }};

    void enqueue(std::initializer_list<const char*> bodies) {
        for (const char* body : bodies) {
            transport->enqueue(200, body);
        }
    }
    // The description of the error the call ended with, or "ok".
    QString outcome(const std::function<void()>& call) {
        try {
            call();
            return u"ok"_s;
        } catch (const CloudflareError& error) {
            return error.description();
        }
    }
    QString deploy(const QString& account = u"a"_s, const QString& script = u"p"_s,
                   const QString& schema = u"SELECT 1;"_s) {
        return outcome(
            [&] { test::runTask(deployer.deploy(account, script, u"js"_s, schema, {}, {})); });
    }
    QString line(qsizetype i) const {
        const HTTPRequest& r = transport->requests()[i];
        return r.method + QLatin1Char(' ') + r.url.toString(QUrl::FullyEncoded).mid(base.size());
    }
};

const char* const ok = R"({"success":true,"result":{}})";
const char* const subdomain = R"({"success":true,"result":{"subdomain":"quill-writer"}})";

} // namespace

class TestCloudflareDeployer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void databaseMatchingAndCreation();
    void namesArePercentEncodedInPaths();
    void failuresCarryCloudflaresMessages();
    void tokenCheckAndAccounts();
};

void TestCloudflareDeployer::databaseMatchingAndCreation() {
    // Only an exact name with a text uuid is the database; otherwise a new one is made.
    const std::pair<const char*, const char*> lists[] = {
        {R"({"success":true,"result":[{"name":"p-db","uuid":"first"},{"name":"p-db","uuid":"2"}]})",
         "POST /accounts/a/d1/database/first/query"},
        {R"({"success":true,"result":[{"name":"p-db-old","uuid":"wrong"}]})",
         "POST /accounts/a/d1/database"},
        {R"({"success":true,"result":[{"name":"p-db","uuid":7},{"name":"p-db","uuid":"later"}]})",
         "POST /accounts/a/d1/database"},
        {R"({"success":true})", "POST /accounts/a/d1/database"},
        {R"({"success":true,"result":{"name":"p-db","uuid":"not-a-list"}})",
         "POST /accounts/a/d1/database"},
    };
    for (const auto& [list, second] : lists) {
        Fixture f;
        const bool creates = QByteArray(second).endsWith("database");
        f.enqueue({list});
        if (creates) {
            f.enqueue({R"({"success":true,"result":{"uuid":"new-db","name":"p-db"}})"});
        }
        f.enqueue({R"({"success":true,"result":[]})", ok, ok, subdomain});
        QCOMPARE(f.deploy(), u"ok"_s);
        QCOMPARE(f.line(1), QLatin1String(second));
    }

    // A creation answer without a text uuid ends the deployment.
    Fixture f;
    f.enqueue({R"({"success":true,"result":[]})", R"({"success":true,"result":{"uuid":12}})"});
    QCOMPARE(f.deploy(), u"D1 response has no uuid"_s);
    QCOMPARE(f.transport->requests().size(), 2);

    // A blank schema is not sent at all.
    Fixture blank;
    blank.enqueue({R"({"success":true,"result":[{"name":"p-db","uuid":"d"}]})", ok, ok, subdomain});
    QCOMPARE(blank.deploy(u"a"_s, u"p"_s, u"\n  \t\n"_s), u"ok"_s);
    QCOMPARE(blank.line(1), u"PUT /accounts/a/workers/scripts/p"_s);
}

void TestCloudflareDeployer::namesArePercentEncodedInPaths() {
    Fixture f;
    f.enqueue({R"({"success":true,"result":[{"name":"my worker-db","uuid":"id/with+odd"}]})", ok,
               ok, ok, R"({"success":true,"result":{"subdomain":"sub"}})"});
    // Cloudflare refuses such a script name; what matters is that nothing leaks into the path,
    // and that a host with a space is reported rather than returned broken.
    QCOMPARE(f.deploy(u"acc/é~._-"_s, u"my worker"_s),
             u"workers.dev subdomain is not set up for this account"_s);
    const QString account = u"/accounts/acc%2F%C3%A9~._-"_s;
    QCOMPARE(f.line(0), u"GET "_s + account + "/d1/database?name=my%20worker-db");
    QCOMPARE(f.line(1), u"POST "_s + account + "/d1/database/id%2Fwith%2Bodd/query");
    QCOMPARE(f.line(3), u"POST "_s + account + "/workers/scripts/my%20worker/subdomain");
}

void TestCloudflareDeployer::failuresCarryCloudflaresMessages() {
    Fixture f;
    const auto verify = [&](int status, const QByteArray& body) {
        f.transport->enqueue(status, body);
        return f.outcome([&] { test::runTask(f.deployer.verifyToken()); });
    };
    const QString prefix = u"Cloudflare API error "_s;
    QCOMPARE(verify(500, {}), prefix + u"500"_s);
    QCOMPARE(verify(502, QByteArray("\xff\xfe", 2)), prefix + u"502: HTTP 502"_s);
    QCOMPARE(verify(403, "<html>denied</html>"), prefix + u"403: <html>denied</html>"_s);
    QCOMPARE(verify(403, R"({"success":false,"errors":[{"code":9109,"message":"Invalid access )"
                         R"(token"},{"code":10000},{"message":"Second"},)"
                         R"({"message":"Third","code":"x7"},"junk"],"result":null})"),
             prefix + u"403: Invalid access token (9109); Second; Third (x7)"_s);
    // "success": false wins over a 200; errors that are not a list fall back to the body.
    QCOMPARE(verify(200, R"({"success":false,"errors":{"message":"odd"}})"),
             prefix + uR"(200: {"success":false,"errors":{"message":"odd"}})"_s);
    QCOMPARE(verify(200, "[]"), u"response is not a JSON object"_s);
    // Without a boolean "success" a 2xx is a success and an error status is not.
    QCOMPARE(verify(200, R"({"result":{"status":"active"}})"), u"ok"_s);
    QCOMPARE(verify(404, R"({"result":{},"errors":[{"message":"Not found","code":7003}]})"),
             prefix + u"404: Not found (7003)"_s);

    // The first failure ends a deployment; the transport's own error passes through unchanged.
    Fixture down;
    down.enqueue({R"({"success":true,"result":[{"name":"p-db","uuid":"d"}]})"});
    down.transport->enqueueFailure(TransportError(u"Connection refused"_s));
    QVERIFY_THROWS_EXCEPTION(TransportError, down.deploy());
    QCOMPARE(down.transport->pending(), 0);

    for (const char* answer :
         {R"({"success":true,"result":{"subdomain":""}})", ok, R"({"success":true})"}) {
        Fixture odd;
        odd.enqueue({R"({"success":true,"result":[{"name":"p-db","uuid":"d"}]})", ok, ok, answer});
        QCOMPARE(odd.deploy(u"a"_s, u"p"_s, QString()),
                 u"workers.dev subdomain is not set up for this account"_s);
    }
}

void TestCloudflareDeployer::tokenCheckAndAccounts() {
    Fixture f;
    for (const char* answer : {R"({"success":true,"result":{"status":"Active"}})",
                               R"({"success":true,"result":{"status":"disabled"}})",
                               R"({"success":true,"result":"active"})", R"({"success":true})"}) {
        f.enqueue({answer});
        QVERIFY2(!test::runTask(f.deployer.verifyToken()), answer);
    }
    f.enqueue({R"({"success":true,"result":[{"id":"a1","name":"Writer"},{"id":"a2"},)"
               R"({"name":"no id"},{"id":3,"name":"numeric id"},{"id":"a4","name":null}]})"});
    QCOMPARE(
        test::runTask(f.deployer.listAccounts()),
        (QList<CloudflareAccount>{{u"a1"_s, u"Writer"_s}, {u"a2"_s, u"a2"_s}, {u"a4"_s, u"a4"_s}}));
    for (const char* answer : {ok, R"({"success":true})"}) {
        f.enqueue({answer});
        QCOMPARE(f.outcome([&] { test::runTask(f.deployer.listAccounts()); }),
                 u"accounts result is not a list"_s);
    }
}

QTEST_GUILESS_MAIN(TestCloudflareDeployer)
#include "tst_cloudflare_deployer.moc"
