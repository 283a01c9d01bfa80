// The road of a list send with real peers on loopback: Amazon SES is the aws-ses-v2-local
// emulator, the signup worker is resources/worker.js in Miniflare with D1. Readers arrive by
// CSV, reach the worker by sync, receive their issue, unsubscribe through their own link, and
// the issue ends up in the public archive.
#include "render/media_reference.h"
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

class TestListSendRoad : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SESEmulator> m_ses;
    std::unique_ptr<test::NodePeer> m_worker;
    QString m_workerURL;
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<NetworkTransport> m_http;

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
        HTTPRequest request{
            method,
            QUrl(url),
            {{u"Authorization"_s, u"Bearer "_s + apiToken}, {u"Content-Type"_s, type}},
            body};
        return test::runTask(m_http->send(request));
    }

    void expectOncePerReader(const QString& subject, int readers) {
        const QMultiMap<QString, QString> messages = m_ses->stored(subject);
        QCOMPARE(messages.uniqueKeys().size(), readers);
        QCOMPARE(messages.size(), readers);
    }

    void waitForFinish(AppModel& model) {
        QTRY_VERIFY_WITH_TIMEOUT(model.sendSession() && model.sendSession()->isFinished, 60000);
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

    Newsletter writeIssue(AppModel& model, const QString& subject) {
        model.newIssue();
        Newsletter issue = *model.selectedNewsletter();
        issue.subject = subject;
        issue.markdown = u"Hi {{name}},\n\nThis is *%1*.\n"_s.arg(subject);
        model.updateIssue(issue);
        return issue;
    }

private Q_SLOTS:
    void initTestCase() {
        m_ses = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 100, 50000, 0));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        qputenv("AWS_ENDPOINT_URL_SESV2", m_ses->url().toString().toUtf8());
        const QJsonObject bindings{{"API_TOKEN", apiToken},
                                   {"SIGNING_SECRET", signingSecret},
                                   {"PUBLICATION_NAME", "Road Notes"},
                                   {"FROM_EMAIL", "ann@road.example"},
                                   {"AWS_REGION", "us-east-1"},
                                   {"DOUBLE_OPT_IN", "true"}};
        m_worker = std::make_unique<test::NodePeer>(u"worker_server.mjs"_s, bindings);
        m_workerURL = m_worker->value(u"url"_s);
        QVERIFY(m_workerURL.startsWith(u"http://127.0.0.1:"_s));
        m_http = std::make_shared<NetworkTransport>();
        using Key = CredentialStore::Key;
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
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->state, u"Finished"_s);
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
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->state, u"Finished"_s);
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
        const QString name = MediaReference::nameFor(pixel, u"png"_s);
        QVERIFY(QDir().mkpath(model->mediaFolder()));
        QFile file(model->mediaFolder() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(pixel) == pixel.size());
        file.close();
        const QString hosted = m_workerURL + u"/media/"_s + name;
        QCOMPARE(call(u"GET"_s, hosted).status, 404);

        Newsletter issue = writeIssue(*model, u"Road issue pictures"_s);
        issue.markdown += u"\n![A pixel](media/%1)\n"_s.arg(name);
        model->updateIssue(issue);
        test::runTask(model->sendTest(issue, u"reader1@road.example"_s));
        QVERIFY2(model->statusMessage()->startsWith(u"Test sent to"_s),
                 qPrintable(*model->statusMessage()));
        const HTTPResponse image = call(u"GET"_s, hosted);
        QCOMPARE(image.status, 200);
        QCOMPARE(image.body, pixel);
        QCOMPARE(image.headerValue(u"Content-Type"_s), u"image/png"_s);

        test::runTask(model->sendToList(issue));
        waitForFinish(*model);
        QCOMPARE(model->sendSession()->state, u"Finished"_s);
        const QString src = u"src=\"%1\""_s.arg(hosted);
        const QString archive = m_workerURL + u"/archive/"_s + issue.slug();
        QTRY_COMPARE_WITH_TIMEOUT(*model->statusMessage(), "Sent and published to " + archive,
                                  10000);
        QVERIFY(QString::fromUtf8(call(u"GET"_s, archive).body).contains(src));

        // A file too large for the worker is refused here, before any upload.
        const QByteArray huge(MediaReference::maxHostedBytes + 1, 'x');
        const QString hugeName = MediaReference::nameFor(huge, u"png"_s);
        QFile big(model->mediaFolder() + QLatin1Char('/') + hugeName);
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write(huge) == huge.size());
        big.close();
        Newsletter heavy = issue;
        heavy.markdown += u"\n![Heavy](media/%1)\n"_s.arg(hugeName);
        test::runTask(model->sendTest(heavy, u"reader1@road.example"_s));
        QCOMPARE(*model->statusMessage(), u"This image is too large to host; use a smaller one."_s);

        Newsletter missing = writeIssue(*model, u"Road issue lost picture"_s);
        missing.markdown += u"\n![Gone](media/0000000000000000.jpg)\n"_s;
        model->updateIssue(missing);
        const std::optional<SendSession> before = model->sendSession();
        test::runTask(model->sendToList(missing));
        QTRY_VERIFY(model->statusMessage()->startsWith(
            u"The image 0000000000000000.jpg is missing from "_s));
        QCOMPARE(model->sendSession(), before);
        QCOMPARE(model->selectedNewsletter()->status, CampaignStatus::draft);
        model->flushPendingSave();
    }
};

QTEST_GUILESS_MAIN(TestListSendRoad)
#include "tst_list_send_road.moc"
