// List sends with real peers on loopback: Amazon SES is the aws-ses-v2-local emulator behind
// the fault proxy (tests/support/fault_proxy.mjs, passing everything on unless told otherwise),
// the signup worker is resources/worker.js in Miniflare with D1.
//
// The road: readers arrive by CSV, reach the worker by sync, receive their issue, unsubscribe
// through their own link, and the issue ends up in the public archive.
//
// The faults: throttling, server errors, connections that drop before or after SES took the
// message, a request that hangs, refusals and the daily quota. Whatever happens, nobody is mailed
// twice, every reader is counted once as delivered, failed or uncertain, and the issue's status
// says what really happened. One case puts the worker behind a proxy too, to hang its last pull.
#include "core/library_file.h"
#include "render/media_reference.h"
#include "ses/curl_transport.h"
#include "ses/network_transport.h"
#include "support/model_fixture.h"
#include "support/node_peer.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

const QString apiToken = u"road-api-token"_s;
const QString signingSecret = u"road-signing-secret"_s;

} // namespace

class TestListSend : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SESEmulator> m_ses;
    std::unique_ptr<test::NodePeer> m_proxy; // in front of m_ses
    QString m_proxyURL;
    std::unique_ptr<test::NodePeer> m_worker;
    QString m_workerURL;
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<NetworkTransport> m_http = std::make_shared<NetworkTransport>();
    using Key = CredentialStore::Key;

    std::unique_ptr<AppModel> makeModel(const QString& folder = u"road"_s) {
        auto model = test::startedModel(
            test::modelDependencies(m_dir.filePath(folder + u"/Postwick"_s), m_credentials));
        // With keys stored, start-up fetches the account in the background; the rate needs it.
        if (!QTest::qWaitFor([&] { return model->account().has_value(); }, 10000)) {
            qWarning("the SES account did not arrive");
        }
        return model;
    }

    HTTPResponse call(const QString& method, const QString& url, const QByteArray& body = {},
                      const QString& type = u"application/json"_s) {
        const QMap<QString, QString> headers{{u"Authorization"_s, u"Bearer "_s + apiToken},
                                             {u"Content-Type"_s, type}};
        return test::runTask(m_http->send({method, QUrl(url), headers, body}));
    }

    void expectOncePerReader(const QString& subject, int readers) {
        const QMultiMap<QString, QString> messages = m_ses->stored(subject);
        QCOMPARE(messages.uniqueKeys().size(), readers);
        QCOMPARE(messages.size(), readers);
    }

    void expectFinished(AppModel& model) {
        QTRY_VERIFY_WITH_TIMEOUT(model.sendSession() && model.sendSession()->isFinished, 60000);
        QCOMPARE(model.sendSession()->state, u"Finished"_s);
    }

    // The publication and `count` readers, imported by CSV and synced to the worker, unless the
    // library has them already (each case can run alone).
    void readersOnBoard(AppModel& model, int count, const QString& domain = u"Road.Example"_s) {
        if (!model.library().subscribers.isEmpty()) {
            return;
        }
        SenderProfile profile = test::profileOf(u"Road"_s);
        profile.workerBaseURL = m_workerURL;
        model.setProfile(profile);
        QFile csv(m_dir.filePath(u"readers%1.csv"_s.arg(count)));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("email,name\n");
        for (int i = 0; i < count; ++i) {
            csv.write(u"Reader%1@%2,Reader Number %1\n"_s.arg(i).arg(domain).toUtf8());
        }
        csv.close();
        test::runTask(model.importCSV(csv.fileName()));
        QCOMPARE(model.count(SubscriberStatus::active), count);
        test::runTask(model.syncSubscribers());
    }

    // A new issue, its own `extra` lines after the greeting.
    Newsletter writeIssue(AppModel& model, const QString& subject, const QString& extra = {}) {
        model.newIssue();
        Newsletter issue = *model.selectedNewsletter();
        issue.subject = subject;
        issue.markdown = u"Hi {{name}},\n\nThis is *%1*.\n"_s.arg(subject);
        if (!extra.isEmpty()) {
            issue.markdown += u"\n"_s + extra + u"\n"_s;
        }
        model.updateIssue(issue);
        return issue;
    }

    // `bytes` as an image in `model`'s media folder; its name there, empty if it could not be
    // written.
    QString putImage(AppModel& model, const QByteArray& bytes) {
        const QString name = MediaReference::nameFor(bytes, u"png"_s);
        QFile file(model.mediaFolder() + QLatin1Char('/') + name);
        const bool written = QDir().mkpath(model.mediaFolder()) &&
                             file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
        return written ? name : QString();
    }

    void plan(const QString& proxy, const QByteArray& faults) {
        QCOMPARE(call(u"PUT"_s, proxy + u"/__faults"_s, faults).status, 204);
    }

    // A library of its own with `readers` active readers and one issue, in a started model.
    std::unique_ptr<AppModel> modelWith(const QString& name, int readers,
                                        const QString& workerURL = {}) {
        auto credentials = test::memoryCredentials({{Key::awsAccessKeyID, u"AKIDFAULT"_s},
                                                    {Key::awsSecretAccessKey, u"fault-secret"_s},
                                                    {Key::workerSigningSecret, signingSecret}});
        SenderProfile profile = test::profileOf(u"Fault"_s);
        if (!workerURL.isEmpty()) { // only then the send pulls the worker
            credentials->set(apiToken, Key::workerAPIToken);
            profile.workerBaseURL = workerURL;
        }
        const QString folder = m_dir.filePath(name);
        LibraryFile::write(
            folder + u"/library.json"_s,
            test::libraryOfReaders(profile, readers, name + u".example"_s, u"Faults: "_s + name));
        AppModel::Dependencies d = test::modelDependencies(folder, credentials);
        d.sendTransport = std::make_shared<CurlTransport>(std::chrono::seconds(2));
        auto model = test::startedModel(std::move(d));
        test::runTask(model->refreshSES());
        return model;
    }

private Q_SLOTS:
    void initTestCase() {
        m_ses = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 100, 50000, 0));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        m_proxy = std::make_unique<test::NodePeer>(u"fault_proxy.mjs"_s,
                                                   QStringList{m_ses->url().toString()});
        m_proxyURL = m_proxy->value(u"url"_s);
        qputenv("AWS_ENDPOINT_URL_SESV2", m_proxyURL.toUtf8());
        const QJsonObject bindings{{"API_TOKEN", apiToken},
                                   {"SIGNING_SECRET", signingSecret},
                                   {"PUBLICATION_NAME", "Road Notes"},
                                   {"FROM_EMAIL", "ann@road.example"},
                                   {"AWS_REGION", "us-east-1"},
                                   {"DOUBLE_OPT_IN", "true"}};
        m_worker = std::make_unique<test::NodePeer>(u"worker_server.mjs"_s, bindings);
        m_workerURL = m_worker->value(u"url"_s);
        QVERIFY(m_workerURL.startsWith(u"http://127.0.0.1:"_s));
        m_credentials = test::memoryCredentials({{Key::awsAccessKeyID, u"AKIDROAD"_s},
                                                 {Key::awsSecretAccessKey, u"road-secret"_s},
                                                 {Key::workerAPIToken, apiToken},
                                                 {Key::workerSigningSecret, signingSecret}});
    }

    // One long road, in order: later steps build on the list and issues of earlier ones.
    void importSyncSendUnsubscribePublish() {
        auto model = makeModel();
        QCOMPARE(model->account()->maxSendRate, 100.0);
        readersOnBoard(*model, 60);
        QCOMPARE(*model->statusMessage(), u"Synced 60 changes from the worker."_s);

        test::runTask(model->sendToList(writeIssue(*model, u"Road issue one"_s)));
        expectFinished(*model);
        QCOMPARE(model->sendSession()->sent, 60);
        expectOncePerReader(u"Road issue one"_s, 60);
        const QMultiMap<QString, QString> messages = m_ses->stored(u"Road issue one"_s);
        const QRegularExpression reader(u"reader(\\d+)@"_s);
        const QRegularExpression unsubscribe(u"Unsubscribe: (\\S+)"_s);
        for (auto m = messages.cbegin(); m != messages.cend(); ++m) {
            const QString name = "Hi Reader Number " + reader.match(m.key()).captured(1) + ",";
            QVERIFY2(m.value().contains(name), qPrintable(m.value()));
            QVERIFY(unsubscribe.match(m.value()).captured(1).startsWith(m_workerURL +
                                                                        u"/unsubscribe?t="_s));
        }

        // The archive copy went to the worker when the send finished.
        const Newsletter sent = *model->selectedNewsletter();
        QCOMPARE(sent.status, CampaignStatus::sent);
        const QString archive = m_workerURL + u"/archive/"_s + sent.slug();
        QTRY_COMPARE_WITH_TIMEOUT(*model->statusMessage(), "Sent and published to " + archive,
                                  10000);
        const HTTPResponse page = call(u"GET"_s, archive);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("Road issue one"));

        // Reader 7 leaves with one click; the next sync brings it home.
        const QString link =
            unsubscribe.match(messages.value(u"reader7@road.example"_s)).captured(1);
        QCOMPARE(call(u"POST"_s, link, "List-Unsubscribe=One-Click",
                      u"application/x-www-form-urlencoded"_s)
                     .status,
                 200);
        test::runTask(model->syncSubscribers());
        for (const Subscriber& s : model->library().subscribers) {
            QCOMPARE(s.status, s.email == u"reader7@road.example"_s ? SubscriberStatus::unsubscribed
                                                                    : SubscriberStatus::active);
        }
        model->flushPendingSave();
    }

    // Bounces reach the guard within seconds: the first pull comes 5 s into the send, then one
    // every 10 s. A halted send resumes once the writer confirms, also after a restart, and
    // then the guard judges only what was sent after that.
    void bouncesHaltTheSendInTimeAndItResumes() {
        const QString subject = u"Road issue bounced"_s;
        QUuid issueID;
        {
            auto model = makeModel(u"bounces"_s);
            readersOnBoard(*model, 1500, u"bounces.example"_s);
            const Newsletter issue = writeIssue(*model, subject);
            issueID = issue.id;
            test::runTask(model->sendToList(issue));
            QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->sent >= 125, 30000);
            // 40 of the first readers bounce; SNS would tell the worker, here its API does.
            QJsonArray bounced;
            for (const Subscriber& s : model->library().subscribers) {
                if (model->selectedNewsletter()->deliveredIDs.contains(s.id) &&
                    bounced.size() < 40) {
                    QJsonObject wire = WorkerClient::wireObject(s);
                    wire[u"status"_s] = u"bounced"_s;
                    wire[u"updated_at"_s] =
                        WorkerClient::wireDate(QDateTime::currentDateTimeUtc().addSecs(5));
                    bounced.append(wire);
                }
            }
            QCOMPARE(call(u"POST"_s, m_workerURL + u"/api/subscribers"_s,
                          QJsonDocument(QJsonObject{{"subscribers", bounced}}).toJson())
                         .status,
                     200);
            QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->isHalted, 60000);
            const SendSession halted = *model->sendSession();
            QVERIFY2(halted.state.startsWith(u"Halted: Bounce rate "_s), qPrintable(halted.state));
            QVERIFY2(halted.sent < 1500, qPrintable(QString::number(halted.sent)));
            QCOMPARE(model->selectedNewsletter()->stats.bounced, 40);
            test::runTask(model->resumeSend()); // not without the writer's confirmation
            QVERIFY(!QTest::qWaitFor([&] { return !model->sendSession()->isHalted; }, 500));
            QTRY_COMPARE(model->selectedNewsletter()->status, CampaignStatus::paused);
        }
        auto model = makeModel(u"bounces"_s);
        test::runTask(model->sendToList(*model->library().issue(issueID)));
        QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->isHalted, 10000);
        test::runTask(model->resumeSend(true));
        expectFinished(*model);
        const Newsletter* sent = model->library().issue(issueID);
        QCOMPARE(sent->status, CampaignStatus::sent);
        QVERIFY(ListSend::recipients(model->library(), *sent).isEmpty());
        expectOncePerReader(subject, int(sent->deliveredIDs.size()));
        model->flushPendingSave();
    }

    // An issue's own images reach the worker before the test send, the list send and the
    // archive that show them; an image missing from this computer stops the send.
    void imagesGoUpBeforeTheyGoOut() {
        auto model = makeModel();
        readersOnBoard(*model, 60);
        const QByteArray pixel =
            QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8B"
                                   "QDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");
        const QString name = putImage(*model, pixel);
        QVERIFY(!name.isEmpty());
        const QString hosted = m_workerURL + u"/media/"_s + name;
        QCOMPARE(call(u"GET"_s, hosted).status, 404);

        const Newsletter issue =
            writeIssue(*model, u"Road issue pictures"_s, u"![A pixel](media/%1)"_s.arg(name));
        test::runTask(model->sendTest(issue, u"reader1@road.example"_s));
        QVERIFY2(model->statusMessage()->startsWith(u"Test sent to"_s),
                 qPrintable(*model->statusMessage()));
        const HTTPResponse image = call(u"GET"_s, hosted);
        QCOMPARE(image.status, 200);
        QCOMPARE(image.body, pixel);
        QCOMPARE(image.headerValue(u"Content-Type"_s), u"image/png"_s);

        test::runTask(model->sendToList(issue));
        expectFinished(*model);
        const QString src = u"src=\"%1\""_s.arg(hosted);
        const QString archive = m_workerURL + u"/archive/"_s + issue.slug();
        QTRY_COMPARE_WITH_TIMEOUT(*model->statusMessage(), "Sent and published to " + archive,
                                  10000);
        QVERIFY(QString::fromUtf8(call(u"GET"_s, archive).body).contains(src));

        // A file too large for the worker is refused here, before any upload.
        const QByteArray huge(MediaReference::maxHostedBytes + 1, 'x');
        const QString hugeName = putImage(*model, huge);
        QVERIFY(!hugeName.isEmpty());
        Newsletter heavy = issue;
        heavy.markdown += u"\n![Heavy](media/%1)\n"_s.arg(hugeName);
        test::runTask(model->sendTest(heavy, u"reader1@road.example"_s));
        QCOMPARE(*model->statusMessage(), u"This image is too large to host; use a smaller one."_s);

        const Newsletter missing = writeIssue(*model, u"Road issue lost picture"_s,
                                              u"![Gone](media/0000000000000000.jpg)"_s);
        const std::optional<SendSession> before = model->sendSession();
        test::runTask(model->sendToList(missing));
        QTRY_VERIFY(model->statusMessage()->startsWith(
            u"The image 0000000000000000.jpg is missing from "_s));
        QCOMPARE(model->sendSession(), before);
        QCOMPARE(model->selectedNewsletter()->status, CampaignStatus::draft);
        model->flushPendingSave();
    }

    void sesFaults_data() {
        QTest::addColumn<QByteArray>("faults");
        QTest::addColumn<int>("readers");
        QTest::addColumn<QString>("state");     // how the session's state begins
        QTest::addColumn<QList<int>>("counts"); // delivered, failed, uncertain, stored by SES
        QTest::addColumn<CampaignStatus>("status");
        const auto counts = [](int d, int f, int u, int s) { return QList<int>{d, f, u, s}; };
        QTest::newRow("503 always") << QByteArray(R"([{"kind":"status","status":503}])") << 30
                                    << u"Paused: Amazon SES is refusing messages: SES 503"_s
                                    << counts(0, 0, 0, 0) << CampaignStatus::paused;
        QTest::newRow("429 every third")
            << QByteArray(R"([{"kind":"status","status":429,"every":3}])") << 90 << u"Finished"_s
            << counts(90, 0, 0, 90) << CampaignStatus::sent;
        QTest::newRow("accepted then dropped")
            << QByteArray(R"([{"kind":"acceptThenDrop","every":5,"offset":4}])") << 40
            << u"Finished"_s << counts(32, 0, 8, 40) << CampaignStatus::sent;
        QTest::newRow("dropped before SES")
            << QByteArray(R"([{"kind":"drop","every":5,"offset":4}])") << 20 << u"Finished"_s
            << counts(16, 0, 4, 16) << CampaignStatus::sent;
        QTest::newRow("one hangs") << QByteArray(R"([{"kind":"hang","offset":2,"limit":1}])") << 5
                                   << u"Finished"_s << counts(4, 0, 1, 4) << CampaignStatus::sent;
        QTest::newRow("all refused")
            << QByteArray(R"([{"kind":"status","status":400,"type":"MessageRejected"}])") << 10
            << u"Finished"_s << counts(0, 10, 0, 0) << CampaignStatus::failed;
        QTest::newRow("daily quota")
            << QByteArray(
                   R"([{"kind":"status","status":400,"type":"ThrottlingException",)"
                   R"("message":"Daily message quota exceeded.","offset":10,"counting":"accepted"}])")
            << 20 << u"Paused: Amazon SES's daily sending quota is used up"_s
            << counts(10, 0, 0, 10) << CampaignStatus::paused;
    }

    void sesFaults() {
        QFETCH(QByteArray, faults);
        QFETCH(int, readers);
        QFETCH(QString, state);
        QFETCH(QList<int>, counts);
        QFETCH(CampaignStatus, status);
        const QString name = QString::fromLatin1(QTest::currentDataTag()).remove(u' ');
        auto model = modelWith(name, readers);
        plan(m_proxyURL, R"({"faults":)" + faults + "}");
        const Newsletter issue = model->library().newsletters.first();
        test::runTask(model->sendToList(issue));
        // A pause shows at once; the issue leaves "sending" once the messages in flight are back.
        QTRY_VERIFY_WITH_TIMEOUT(
            (model->sendSession()->isFinished || model->sendSession()->isPaused) &&
                model->library().issue(issue.id)->status != CampaignStatus::sending,
            60000);
        const SendSession session = *model->sendSession();
        QVERIFY2(session.state.startsWith(state), qPrintable(session.state));
        QCOMPARE((QList<int>{int(session.sent), int(session.failed), int(session.uncertain)}),
                 counts.mid(0, 3));
        if (!session.isFinished) {
            model->cancelSend(); // what the writer does with a send paused for good
            QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->isFinished, 30000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(model->library().issue(issue.id)->status, status, 10000);
        const Newsletter after = *model->library().issue(issue.id);
        QCOMPARE(after.sentAt.has_value(), status == CampaignStatus::sent);
        QCOMPARE(model->uncertainReaders(issue.id).size(), counts[2]);
        expectOncePerReader(issue.subject, counts[3]); // nobody twice
        // What is left for a later send: nobody uncertain or failed, only who was never tried.
        const auto left = ListSend::recipients(model->library(), after);
        QCOMPARE(left.size(), readers - counts[0] - counts[1] - counts[2]);
        plan(m_proxyURL, "{}");
    }

    // The worker's last pull hangs: the file already says the issue is sent, with everybody.
    void theEndIsSavedBeforeTheLastPull() {
        test::NodePeer workerProxy(u"fault_proxy.mjs"_s, QStringList{m_workerURL});
        const QString workerURL = workerProxy.value(u"url"_s);
        auto model = modelWith(u"lastpull"_s, 20, workerURL);
        plan(workerURL, R"({"path":"/api/subscribers","faults":[{"kind":"hang"}]})");
        const Newsletter issue = model->library().newsletters.first();
        test::runTask(model->sendToList(issue));
        QTRY_VERIFY_WITH_TIMEOUT(model->sendSession()->isFinished, 60000);
        const QString path = m_dir.filePath(u"lastpull/library.json"_s);
        QTRY_VERIFY_WITH_TIMEOUT(
            LibraryFile::read(path).issue(issue.id)->status == CampaignStatus::sent, 10000);
        QCOMPARE(LibraryFile::read(path).issue(issue.id)->deliveredIDs.size(), 20);
        QTRY_VERIFY(
            QDir(m_dir.filePath(u"lastpull/sends"_s)).entryList({u"*.journal"_s}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestListSend)
#include "tst_list_send.moc"
