// The model's workflows against scripted transports: every message they show, and the rules
// that no real peer can be made to exercise on demand.
#include "app/app_model.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"
#include "render/reader_links.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray cloudflare(const QJsonValue& result) {
    return json(QJsonObject{{"success", true}, {"errors", QJsonArray()}, {"result", result}});
}

QJsonObject wire(const QString& email, const QString& status,
                 const QString& updated = QStringLiteral("2026-01-02T00:00:00Z")) {
    return QJsonObject{{"email", email},
                       {"status", status},
                       {"updated_at", updated},
                       {"created_at", "2026-01-01T00:00:00Z"},
                       {"name", ""},
                       {"source", "signup-form"}};
}

} // namespace

class TestWorkflows : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<test::ScriptedTransport> m_net;

    std::unique_ptr<AppModel> model(QStringList arguments = {}) {
        AppModel::Dependencies d;
        d.store = std::make_shared<LibraryStore>(m_dir->filePath(QStringLiteral("library.json")));
        d.credentials = m_credentials;
        d.settings = std::make_shared<QSettings>(m_dir->filePath(QStringLiteral("s.ini")),
                                                 QSettings::IniFormat);
        d.arguments = QStringList{QStringLiteral("quillmere")} + arguments;
        d.transport = m_net;
        d.demoDeliveryDelay = std::chrono::milliseconds(1);
        auto m = std::make_unique<AppModel>(std::move(d));
        test::runTask(m->start());
        return m;
    }

    void storeKeys() {
        m_credentials->set(QStringLiteral("AKID"), CredentialStore::Key::awsAccessKeyID);
        m_credentials->set(QStringLiteral("secret"), CredentialStore::Key::awsSecretAccessKey);
    }

    void deployed(AppModel& m) {
        m_credentials->set(QStringLiteral("token"), CredentialStore::Key::workerAPIToken);
        SenderProfile p = m.library().profile;
        p.workerBaseURL = QStringLiteral("https://postwick.ann.workers.dev");
        m.setProfile(p);
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir->filePath(name);
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path;
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_credentials = std::make_shared<MemoryCredentialStore>();
        m_net = std::make_shared<test::ScriptedTransport>();
    }

    void awsKeysAndAccount() {
        auto m = model();
        test::runTask(m->refreshSES()); // no keys: nothing happens
        QCOMPARE(m_net->requests().size(), 0);

        m->saveAWSKeys(QStringLiteral(" \tAKIDEXAMPLE  "), QStringLiteral("\tsecret\n "));
        QCOMPARE(m->loadCredentials()->accessKeyID, QStringLiteral("AKIDEXAMPLE"));
        QCOMPARE(m->loadCredentials()->secretAccessKey,
                 QStringLiteral("secret\n")); // line breaks stay

        m_net->enqueue(403,
                       R"({"message": "The security token included in the request is invalid."})",
                       {{"x-amzn-ErrorType", "UnrecognizedClientException:"}});
        test::runTask(m->refreshSES());
        QCOMPARE(m->sesError(), QStringLiteral("SES 403 UnrecognizedClientException: The security "
                                               "token included in the request is invalid."));
        QCOMPARE(m->account(), std::nullopt);
        m_net->enqueue(200,
                       R"({"ProductionAccessEnabled": false, "SendQuota": {"MaxSendRate": 14}})");
        test::runTask(m->refreshSES());
        QCOMPARE(m->sesError(), std::nullopt);
        QCOMPARE(m->account()->maxSendRate, 14.0);
        QCOMPARE(m->sendRate(), 0.8 * 14);
        QVERIFY(!m->isBusy());

        m_credentials->failWrites(-25308);
        m->saveAWSKeys(QStringLiteral("A"), QStringLiteral("B"));
        QVERIFY(
            m->sesError()->startsWith(QStringLiteral("Could not save to the system keychain: ")));
    }

    void domainVerificationAndRecords() {
        auto m = model();
        test::runTask(m->verifyDomain());
        QCOMPARE(m->sesError(), QStringLiteral("Enter your sending domain."));
        SenderProfile p;
        p.domain = QStringLiteral(" Ann.Example ");
        p.replyTo = QStringLiteral("letters@ann.example");
        m->setProfile(p);
        test::runTask(m->verifyDomain());
        QCOMPARE(m->sesError(), QStringLiteral("Add your IAM access keys first."));

        QCOMPARE(m->dnsRecords().size(), 2); // SPF and DMARC until an identity is known
        QCOMPARE(m->dnsRecords()[1].value,
                 QStringLiteral("v=DMARC1; p=none; rua=mailto:letters@ann.example;"));

        storeKeys();
        m_net->enqueue(409, R"({"message": "already exists"})",
                       {{"x-amzn-ErrorType", "AlreadyExistsException"}});
        m_net->enqueue(200,
                       R"({"VerifiedForSendingStatus": true, "DkimAttributes": {"Status": "SUCCESS",
                              "Tokens": ["t1", "t2", "t3"]}})");
        test::runTask(m->verifyDomain());
        QCOMPARE(m->sesError(), std::nullopt);
        QVERIFY(m->identity()->verifiedForSending);
        QVERIFY(
            m_net->requests()[1].url.path().endsWith(QStringLiteral("/identities/ann.example")));
        const QList<DNSRecord> records = m->dnsRecords();
        QCOMPARE(records.size(), 5);
        QCOMPARE(records[0].purpose, QStringLiteral("DKIM"));
        QCOMPARE(records[3].purpose, QStringLiteral("SPF"));

        m_net->enqueue(500, "down");
        m_net->enqueue(500, "still down");
        test::runTask(m->verifyDomain());
        QCOMPARE(m->sesError(), QStringLiteral("SES 500 HTTP500: still down"));
    }

    void deployTwiceKeepsTheSecrets() {
        storeKeys();
        auto m = model();
        const auto deployOnce = [&] {
            m_net->enqueue(200, cloudflare(QJsonArray{
                                    QJsonObject{{"name", "postwick-db"}, {"uuid", "db-1"}}}));
            m_net->enqueue(200, cloudflare(QJsonArray()));  // schema
            m_net->enqueue(200, cloudflare(QJsonObject())); // upload
            m_net->enqueue(200, cloudflare(QJsonObject())); // route
            m_net->enqueue(200, cloudflare(QJsonObject{{"subdomain", "ann"}}));
            test::runTask(m->deployWorker(QStringLiteral("cf-token"), QStringLiteral("acc-1")));
        };
        deployOnce();
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Worker live at https://postwick.ann.workers.dev"));
        QCOMPARE(m->library().profile.workerBaseURL,
                 QStringLiteral("https://postwick.ann.workers.dev"));
        const auto apiToken = m_credentials->get(CredentialStore::Key::workerAPIToken);
        const QString secret = m->signingSecret();
        QCOMPARE(apiToken->size(), 64);
        QCOMPARE(m_credentials->get(CredentialStore::Key::cloudflareAPIToken),
                 QStringLiteral("cf-token"));
        QByteArray upload;
        for (const HTTPRequest& r : m_net->requests()) {
            if (r.method == QLatin1String("PUT")) {
                upload = r.body;
            }
        }
        for (const QString& expected :
             {*apiToken, secret, QStringLiteral("AKID"), QStringLiteral("secret")}) {
            QVERIFY(upload.contains(expected.toUtf8()));
        }
        deployOnce();
        QCOMPARE(m_credentials->get(CredentialStore::Key::workerAPIToken), apiToken);
        QCOMPARE(m->signingSecret(), secret);

        m_net->enqueue(
            403, json(QJsonObject{
                     {"success", false},
                     {"errors", QJsonArray{QJsonObject{{"code", 10000},
                                                       {"message", "Authentication error"}}}}}));
        test::runTask(m->deployWorker(QStringLiteral("bad"), QStringLiteral("acc-1")));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Cloudflare API error 403: Authentication error (10000)"));
    }

    void syncMergesWithTheWorkersStateWinning() {
        auto m = model();
        test::runTask(m->syncSubscribers());
        QCOMPARE(*m->statusMessage(), QStringLiteral("Deploy the worker first."));
        deployed(*m);
        SenderProfile p = m->library().profile;
        p.doubleOptIn = false;
        m->setProfile(p);
        m->addSubscriber(QStringLiteral("ann@example.com"), QStringLiteral("Ann"));
        m->addSubscriber(QStringLiteral("bo@example.com"), QStringLiteral("Bo"));
        const Subscriber ann = m->library().subscribers.last();

        // A failed push leaves lastSync alone, so the same changes go next time.
        m_net->enqueue(500, R"({"error": "D1 is down"})");
        test::runTask(m->syncSubscribers());
        QCOMPARE(*m->statusMessage(), QStringLiteral("Worker error 500: D1 is down"));
        QCOMPARE(m->library().lastSync, std::nullopt);

        m_net->enqueue(200, R"({"upserted": 2})");
        m_net->enqueue(200, json(QJsonObject{
                                {"subscribers", QJsonArray{wire("ann@example.com", "unsubscribed"),
                                                           wire(" Bo@Example.com ", "complained"),
                                                           wire("new@example.com", "pending")}}}));
        test::runTask(m->syncSubscribers());
        QCOMPARE(*m->statusMessage(), QStringLiteral("Synced 3 changes from the worker."));
        QCOMPARE(QJsonDocument::fromJson(m_net->requests()[1].body)["subscribers"].toArray().size(),
                 2);
        QVERIFY(!m_net->requests()[2].url.hasQuery()); // first pull: everything
        QVERIFY(m->library().lastSync);
        const auto& list = m->library().subscribers;
        QCOMPARE(list.size(), 3); // the pulled address is normalised, then matched exactly
        const auto annNow = std::find_if(list.cbegin(), list.cend(),
                                         [&](const Subscriber& s) { return s.id == ann.id; });
        QCOMPARE(annNow->status, SubscriberStatus::unsubscribed);
        QCOMPARE(annNow->name, QStringLiteral("Ann")); // local name, id and source stay
        QCOMPARE(list.last().email, QStringLiteral("new@example.com"));
        QCOMPARE(list[0].status, SubscriberStatus::complained);

        // Nothing changed locally since: no push, a pull since the last sync.
        m_net->enqueue(200, R"({"subscribers": []})");
        test::runTask(m->syncSubscribers());
        QCOMPARE(m_net->requests().size(), 4);
        QVERIFY(m_net->requests()[3].url.query().startsWith(QStringLiteral("since=")));
    }

    void importMergesAndPushes() {
        auto m = model();
        test::runTask(m->syncSubscribers());
        m->importCSV(m_dir->filePath(QStringLiteral("missing.csv")));
        QCOMPARE(*m->statusMessage(), QStringLiteral("Could not read missing.csv."));

        m->addSubscriber(QStringLiteral("ann@example.com"), QString());
        const QString file =
            writeFile(QStringLiteral("beehiiv export.v2.csv"),
                      "email,status,utm_source\nann@example.com,active,x\n"
                      "bo@example.com,active,x\nBO@example.com,active,x\nnot-an-address,active,x\n"
                      "cy@example.com,unsubscribed,x\n");
        m->importCSV(file);
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Imported 2 from Beehiiv export. Skipped 1, duplicates 2."));
        const Subscriber bo = m->library().subscribers[1];
        QCOMPARE(bo.email, QStringLiteral("bo@example.com"));
        QCOMPARE(bo.source, QStringLiteral("beehiiv export.v2"));
        QCOMPARE(m->library().subscribers[2].status, SubscriberStatus::unsubscribed);

        // With a worker, the added readers are pushed.
        deployed(*m);
        m_net->enqueue(200, R"({"upserted": 1})");
        m->importCSV(
            writeFile(QStringLiteral("more.csv"), "email\ndee@example.com\nann@example.com\n"));
        QTRY_COMPARE(*m->statusMessage(),
                     QStringLiteral("Imported 1 and pushed 1 to your worker."));
        m_net->enqueue(502, "<html>bad gateway</html>");
        m->importCSV(writeFile(QStringLiteral("last.csv"), "email\nel@example.com\n"));
        QTRY_COMPARE(*m->statusMessage(),
                     QStringLiteral("Imported locally. Push to worker failed: "
                                    "Worker error 502: <html>bad gateway</html>"));
        m->importCSV(writeFile(QStringLiteral("again.csv"), "email\nel@example.com\n"));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Imported 0 from Generic export. Skipped 0, duplicates 1."));
        QCOMPARE(m_net->pending(), 0); // nothing added, nothing pushed
    }

    void testSend() {
        auto m = model({QStringLiteral("-demo")});
        test::runTask(m->leaveDemo());
        Library sample = SampleData::library();
        const Newsletter issue = sample.newsletters[2];
        test::runTask(m->sendTest(issue, QStringLiteral("me@example.com")));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Add your IAM access keys in Amazon SES first."));
        storeKeys();
        test::runTask(m->sendTest(issue, QStringLiteral("me@example.com")));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Fix first: Add a physical postal address. CAN-SPAM "
                                "requires it in every email footer."));
        SenderProfile p = SampleData::profile();
        m->setProfile(p);
        m_net->enqueue(200, R"({"MessageId": "0100018c1234abcd-5678"})");
        test::runTask(m->sendTest(issue, QStringLiteral("  Me@Example.com ")));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Test sent to me@example.com (message 0100018c1234)."));
        const QJsonObject body = QJsonDocument::fromJson(m_net->requests().last().body).object();
        QCOMPARE(body["FromEmailAddress"].toString(), p.fromEmail);
        const QByteArray raw =
            QByteArray::fromBase64(body["Content"]["Raw"]["Data"].toString().toLatin1());
        QVERIFY(raw.contains("Subject: [Test] Issue 14"));
        QVERIFY(raw.contains("To: me@example.com\r\n"));
        m_net->enqueue(400, R"({"message": "Email address is not verified."})",
                       {{"x-amzn-ErrorType", "MessageRejected"}});
        test::runTask(m->sendTest(issue, QStringLiteral("me@example.com")));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("SES 400 MessageRejected: Email address is not verified."));
    }

    void demoListSendReachesExactlyTheActiveRest() {
        auto m = model({QStringLiteral("-demo")});
        const Newsletter paused = m->library().newsletters[1];
        m->sendToList(paused);
        QCOMPARE(m->sendSession()->total, 9);
        QCOMPARE(m->library().newsletters[1].stats.recipients, 16);
        QTRY_VERIFY_WITH_TIMEOUT(m->sendSession()->isFinished, 20000);
        QCOMPARE(m->sendSession()->state, QStringLiteral("Finished"));
        QSet<QUuid> expected;
        for (int reader : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 25}) {
            expected.insert(SampleData::sampleID(reader));
        }
        QCOMPARE(m->library().newsletters[1].deliveredIDs, expected);
        QCOMPARE(m->library().newsletters[1].status, CampaignStatus::sent);
        QCOMPARE(m_net->requests().size(), 0); // no network at all
        // Sending it again finds nobody.
        m->sendToList(m->library().newsletters[1]);
        QCOMPARE(*m->statusMessage(), QStringLiteral("No active subscribers left to send to."));
    }

    void readerLinksAndPreview() {
        auto m = model();
        const QString secret = m->signingSecret();
        QCOMPARE(secret.size(), 64);
        QCOMPARE(m_credentials->get(CredentialStore::Key::workerSigningSecret), secret);
        Newsletter issue = SampleData::library().newsletters[0];
        const RenderContext context = m->renderContext(issue, SampleData::library().subscribers[0]);
        const QString token = context.unsubscribeURL.query().mid(2);
        QCOMPARE(ReaderLinks::verify(token, QStringLiteral("unsubscribe"), secret),
                 QStringLiteral("ada.whitfield@gmail.com"));
        QCOMPARE(context.archiveURL, std::nullopt); // no worker yet
        QVERIFY(m->previewEmail(issue).html.contains(QStringLiteral("Hi Alex,")));
        // Demo mode signs with its own secret and never touches the store.
        m->enterDemo();
        QCOMPARE(m->signingSecret(), AppModel::demoSigningSecret);
    }
};

QTEST_GUILESS_MAIN(TestWorkflows)
#include "tst_workflows.moc"
