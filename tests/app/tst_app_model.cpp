// The model against temporary files, in-memory secrets and a scripted network: the network
// parts cover the messages the setup steps show and the failures and merge cases no real peer
// can be made to produce on demand.
#include "app/app_model.h"
#include "app/production_access.h"
#include "core/keychain_error.h"
#include "core/library_file.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"
#include "support/model_fixture.h"
#include "support/scripted_transport.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

QJsonObject wire(const QString& email, const QString& status) {
    return QJsonObject{{"email", email},
                       {"status", status},
                       {"name", ""},
                       {"source", "signup-form"},
                       {"created_at", "2026-01-01T00:00:00Z"},
                       {"updated_at", "2026-01-02T00:00:00Z"}};
}

// What a launch with some arguments shows; `issue` is the selected sample issue's number, 0 for
// none.
struct Launch {
    AppSection section = AppSection::newsletters;
    bool onboarded = false;
    std::optional<OnboardingStep> step;
    bool showSend = false;
    int issue = 0;
};

} // namespace

class TestAppModel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<test::ScriptedTransport> m_net;

    QString libraryPath() const { return m_dir->filePath(u"Postwick/library.json"_s); }

    std::unique_ptr<AppModel> makeModel(QStringList arguments = {}) {
        AppModel::Dependencies d =
            test::modelDependencies(QFileInfo(libraryPath()).path(), m_credentials);
        d.arguments = QStringList{u"quillmere"_s} + arguments;
        d.transport = m_net;
        return std::make_unique<AppModel>(std::move(d));
    }

    std::unique_ptr<AppModel> started(QStringList arguments = {}) {
        auto model = makeModel(std::move(arguments));
        test::runTask(model->start());
        return model;
    }

    // Waits until every pending debounced save has been written.
    void settle(AppModel& model) {
        QTRY_VERIFY_WITH_TIMEOUT(!model.hasPendingSave(), 2000);
        QTest::qWait(100);
    }

    void storeKeys() {
        m_credentials->set(u"AKID"_s, CredentialStore::Key::awsAccessKeyID);
        m_credentials->set(u"secret"_s, CredentialStore::Key::awsSecretAccessKey);
    }

    void deployed(AppModel& m, bool doubleOptIn = true) {
        m_credentials->set(u"token"_s, CredentialStore::Key::workerAPIToken);
        m.setProfile(
            {.workerBaseURL = u"https://postwick.ann.workers.dev"_s, .doubleOptIn = doubleOptIn});
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        QFile f(m_dir->filePath(name));
        QDir().mkpath(QFileInfo(f).path());
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }

    // Deploying, syncing and a test send each stop at once with `text` in the status line.
    void expectPeerWorkflowsRefuse(AppModel& m, const QString& text) {
        const Newsletter issue = SampleData::library().newsletters[2];
        for (auto run : std::initializer_list<std::function<QCoro::Task<void>()>>{
                 [&] { return m.deployWorker(u"cf"_s, u"acc"_s); },
                 [&] { return m.syncSubscribers(); },
                 [&] { return m.sendTest(issue, u"me@example.com"_s); }}) {
            m.setStatusMessage(std::nullopt);
            test::runTask(run());
            QCOMPARE(m.statusMessage(), text);
        }
    }

    int savedSubscribers() { return int(LibraryFile::read(libraryPath()).subscribers.size()); }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_credentials = std::make_shared<MemoryCredentialStore>();
        m_net = std::make_shared<test::ScriptedTransport>();
    }

    void launchArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Launch>("expected");
        QTest::newRow("first launch") << QStringList{} << Launch{};
        QTest::newRow("demo") << QStringList{"-demo"} << Launch{.onboarded = true, .issue = 101};
        QTest::newRow("section") << QStringList{"-demo", "-section", "stats"}
                                 << Launch{.section = AppSection::stats,
                                           .onboarded = true,
                                           .issue = 101};
        QTest::newRow("unknown section")
            << QStringList{"-demo", "-section", "attic"} << Launch{.onboarded = true, .issue = 101};
        QTest::newRow("onboarding step") << QStringList{"-demo", "-onboarding", "domain"}
                                         << Launch{.step = OnboardingStep::domain, .issue = 101};
        QTest::newRow("onboarding without step") << QStringList{"-onboarding", "-section", "worker"}
                                                 << Launch{.section = AppSection::worker};
        QTest::newRow("showSend picks the draft")
            << QStringList{"-demo", "-showSend"}
            << Launch{.onboarded = true, .showSend = true, .issue = 103};
        QTest::newRow("showSend without a draft") << QStringList{"-showSend"} << Launch{};
    }

    void launchArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(Launch, expected);
        auto model = started(arguments);
        QCOMPARE(model->selection(), expected.section);
        QCOMPARE(model->onboardingDone(), expected.onboarded);
        QCOMPARE(model->onboardingStartStep(), expected.step);
        QCOMPARE(model->showSendOnLaunch(), expected.showSend);
        QCOMPARE(model->selectedNewsletterID(),
                 expected.issue ? std::optional(SampleData::sampleID(expected.issue))
                                : std::nullopt);
        QVERIFY(!QFile::exists(libraryPath())); // launching alone writes nothing
    }

    void onboardingAndIssues() {
        auto model = started();
        model->setSelection(AppSection::subscribers);
        model->finishOnboarding();
        QCOMPARE(model->library().newsletters.size(), 1);
        const Newsletter issue = model->library().newsletters.first();
        QCOMPARE(issue.subject, u"New issue"_s);
        QCOMPARE(issue.markdown, u"# Hello {{name}}\n\nWrite something worth reading.\n"_s);
        const QUuid older = issue.id;
        QCOMPARE(model->selectedNewsletterID(), older);
        QCOMPARE(model->selection(), AppSection::newsletters);
        settle(*model);
        QVERIFY(makeModel()->onboardingDone()); // a new process reads the flag

        model->newIssue();
        const QUuid newer = *model->selectedNewsletterID();
        QCOMPARE(model->library().newsletters.first().id, newer); // newest first
        Newsletter stranger = *model->selectedNewsletter();
        stranger.id = QUuid::createUuid(); // an issue the library does not hold is not added
        model->updateIssue(stranger);
        QCOMPARE(model->library().newsletters.size(), 2);
        model->deleteIssue(newer);
        QCOMPARE(model->selectedNewsletterID(), older);
        model->deleteIssue(older);
        QCOMPARE(model->selectedNewsletterID(), std::nullopt);
    }

    void subscriberOperationsAndSetupSteps() {
        auto model = started();
        QSignalSpy subscribersChanged(model.get(), &AppModel::subscribersChanged);
        QSignalSpy newslettersChanged(model.get(), &AppModel::newslettersChanged);
        model->addSubscriber(u"  Ann@Example.COM \n"_s, u"Ann"_s);
        model->addSubscriber(u"ann@example.com"_s, u"Other"_s);
        QCOMPARE(model->library().subscribers.size(), 1);
        QCOMPARE(newslettersChanged.count(), 0);
        QVERIFY(subscribersChanged.count() >= 1);
        const Subscriber ann = model->library().subscribers.first();
        QCOMPARE(ann.email, u"ann@example.com"_s);
        QCOMPARE(ann.name, u"Ann"_s);
        QCOMPARE(ann.status, SubscriberStatus::pending); // double opt-in is on by default

        model->setProfile({.fromName = u"A"_s,
                           .fromEmail = u"a@b.co"_s,
                           .postalAddress = u"Somewhere"_s,
                           .workerBaseURL = u"https://postwick.a.workers.dev"_s,
                           .doubleOptIn = false});
        model->addSubscriber(u"bo@example.com"_s, QString());
        QCOMPARE(model->count(SubscriberStatus::active), 1);
        QCOMPARE(model->completedSteps(),
                 (QList<OnboardingStep>{OnboardingStep::sender, OnboardingStep::signup,
                                        OnboardingStep::readers}));
        QCOMPARE(model->firstIncompleteStep(), OnboardingStep::amazon);

        QTest::qWait(5);
        model->setStatus(SubscriberStatus::unsubscribed, {ann.id});
        QCOMPARE(model->count(SubscriberStatus::unsubscribed), 1);
        QVERIFY(model->library().subscribers.last().updatedAt > ann.updatedAt); // sync needs it
        model->deleteSubscribers({ann.id});
        QCOMPARE(model->library().subscribers.size(), 1);
        QCOMPARE(model->count(SubscriberStatus::unsubscribed), 0);
    }

    void burstOfEditsWritesOnceAfterTheLast() {
        auto model = started();
        model->newIssue();
        settle(*model);
        const int before = model->store().saveCount();
        Newsletter issue = *model->selectedNewsletter();
        QElapsedTimer sinceLast;
        for (int i = 0; i < 10; ++i) {
            issue.subject = u"Draft %1"_s.arg(i);
            model->updateIssue(issue);
            sinceLast.start();
            QTest::qWait(30); // ten edits within 0.3 s
        }
        QTRY_COMPARE_WITH_TIMEOUT(model->store().saveCount(), before + 1, 2000);
        QVERIFY2(sinceLast.elapsed() >= 370, qPrintable(QString::number(sinceLast.elapsed())));
        QTest::qWait(500);
        QCOMPARE(model->store().saveCount(), before + 1);
        QCOMPARE(LibraryFile::read(libraryPath()).newsletters.first().subject, u"Draft 9"_s);
    }

    void demoModeWritesNothingAndKeepsTheWritersLibrary() {
        Library own{.profile = {.fromName = u"Ann"_s,
                                .fromEmail = u"ann@example.com"_s,
                                .postalAddress = u"1 Main St"_s}};
        LibraryFile::write(libraryPath(), own);
        auto model = started();
        model->addSubscriber(u"kept@example.com"_s, QString());
        own = model->library();
        model->enterDemo(); // before the debounced save fired: the edit is still written
        QCOMPARE(model->library(), SampleData::library());
        model->newIssue();
        model->addSubscriber(u"x@example.com"_s, QString());
        model->finishOnboarding();
        QTest::qWait(600);
        QCOMPARE(LibraryFile::read(libraryPath()), own);
        const QSettings settings(m_dir->filePath(u"Postwick/settings.ini"_s), QSettings::IniFormat);
        QVERIFY(!settings.contains(u"onboardingDone"_s));
        QCOMPARE(m_credentials->get(CredentialStore::Key::workerSigningSecret), std::nullopt);

        test::runTask(model->leaveDemo());
        QCOMPARE(model->library(), own);
        QCOMPARE(model->account(), std::nullopt);
        QVERIFY(!model->onboardingDone());
        QCOMPARE(model->completedSteps(),
                 (QList<OnboardingStep>{OnboardingStep::sender, OnboardingStep::readers}));

        QFile::remove(libraryPath());
        model->enterDemo();
        test::runTask(model->leaveDemo());
        QCOMPARE(model->library(), Library());
        QCOMPARE(model->selectedNewsletterID(), std::nullopt);
    }

    void failedSaveIsReportedOnceAndRecovers() {
        auto model = started();
        model->addSubscriber(u"first@example.com"_s, QString());
        settle(*model);
        const QString folder = QFileInfo(libraryPath()).absolutePath();
        const auto readOnly = [&](bool on) {
            QFile::setPermissions(folder, QFileDevice::Permissions(on ? 0x5511 : 0x7700));
        };
        QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7711));
        readOnly(true);
        {
            const test::Unprivileged unprivileged;
            model->addSubscriber(u"second@example.com"_s, QString());
            QTRY_VERIFY_WITH_TIMEOUT(model->statusMessage().has_value(), 3000);
            QVERIFY2(model->statusMessage()->startsWith(u"Could not save your library: "_s),
                     qPrintable(*model->statusMessage()));
            model->setStatusMessage(std::nullopt);
            model->addSubscriber(u"third@example.com"_s, QString());
            QTest::qWait(700);
            QCOMPARE(model->statusMessage(), std::nullopt); // said once, not on every change
        }
        readOnly(false);
        model->addSubscriber(u"fourth@example.com"_s, QString());
        settle(*model);
        QCOMPARE(savedSubscribers(), 4); // nothing was lost

        readOnly(true); // a new failure after a success is reported again
        const test::Unprivileged unprivileged;
        model->addSubscriber(u"fifth@example.com"_s, QString());
        QTRY_VERIFY_WITH_TIMEOUT(model->statusMessage().has_value(), 3000);
        readOnly(false);
    }

    void awsKeysAccountAndDomain() {
        auto m = started();
        test::runTask(m->refreshSES()); // no keys: nothing happens
        test::runTask(m->verifyDomain());
        QCOMPARE(m->sesError(), u"Enter your sending domain."_s);
        m->setProfile({.domain = u" Ann.Example "_s});
        test::runTask(m->verifyDomain());
        QCOMPARE(m->sesError(), u"Add your IAM access keys first."_s);
        QCOMPARE(m_net->requests().size(), 0);

        QVERIFY(test::runTask(m->saveAWSKeys(u" \tAKIDEXAMPLE  "_s, u"\tsecret\n "_s)));
        const auto keys = test::runTask(m->loadCredentials());
        QCOMPARE(keys->accessKeyID, u"AKIDEXAMPLE"_s);
        QCOMPARE(keys->secretAccessKey, u"secret\n"_s);
        m_net->enqueue(200, R"({"SendQuota": {"MaxSendRate": 14}})");
        test::runTask(m->refreshSES());
        QCOMPARE(m->sesError(), std::nullopt);
        QCOMPARE(m->sendRate(), 0.8 * 14);

        // The identity exists already: the model reads it, by the domain as SES knows it.
        m_net->enqueue(409, R"({"message": "already exists"})",
                       {{"x-amzn-ErrorType", "AlreadyExistsException"}});
        m_net->enqueue(200, R"({"VerifiedForSendingStatus": true, "DkimAttributes":
                              {"Status": "SUCCESS", "Tokens": ["t1", "t2", "t3"]}})");
        test::runTask(m->verifyDomain());
        QVERIFY(m_net->requests().last().url.path().endsWith(u"/ann.example"_s));

        m_credentials->failWrites(-25308);
        QVERIFY(!test::runTask(m->saveAWSKeys(u"A"_s, u"B"_s)));
        QVERIFY(m->sesError()->startsWith(u"Could not save to the system keychain: "_s));
    }

    void syncMergesWithTheWorkersStateWinning() {
        auto m = started();
        test::runTask(m->syncSubscribers());
        QCOMPARE(*m->statusMessage(), u"Deploy the worker first."_s);
        deployed(*m, false);
        m->addSubscriber(u"ann@example.com"_s, u"Ann"_s);
        m->addSubscriber(u"bo@example.com"_s, u"Bo"_s);

        // A failed push leaves lastSync alone, so the same changes go next time.
        m_net->enqueue(500, R"({"error": "D1 is down"})");
        test::runTask(m->syncSubscribers());
        QCOMPARE(*m->statusMessage(), u"Worker error 500: D1 is down"_s);
        QCOMPARE(m->library().lastSync, std::nullopt);

        m_net->enqueue(200, R"({"upserted": 2})");
        const QJsonArray pulled{wire("ann@example.com", "unsubscribed"),
                                wire(" Bo@Example.com ", "complained"),
                                wire("new@example.com", "pending")};
        m_net->enqueue(200, QJsonDocument(QJsonObject{{"subscribers", pulled}}).toJson());
        test::runTask(m->syncSubscribers());
        const auto& list = m->library().subscribers;
        QCOMPARE(list.size(), 3); // the pulled address is normalised, then matched exactly
        QCOMPARE(list[0].status, SubscriberStatus::complained);
        QCOMPARE(list[1].status, SubscriberStatus::unsubscribed);
        QCOMPARE(list[1].name, u"Ann"_s); // the local name and source stay
        QCOMPARE(list[1].source, u"manual"_s);
        QCOMPARE(list[2].email, u"new@example.com"_s);

        // Nothing changed locally since: no push, a pull since the last sync (each sync then
        // asks the worker how it is; unanswered here).
        m_net->enqueue(200, R"({"subscribers": []})");
        test::runTask(m->syncSubscribers());
        QCOMPARE(m_net->requests().size(), 6);
        QVERIFY(m_net->requests()[4].url.query().startsWith(u"since="_s));
    }

    void importDeduplicatesAndPushes() {
        auto m = started();
        test::runTask(m->importCSV(m_dir->filePath(u"missing.csv"_s)));
        QCOMPARE(*m->statusMessage(), u"Could not read missing.csv."_s);
        m->addSubscriber(u"ann@example.com"_s, QString());
        test::runTask(
            m->importCSV(writeFile(u"beehiiv export.v2.csv"_s,
                                   "email,status,utm_source\nann@example.com,active,x\n"
                                   "bo@example.com,active,x\nBO@example.com,active,x\n"
                                   "not-an-address,active,x\ncy@example.com,unsubscribed,x\n")));
        QCOMPARE(*m->statusMessage(),
                 u"Imported 2 from Beehiiv export. Skipped 1, duplicates 2."_s);
        QCOMPARE(m->library().subscribers[1].source, u"beehiiv export.v2"_s);
        QCOMPARE(m->library().subscribers[2].status, SubscriberStatus::unsubscribed);

        deployed(*m);
        m_net->enqueue(200, R"({"upserted": 1})");
        test::runTask(m->importCSV(writeFile(u"more.csv"_s, "email\ndee@example.com\n")));
        QTRY_COMPARE(*m->statusMessage(), u"Imported 1 and pushed 1 to your worker."_s);
        m_net->enqueue(502, "<html>bad gateway</html>");
        test::runTask(m->importCSV(writeFile(u"last.csv"_s, "email\nel@example.com\n")));
        QTRY_COMPARE(*m->statusMessage(),
                     QStringLiteral("Imported locally. Push to worker failed: "
                                    "Worker error 502: <html>bad gateway</html>"));
        test::runTask(m->importCSV(writeFile(u"again.csv"_s, "email\nel@example.com\n")));
        QCOMPARE(*m->statusMessage(),
                 u"Imported 0 from Generic export. Skipped 0, duplicates 1."_s);
        QCOMPARE(m_net->pending(), 0); // nothing added, nothing pushed
    }

    // Every workflow that would reach Amazon, Cloudflare, the worker or the keychain refuses in
    // demo mode. Nothing reaches the network or the keychain. (Its simulated list send:
    // tst_send_sheet.)
    void demoTouchesNothingReal() {
        storeKeys();
        m_credentials->set(u"token"_s, CredentialStore::Key::workerAPIToken);
        auto m = started({u"-demo"_s});
        const QString refusal = AppModel::demoRefusal;
        QVERIFY(!test::runTask(m->saveAWSKeys(u"A"_s, u"B"_s)));
        for (auto sesWorkflow : {&AppModel::refreshSES, &AppModel::verifyDomain}) {
            test::runTask((m.get()->*sesWorkflow)());
            QCOMPARE(m->sesError(), refusal);
        }
        expectPeerWorkflowsRefuse(*m, refusal);
        test::runTask(m->importCSV(writeFile(u"more.csv"_s, "email\nz@example.com\n")));
        QCOMPARE(m_net->requests().size(), 0);
        QCOMPARE(m_credentials->reads() + m_credentials->writes(), 0);
        // Its links are signed with a secret of this session alone, never a published one.
        QCOMPARE(test::runTask(m->signingSecret()).size(), 64);
        QVERIFY(m->demoSigningSecret() != makeModel()->demoSigningSecret());
    }

    // A keychain that cannot answer is not an empty one: nothing new is made, stored or
    // deployed, and the stored secret is the one used once it answers.
    void lockedKeychainRefusesAndMakesNothing() {
        storeKeys();
        m_credentials->set(u"stored-secret"_s, CredentialStore::Key::workerSigningSecret);
        m_credentials->setAvailable(false);
        auto m = started();
        m->setProfile(SampleData::profile());
        const Newsletter issue = SampleData::library().newsletters[2];
        QVERIFY_THROWS_EXCEPTION(KeychainError, test::runTask(m->signingSecret()));
        const QString locked = KeychainError::unavailableText;
        QVERIFY(!test::runTask(m->saveAWSKeys(u"A"_s, u"B"_s)));
        QCOMPARE(m->sesError(), locked);
        expectPeerWorkflowsRefuse(*m, locked);
        m->addSubscriber(u"ann@example.com"_s, QString());
        m->setStatusMessage(std::nullopt);
        test::runTask(m->sendToList(issue));
        QTRY_COMPARE(m->statusMessage(), locked);
        QCOMPARE(m->sendSession(), std::nullopt);
        QCOMPARE(m_net->requests().size(), 0);
        QCOMPARE(m_credentials->get(CredentialStore::Key::workerAPIToken), std::nullopt);

        m_credentials->setAvailable(true);
        QCOMPARE(test::runTask(m->signingSecret()), u"stored-secret"_s);
    }

    // The writer hears why their own library is empty or partial, at start and on leaving the
    // demo alike, and where the file as it was is kept (the keeping itself: tst_library_store).
    void unreadableOrPartLibraryIsExplained_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("unreadable") << QByteArray(R"({"lastSync": "yesterday"})")
                                    << u"Could not read your library: Library, key \"lastSync\": "
                                       "Invalid ISO8601 date: yesterday. It is kept as %1, and a "
                                       "new library starts here."_s;
        QTest::newRow("misspelt list")
            << QByteArray(R"({"profile": {"publicationName": "", "fromName": "", "fromEmail": "",
                "replyTo": "", "postalAddress": "", "region": "", "domain": "",
                "workerBaseURL": "", "doubleOptIn": true}, "newsletters": [],
                "subscriber": [{"email": "precious@example.com"}]})")
            << u"Part of your library was not read: the file has no \"subscribers\" but holds "
               "\"subscriber\", which this version does not read. Nothing is deleted; the file "
               "as it was is kept as %1."_s;
    }

    void unreadableOrPartLibraryIsExplained() {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        writeFile(u"Postwick/library.json"_s, file);
        auto m = started();
        const QString kept = *m->store().backupPath();
        QCOMPARE(m->statusMessage(), message.arg(kept));
        m->enterDemo();
        m->setStatusMessage(std::nullopt);
        test::runTask(m->leaveDemo());
        QCOMPARE(m->statusMessage(), message.arg(kept));
    }

    // One stray quote costs one row, and the result says which and why. An import runs off the
    // interface thread, and cancelled, it adds nothing.
    void importSkipsOnlyTheBrokenRowAndCancels() {
        auto m = started();
        QByteArray rows = "email,name\n";
        for (int i = 2; i <= 1000; ++i) {
            rows +=
                "r" + QByteArray::number(i) + "@example.com," + (i == 4 ? "\"Stray" : "R") + "\n";
        }
        test::runTask(m->importCSV(writeFile(u"stray.csv"_s, rows)));
        QCOMPARE(m->library().subscribers.size(), 998);
        QCOMPARE(m->library().subscribers[2].email, u"r5@example.com"_s);
        QCOMPARE(m->lastImport()->skipped,
                 (QList<SkippedRow>{{4, u"Quote opened on line 4 is never closed"_s}}));

        const QString pipe = m_dir->filePath(u"slow.csv"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        auto importing = m->importCSV(pipe); // waits for the file's end
        QFile writer(pipe);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        writer.write("email\nz@example.com\n");
        QCOMPARE(m->importProgress()->fileName, u"slow.csv"_s);
        m->cancelImport();
        writer.close();
        test::runTask(std::move(importing));
        QCOMPARE(m->statusMessage(), u"Import of slow.csv cancelled; nothing was added."_s);
        QCOMPARE(m->library().subscribers.size(), 998);
        QCOMPARE(m->importProgress(), std::nullopt);
    }

    void testSend() {
        auto m = started();
        const Newsletter issue = SampleData::library().newsletters[2];
        test::runTask(m->sendTest(issue, u"me@example.com"_s));
        QCOMPARE(*m->statusMessage(), u"Add your IAM access keys in Amazon SES first."_s);
        storeKeys();
        test::runTask(m->sendTest(issue, u"me@example.com"_s));
        QCOMPARE(*m->statusMessage(),
                 QStringLiteral("Fix first: Add a physical postal address. "
                                "CAN-SPAM requires it in every email footer."));
        m->setProfile(SampleData::profile());
        m_net->enqueue(200, R"({"MessageId": "0100018c1234abcd-5678"})");
        test::runTask(m->sendTest(issue, u"  Me@Example.com "_s));
        QCOMPARE(*m->statusMessage(), u"Test sent to me@example.com (message 0100018c1234)."_s);
        QVERIFY(m->previewEmail(SampleData::library().newsletters[0]).html.contains(u"Hi Alex,"_s));
    }

    // A process that died mid-send left its issue "sending" and a journal (its last line torn):
    // the next start folds the journal in, pauses the issue and saves. Sending it again when
    // nobody is left records the end the dead process never reached.
    void anInterruptedSendIsRecoveredAndEnded() {
        Library library = SampleData::library();
        library.newsletters[1].status = CampaignStatus::sending;
        const QUuid issueID = library.newsletters[1].id;
        LibraryFile::write(libraryPath(), library);
        const QString journal = DeliveryJournal::path(libraryPath(), issueID);
        const auto id = [](int n) {
            return SampleData::sampleID(n).toByteArray(QUuid::WithoutBraces);
        };
        writeFile(u"Postwick/sends/"_s + QFileInfo(journal).fileName(),
                  "delivered " + id(8) + "\nfailed " + id(9) + "\nuncertain " + id(10) +
                      "\ndelivered 5A3D0000-00");
        auto m = started();
        const Newsletter recovered = *m->library().issue(issueID);
        QCOMPARE(recovered.status, CampaignStatus::paused);
        QCOMPARE(recovered.deliveredIDs.size(), 8);
        QCOMPARE(recovered.failedIDs, QSet<QUuid>{SampleData::sampleID(9)});
        QCOMPARE(recovered.uncertainIDs, QSet<QUuid>{SampleData::sampleID(10)});
        QCOMPARE(recovered.stats.sent, 8);
        QTRY_VERIFY(!QFile::exists(journal));
        QCOMPARE(*LibraryFile::read(libraryPath()).issue(issueID), recovered);

        storeKeys();
        QSet<QUuid> others;
        for (const Subscriber& s : m->library().subscribers) {
            if (!recovered.deliveredIDs.contains(s.id)) {
                others.insert(s.id);
            }
        }
        m->setStatus(SubscriberStatus::unsubscribed, others);
        test::runTask(m->sendToList(recovered));
        QCOMPARE(*m->statusMessage(), u"No active subscribers left to send to."_s);
        QCOMPARE(m->library().issue(issueID)->status, CampaignStatus::sent);
        QVERIFY(m->library().issue(issueID)->sentAt);
    }

    // A killed process keeps what was handed to the system: a full group goes at once, the
    // rest before the event loop turns again, whatever the timers.
    void journalLinesReachTheSystemWithinATurn() {
        DeliveryJournal journal(m_dir->filePath(u"sends/one.journal"_s));
        const auto size = [&] { return QFile(journal.path()).size(); }; // 47 bytes a delivery
        for (int i = 0; i < DeliveryJournal::groupSize; ++i) {
            journal.record(DeliveryJournal::Outcome::delivered, QUuid::createUuid());
        }
        QCOMPARE(size(), DeliveryJournal::groupSize * 47);
        journal.record(DeliveryJournal::Outcome::failed, QUuid::createUuid());
        QCoreApplication::processEvents();
        QCOMPARE(size(), DeliveryJournal::groupSize * 47 + 44);
    }

    // The request for production access, filled from what the writer told the setup.
    void emptyProfileUsesTheFallbacks() {
        const QString text =
            ProductionAccess::requestText(SenderProfile(), {}, ProductionAccess::defaultListSource,
                                          ProductionAccess::defaultVolume);
        QVERIFY(text.startsWith(
            u"I publish my newsletter, an editorial newsletter at my website. I send one issue "
            "per week to subscribers, about 2,000 emails per month."_s));
        QVERIFY(text.endsWith(u"available at my website/archive."_s));
        QVERIFY(text.contains(
            u".\n\nHow recipients join: the list is made only of people who signed up on my "
            "website through a double opt-in form. Every new signup receives"_s));
        QVERIFY(text.contains(
            u"pauses a campaign if the bounce rate passes 5% or the complaint rate passes 0.1%."
            "\n\nContent: original articles written by me."_s));
    }

    void domainOrWebsiteFillTheSite() {
        const SenderProfile profile{.publicationName = u"Field Notes"_s,
                                    .domain = u"fieldnotes.example"_s};
        const QString fromDomain =
            ProductionAccess::requestText(profile, {}, u"readers"_s, u"a few hundred emails"_s);
        // A typed website wins over the domain.
        QVERIFY(ProductionAccess::requestText(profile, u"https://site.example"_s, {}, {})
                    .endsWith(u"at https://site.example/archive."_s));
        QVERIFY(fromDomain.startsWith(
            u"I publish Field Notes, an editorial newsletter at https://fieldnotes.example. I send "
            "one issue per week to subscribers, a few hundred emails."_s));
        QVERIFY(fromDomain.endsWith(u"at https://fieldnotes.example/archive."_s));
    }
};

QTEST_GUILESS_MAIN(TestAppModel)
#include "tst_app_model.moc"
