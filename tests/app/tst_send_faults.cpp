// List sends through the real transport to the SES emulator behind the fault proxy
// (tests/support/fault_proxy.mjs): throttling, server errors, connections that drop before or
// after SES took the message, a request that hangs, refusals and the daily quota. Whatever
// happens, nobody is mailed twice, every reader is counted once as delivered, failed or
// uncertain, and the issue's status says what really happened. One case puts the worker behind
// the proxy too, to hang its last pull.
#include "core/library_file.h"
#include "ses/curl_transport.h"
#include "ses/network_transport.h"
#include "support/model_fixture.h"
#include "support/node_peer.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

class TestSendFaults : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SESEmulator> m_ses;
    std::unique_ptr<test::NodePeer> m_proxy;
    QString m_proxyURL;
    QTemporaryDir m_dir;
    NetworkTransport m_http;

    HTTPResponse call(const QString& method, const QString& url, const QByteArray& body = {}) {
        return test::runTask(m_http.send({method, QUrl(url), {}, body}));
    }

    void plan(const QString& proxy, const QByteArray& faults) {
        QCOMPARE(call(u"PUT"_s, proxy + u"/__faults"_s, faults).status, 204);
    }

    // A library of its own with `readers` active readers and one issue, in a started model.
    std::unique_ptr<AppModel> modelWith(const QString& name, int readers,
                                        const QString& workerURL = {}) {
        using Key = CredentialStore::Key;
        auto credentials = test::memoryCredentials({{Key::awsAccessKeyID, u"AKIDFAULT"_s},
                                                    {Key::awsSecretAccessKey, u"fault-secret"_s},
                                                    {Key::workerSigningSecret, u"fault-sign"_s}});
        SenderProfile profile = test::profileOf(u"Fault"_s);
        if (!workerURL.isEmpty()) { // only then the send pulls the worker
            credentials->set(u"fault-token"_s, Key::workerAPIToken);
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
        const QMultiMap<QString, QString> messages = m_ses->stored(issue.subject);
        QCOMPARE(messages.uniqueKeys().size(), counts[3]);
        QCOMPARE(messages.size(), counts[3]); // nobody twice
        // What is left for a later send: nobody uncertain or failed, only who was never tried.
        const auto left = ListSend::recipients(model->library(), after);
        QCOMPARE(left.size(), readers - counts[0] - counts[1] - counts[2]);
        plan(m_proxyURL, "{}");
    }

    // The worker's last pull hangs: the file already says the issue is sent, with everybody.
    void theEndIsSavedBeforeTheLastPull() {
        const QJsonObject bindings{
            {"API_TOKEN", "fault-token"},        {"SIGNING_SECRET", "fault-sign"},
            {"PUBLICATION_NAME", "Fault Notes"}, {"FROM_EMAIL", "ann@fault.example"},
            {"AWS_REGION", "us-east-1"},         {"DOUBLE_OPT_IN", "true"}};
        test::NodePeer worker(u"worker_server.mjs"_s, bindings);
        test::NodePeer workerProxy(u"fault_proxy.mjs"_s, QStringList{worker.value(u"url"_s)});
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

QTEST_GUILESS_MAIN(TestSendFaults)
#include "tst_send_faults.moc"
