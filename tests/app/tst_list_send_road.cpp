// The road of a list send with real peers on loopback: Amazon SES is the aws-ses-v2-local
// emulator, the signup worker is resources/worker.js in Miniflare with D1. Readers arrive by
// CSV, reach the worker by sync, receive their issue, unsubscribe through their own link, and
// the issue ends up in the public archive.
#include "app/app_model.h"
#include "core/library_file.h"
#include "core/memory_credential_store.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/ses_emulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

const QString apiToken = QStringLiteral("road-api-token");
const QString signingSecret = QStringLiteral("road-signing-secret");

struct Stored {
    QString to;
    QString subject;
    QString text;
};

} // namespace

class TestListSendRoad : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SESEmulator> m_ses;
    std::unique_ptr<test::NodePeer> m_worker;
    QString m_workerURL;
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<NetworkTransport> m_http;

    std::unique_ptr<AppModel>
    makeModel(std::chrono::milliseconds pullInterval = std::chrono::seconds(60)) {
        AppModel::Dependencies d;
        d.store =
            std::make_shared<LibraryStore>(m_dir.filePath(QStringLiteral("Postwick/library.json")));
        d.credentials = m_credentials;
        d.settings = std::make_shared<QSettings>(m_dir.filePath(QStringLiteral("s.ini")),
                                                 QSettings::IniFormat);
        d.arguments = QStringList{QStringLiteral("quillmere")};
        d.workerPullInterval = pullInterval;
        d.deliverySaveInterval = std::chrono::milliseconds(150);
        auto model = std::make_unique<AppModel>(std::move(d));
        test::runTask(model->start());
        // With keys stored, start-up fetches the account in the background; the rate needs it.
        if (!QTest::qWaitFor([&] { return model->account().has_value(); }, 10000)) {
            qWarning("the SES account did not arrive");
        }
        return model;
    }

    QList<Stored> storedMessages(const QString& subject) {
        HTTPRequest request{QStringLiteral("GET"),
                            QUrl(m_ses->url().toString() + QStringLiteral("/store")),
                            {},
                            {}};
        const HTTPResponse response = test::runTask(m_http->send(request));
        QList<Stored> out;
        for (const QJsonValue& e :
             QJsonDocument::fromJson(response.body)[QLatin1String("emails")].toArray()) {
            const QJsonObject email = e.toObject();
            if (email[QLatin1String("subject")].toString() != subject) {
                continue;
            }
            out.append({email[QLatin1String("destination")][QLatin1String("to")][0].toString(),
                        email[QLatin1String("subject")].toString(),
                        email[QLatin1String("body")][QLatin1String("text")].toString()});
        }
        return out;
    }

    HTTPResponse workerCall(const QString& method, const QString& path,
                            const QByteArray& body = {}) {
        HTTPRequest request{
            method,
            QUrl(m_workerURL + path),
            {{QStringLiteral("Authorization"), QStringLiteral("Bearer ") + apiToken},
             {QStringLiteral("Content-Type"), QStringLiteral("application/json")}},
            body};
        return test::runTask(m_http->send(request));
    }

    void waitForFinish(AppModel& model, int timeoutMs = 30000) {
        QTRY_VERIFY_WITH_TIMEOUT(model.sendSession() && model.sendSession()->isFinished, timeoutMs);
    }

    Newsletter writeIssue(AppModel& model, const QString& subject) {
        model.newIssue();
        Newsletter issue = *model.selectedNewsletter();
        issue.subject = subject;
        issue.previewText = QStringLiteral("A short note.");
        issue.markdown = QStringLiteral("Hi {{name}},\n\nThis is *%1*.\n").arg(subject);
        model.updateIssue(issue);
        return issue;
    }

private Q_SLOTS:
    void initTestCase() {
        const QJsonObject account{
            {"DedicatedIpAutoWarmupEnabled", false},
            {"Details",
             QJsonObject{{"AdditionalContactEmailAddresses", QJsonArray()},
                         {"ContactLanguage", "EN"},
                         {"MailType", "MARKETING"},
                         {"ReviewDetails", QJsonObject{{"CaseId", "c-1"}, {"Status", "GRANTED"}}},
                         {"UseCaseDescription", "A newsletter."},
                         {"WebsiteURL", "https://road.example"}}},
            {"EnforcementStatus", "HEALTHY"},
            {"ProductionAccessEnabled", true},
            {"SendingEnabled", true},
            {"SendQuota",
             QJsonObject{{"Max24HourSend", 50000}, {"MaxSendRate", 100}, {"SentLast24Hours", 0}}},
            {"SuppressionAttributes", QJsonObject{{"SuppressedReasons", QJsonArray()}}}};
        m_ses = std::make_unique<test::SESEmulator>(
            QJsonDocument(account).toJson(QJsonDocument::Compact));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        qputenv("AWS_ENDPOINT_URL_SESV2", m_ses->url().toString().toUtf8());
        const QJsonObject bindings{{"API_TOKEN", apiToken},
                                   {"SIGNING_SECRET", signingSecret},
                                   {"PUBLICATION_NAME", "Road Notes"},
                                   {"FROM_EMAIL", "ann@road.example"},
                                   {"AWS_REGION", "us-east-1"},
                                   {"DOUBLE_OPT_IN", "true"}};
        m_worker = std::make_unique<test::NodePeer>(
            QStringLiteral("worker_server.mjs"),
            QStringList{QString::fromUtf8(QJsonDocument(bindings).toJson(QJsonDocument::Compact))});
        m_workerURL = m_worker->value(QStringLiteral("url"));
        QVERIFY(m_workerURL.startsWith(QStringLiteral("http://127.0.0.1:")));
        m_http = std::make_shared<NetworkTransport>();

        m_credentials = std::make_shared<MemoryCredentialStore>();
        m_credentials->set(QStringLiteral("AKIDROAD"), CredentialStore::Key::awsAccessKeyID);
        m_credentials->set(QStringLiteral("road-secret"), CredentialStore::Key::awsSecretAccessKey);
        m_credentials->set(apiToken, CredentialStore::Key::workerAPIToken);
        m_credentials->set(signingSecret, CredentialStore::Key::workerSigningSecret);
    }

    // One long road, in order: later steps build on the list and issues of earlier ones.
    void importSyncSendUnsubscribePublish() {
        auto model = makeModel();
        SenderProfile profile;
        profile.publicationName = QStringLiteral("Road Notes");
        profile.fromName = QStringLiteral("Ann Road");
        profile.fromEmail = QStringLiteral("ann@road.example");
        profile.replyTo = QStringLiteral("letters@road.example");
        profile.postalAddress = QStringLiteral("1 Main St\nSpringfield");
        profile.domain = QStringLiteral("road.example");
        profile.workerBaseURL = m_workerURL;
        model->setProfile(profile);
        QCOMPARE(model->account()->maxSendRate, 100.0);

        QString csv = QStringLiteral("email,name\n");
        for (int i = 0; i < 60; ++i) {
            csv += QStringLiteral("Reader%1@Road.Example,Reader Number %1\n").arg(i);
        }
        const QString file = m_dir.filePath(QStringLiteral("readers.csv"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(csv.toUtf8());
        out.close();
        model->importCSV(file);
        QCOMPARE(model->count(SubscriberStatus::active), 60);
        test::runTask(model->syncSubscribers());
        QCOMPARE(*model->statusMessage(), QStringLiteral("Synced 60 changes from the worker."));

        const Newsletter issue = writeIssue(*model, QStringLiteral("Road issue one"));
        model->sendToList(issue);
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->state, QStringLiteral("Finished"));
        QCOMPARE(model->sendSession()->sent, 60);

        const QList<Stored> messages = storedMessages(QStringLiteral("Road issue one"));
        QCOMPARE(messages.size(), 60);
        QSet<QString> recipients;
        QString unsubscribeLink;
        for (const Stored& m : messages) {
            recipients.insert(m.to);
            const QString number =
                QRegularExpression(QStringLiteral("reader(\\d+)@")).match(m.to).captured(1);
            QVERIFY2(
                m.text.contains(QStringLiteral("Hi Reader Number ") + number + QLatin1Char(',')),
                qPrintable(m.text));
            const auto link =
                QRegularExpression(QStringLiteral("Unsubscribe: (\\S+)")).match(m.text);
            QVERIFY(link.hasMatch());
            QVERIFY(link.captured(1).startsWith(m_workerURL + QStringLiteral("/unsubscribe?t=")));
            if (m.to == QStringLiteral("reader7@road.example")) {
                unsubscribeLink = link.captured(1);
            }
        }
        QCOMPARE(recipients.size(), 60);

        // The archive copy went to the worker when the send finished.
        const Newsletter sent = *model->selectedNewsletter();
        QCOMPARE(sent.status, CampaignStatus::sent);
        QTRY_COMPARE_WITH_TIMEOUT(*model->statusMessage(),
                                  QStringLiteral("Sent and published to ") + m_workerURL +
                                      QStringLiteral("/archive/") + sent.slug(),
                                  10000);
        const HTTPResponse archive = test::runTask(
            m_http->send(HTTPRequest{QStringLiteral("GET"),
                                     QUrl(m_workerURL + QStringLiteral("/archive/") + sent.slug()),
                                     {},
                                     {}}));
        QCOMPARE(archive.status, 200);
        QVERIFY(archive.body.contains("Road issue one"));

        // Reader 7 leaves with one click; the next sync brings it home.
        const HTTPResponse left = test::runTask(m_http->send(HTTPRequest{
            QStringLiteral("POST"),
            QUrl(unsubscribeLink),
            {{QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded")}},
            QByteArray("List-Unsubscribe=One-Click")}));
        QCOMPARE(left.status, 200);
        test::runTask(model->syncSubscribers());
        for (const Subscriber& s : model->library().subscribers) {
            QCOMPARE(s.status, s.email == QStringLiteral("reader7@road.example")
                                   ? SubscriberStatus::unsubscribed
                                   : SubscriberStatus::active);
        }
        model->flushPendingSave();
    }

    void pauseAndResumeSendNobodyTwice() {
        auto model = makeModel();
        const Newsletter issue = writeIssue(*model, QStringLiteral("Road issue two"));
        QSignalSpy progress(model.get(), &AppModel::sendSessionChanged);
        model->sendToList(issue);
        QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->sent >= 15, 10000);
        test::runTask(model->pauseSend());
        QCOMPARE(model->sendSession()->state, QStringLiteral("Paused"));
        QCOMPARE(model->selectedNewsletter()->status, CampaignStatus::paused);
        QTest::qWait(400);
        const qint64 atPause = model->sendSession()->sent;
        QTest::qWait(300);
        QCOMPARE(model->sendSession()->sent, atPause); // nothing goes out while paused
        test::runTask(model->resumeSend());
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->sent, 59); // reader 7 left
        QMap<QString, int> perReader;
        for (const Stored& m : storedMessages(QStringLiteral("Road issue two"))) {
            ++perReader[m.to];
        }
        QCOMPARE(perReader.size(), 59);
        for (int count : perReader) {
            QCOMPARE(count, 1);
        }
        model->flushPendingSave();
    }

    void aCrashMidSendResendsOnlyToTheLastMoments() {
        const QString libraryPath = m_dir.filePath(QStringLiteral("Postwick/library.json"));
        QUuid issueID;
        QSet<QUuid> deliveredInMemory;
        QSet<QUuid> deliveredOnDisk;
        {
            auto model = makeModel();
            const Newsletter issue = writeIssue(*model, QStringLiteral("Road issue three"));
            issueID = issue.id;
            model->flushPendingSave();
            model->sendToList(issue);
            QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->sent >= 30, 10000);
            // The crash: the model goes away without any orderly save.
            deliveredInMemory = model->selectedNewsletter()->deliveredIDs;
            model->store().waitForIdle();
            for (const Newsletter& n : LibraryFile::read(libraryPath).newsletters) {
                if (n.id == issueID) {
                    deliveredOnDisk = n.deliveredIDs;
                }
            }
        }
        // At most ~a save interval of deliveries may be missing from the disk.
        QVERIFY2(deliveredOnDisk.size() >= 20, qPrintable(QString::number(deliveredOnDisk.size())));
        QVERIFY(deliveredInMemory.contains(deliveredOnDisk));

        auto model = makeModel();
        const Newsletter resumed = *model->selectedNewsletter();
        QCOMPARE(resumed.id, issueID);
        QCOMPARE(resumed.status, CampaignStatus::sending);
        model->sendToList(resumed);
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->total, 59 - deliveredOnDisk.size());

        QMap<QString, int> perReader;
        for (const Stored& m : storedMessages(QStringLiteral("Road issue three"))) {
            ++perReader[m.to];
        }
        QCOMPARE(perReader.size(), 59);
        QSet<QString> mailedTwice;
        for (auto it = perReader.cbegin(); it != perReader.cend(); ++it) {
            if (it.value() > 1) {
                mailedTwice.insert(it.key());
            }
        }
        // Only readers delivered after the last save before the crash may hear twice, and the
        // one whose message was in flight when the process died.
        QSet<QString> notYetSaved;
        for (const Subscriber& s : model->library().subscribers) {
            if (deliveredInMemory.contains(s.id) && !deliveredOnDisk.contains(s.id)) {
                notYetSaved.insert(s.email);
            }
        }
        QVERIFY((mailedTwice - notYetSaved).size() <= 1);
        model->flushPendingSave();
    }

    void bouncesFromTheWorkerHaltTheSend() {
        auto model = makeModel(std::chrono::milliseconds(100));
        const Newsletter issue = writeIssue(*model, QStringLiteral("Road issue four"));
        model->sendToList(issue);
        QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->sent >= 6, 10000);
        // Five early readers bounce; SNS would tell the worker, here the API stands in for it.
        QJsonArray bounced;
        int marked = 0;
        for (const Subscriber& s : model->library().subscribers) {
            if (model->selectedNewsletter()->deliveredIDs.contains(s.id) && marked < 5) {
                QJsonObject wire = WorkerClient::wireObject(s);
                wire[QLatin1String("status")] = QStringLiteral("bounced");
                wire[QLatin1String("updated_at")] =
                    WorkerClient::wireDate(QDateTime::currentDateTimeUtc().addSecs(5));
                bounced.append(wire);
                ++marked;
            }
        }
        QCOMPARE(workerCall(QStringLiteral("POST"), QStringLiteral("/api/subscribers"),
                            QJsonDocument(QJsonObject{{"subscribers", bounced}}).toJson())
                     .status,
                 200);
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->state,
                 QStringLiteral("Halted: Bounce rate 10.00% is above the 5.00% limit (5 of 50 "
                                "sent). Sending paused to protect your SES reputation."));
        const Newsletter halted = *model->selectedNewsletter();
        QCOMPARE(halted.status, CampaignStatus::paused);
        QCOMPARE(halted.stats.bounced, 5);
        QCOMPARE(halted.stats.sent, 50);
        QCOMPARE(model->count(SubscriberStatus::bounced), 5);
        model->flushPendingSave();
    }
};

QTEST_GUILESS_MAIN(TestListSendRoad)
#include "tst_list_send_road.moc"
