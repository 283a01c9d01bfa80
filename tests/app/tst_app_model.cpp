#include "app/app_model.h"
#include "core/file_error.h"
#include "core/library_file.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"
#include "support/run_task.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestAppModel : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::shared_ptr<MemoryCredentialStore> m_credentials;
    std::shared_ptr<QSettings> m_settings;

    QString libraryPath() const { return m_dir->filePath(QStringLiteral("Postwick/library.json")); }

    std::unique_ptr<AppModel> makeModel(QStringList arguments = {}) {
        AppModel::Dependencies d;
        d.store = std::make_shared<LibraryStore>(libraryPath());
        d.credentials = m_credentials;
        d.settings = m_settings;
        d.arguments = QStringList{QStringLiteral("quillmere")} + arguments;
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

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_credentials = std::make_shared<MemoryCredentialStore>();
        m_settings = std::make_shared<QSettings>(m_dir->filePath(QStringLiteral("settings.ini")),
                                                 QSettings::IniFormat);
    }

    void firstLaunchStartsEmpty() {
        auto model = started();
        QCOMPARE(model->library(), Library());
        QCOMPARE(model->selection(), AppSection::newsletters);
        QCOMPARE(model->selectedNewsletterID(), std::nullopt);
        QVERIFY(!model->onboardingDone());
        QCOMPARE(model->statusMessage(), std::nullopt);
        QVERIFY(!QFile::exists(libraryPath()));
        QCOMPARE(model->firstIncompleteStep(), OnboardingStep::amazon);
    }

    void launchArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<std::optional<AppSection>>("section");
        QTest::addColumn<bool>("onboardingDone");
        QTest::addColumn<std::optional<OnboardingStep>>("startStep");
        QTest::addColumn<bool>("showSend");
        QTest::addColumn<int>("selectedIssue"); // sample issue number, 0 for none
        const std::optional<OnboardingStep> noStep;
        QTest::newRow("demo") << QStringList{"-demo"} << std::optional(AppSection::newsletters)
                              << true << noStep << false << 101;
        QTest::newRow("section") << QStringList{"-demo", "-section", "stats"}
                                 << std::optional(AppSection::stats) << true << noStep << false
                                 << 101;
        QTest::newRow("unknown section")
            << QStringList{"-demo", "-section", "attic"} << std::optional(AppSection::newsletters)
            << true << noStep << false << 101;
        QTest::newRow("onboarding step") << QStringList{"-demo", "-onboarding", "domain"}
                                         << std::optional(AppSection::newsletters) << false
                                         << std::optional(OnboardingStep::domain) << false << 101;
        QTest::newRow("onboarding without step")
            << QStringList{"-onboarding", "-section", "worker"} << std::optional(AppSection::worker)
            << false << noStep << false << 0;
        QTest::newRow("showSend picks the draft")
            << QStringList{"-demo", "-showSend"} << std::optional(AppSection::newsletters) << true
            << noStep << true << 103;
        QTest::newRow("showSend without a draft")
            << QStringList{"-showSend"} << std::optional(AppSection::newsletters) << false << noStep
            << false << 0;
    }

    void launchArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(std::optional<AppSection>, section);
        QFETCH(bool, onboardingDone);
        QFETCH(std::optional<OnboardingStep>, startStep);
        QFETCH(bool, showSend);
        QFETCH(int, selectedIssue);
        auto model = started(arguments);
        QCOMPARE(model->selection(), section);
        QCOMPARE(model->onboardingDone(), onboardingDone);
        QCOMPARE(model->onboardingStartStep(), startStep);
        QCOMPARE(model->showSendOnLaunch(), showSend);
        QCOMPARE(model->selectedNewsletterID(),
                 selectedIssue ? std::optional(SampleData::sampleID(selectedIssue)) : std::nullopt);
    }

    void finishingOnboardingPersistsAndCreatesAnIssue() {
        auto model = started();
        model->setSelection(AppSection::subscribers);
        model->finishOnboarding();
        QVERIFY(model->onboardingDone());
        QCOMPARE(model->library().newsletters.size(), 1);
        const Newsletter& issue = model->library().newsletters.first();
        QCOMPARE(issue.subject, QStringLiteral("New issue"));
        QCOMPARE(issue.markdown,
                 QStringLiteral("# Hello {{name}}\n\nWrite something worth reading.\n"));
        QCOMPARE(issue.emailTemplate, EmailTemplate::editorial);
        QCOMPARE(model->selectedNewsletterID(), issue.id);
        QCOMPARE(model->selection(), AppSection::newsletters);
        QCOMPARE(m_settings->value(QStringLiteral("onboardingDone")).toBool(), true);
        settle(*model);

        // A new process reads the flag; the guided setup stays finished.
        QVERIFY(makeModel()->onboardingDone());
    }

    void issueOperations() {
        auto model = started();
        model->newIssue();
        const QUuid older = *model->selectedNewsletterID();
        model->newIssue();
        const QUuid newer = *model->selectedNewsletterID();
        QCOMPARE(model->library().newsletters.first().id, newer); // newest first

        Newsletter edited = *model->selectedNewsletter();
        edited.subject = QStringLiteral("Edited");
        model->updateIssue(edited);
        QCOMPARE(model->library().newsletters.first().subject, QStringLiteral("Edited"));
        Newsletter stranger = edited;
        stranger.id = QUuid::createUuid();
        model->updateIssue(stranger);
        QCOMPARE(model->library().newsletters.size(), 2);

        model->deleteIssue(newer);
        QCOMPARE(model->selectedNewsletterID(), older);
        model->deleteIssue(older);
        QCOMPARE(model->selectedNewsletterID(), std::nullopt);
        QVERIFY(model->library().newsletters.isEmpty());
    }

    void subscriberOperations() {
        auto model = started();
        model->addSubscriber(QStringLiteral("  Ann@Example.COM \n"), QStringLiteral("Ann"));
        model->addSubscriber(QStringLiteral("ann@example.com"), QStringLiteral("Other"));
        QCOMPARE(model->library().subscribers.size(), 1);
        const Subscriber ann = model->library().subscribers.first();
        QCOMPARE(ann.email, QStringLiteral("ann@example.com"));
        QCOMPARE(ann.name, QStringLiteral("Ann"));
        QCOMPARE(ann.status, SubscriberStatus::pending); // double opt-in is on by default
        QCOMPARE(ann.source, QStringLiteral("manual"));
        QVERIFY(!isSendable(ann.status));

        SenderProfile profile = model->library().profile;
        profile.doubleOptIn = false;
        model->setProfile(profile);
        model->addSubscriber(QStringLiteral("bo@example.com"), QString());
        QCOMPARE(model->library().subscribers.first().status, SubscriberStatus::active);
        QCOMPARE(model->count(SubscriberStatus::active), 1);

        QTest::qWait(5);
        model->setStatus(SubscriberStatus::unsubscribed, {ann.id});
        QCOMPARE(model->count(SubscriberStatus::unsubscribed), 1);
        QVERIFY(model->library().subscribers.last().updatedAt > ann.updatedAt);
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
            issue.subject = QStringLiteral("Draft %1").arg(i);
            model->updateIssue(issue);
            sinceLast.start();
            QTest::qWait(30); // ten edits within 0.3 s
        }
        QTRY_COMPARE_WITH_TIMEOUT(model->store().saveCount(), before + 1, 2000);
        QVERIFY2(sinceLast.elapsed() >= 370, qPrintable(QString::number(sinceLast.elapsed())));
        QTest::qWait(500);
        QCOMPARE(model->store().saveCount(), before + 1);
        QCOMPARE(LibraryFile::read(libraryPath()).newsletters.first().subject,
                 QStringLiteral("Draft 9"));
    }

    void demoModeWritesNothing() {
        auto model = started({QStringLiteral("-demo")});
        QVERIFY(model->isDemo());
        QCOMPARE(model->library(), SampleData::library());
        QCOMPARE(model->account()->max24HourSend, 200.0);
        QCOMPARE(model->account()->maxSendRate, 1.0);
        QCOMPARE(model->account()->enforcementStatus, QStringLiteral("HEALTHY"));
        QVERIFY(model->isComplete(OnboardingStep::amazon)); // account known, no keys needed
        model->newIssue();
        model->addSubscriber(QStringLiteral("x@example.com"), QString());
        model->finishOnboarding();
        QTest::qWait(600);
        QVERIFY(!QFile::exists(libraryPath()));
        QVERIFY(!m_settings->contains(QStringLiteral("onboardingDone")));
        QVERIFY(m_credentials->get(CredentialStore::Key::workerSigningSecret) == std::nullopt);
    }

    void leavingDemoReturnsToTheWritersLibrary() {
        Library own;
        own.profile.fromName = QStringLiteral("Ann");
        own.profile.fromEmail = QStringLiteral("ann@example.com");
        own.profile.postalAddress = QStringLiteral("1 Main St");
        LibraryFile::write(libraryPath(), own);
        auto model = started({QStringLiteral("-demo")});
        test::runTask(model->leaveDemo());
        QVERIFY(!model->isDemo());
        QCOMPARE(model->library(), own);
        QCOMPARE(model->account(), std::nullopt);
        QVERIFY(!model->onboardingDone());
        QCOMPARE(model->onboardingStartStep(), OnboardingStep::amazon);
        QCOMPARE(model->completedSteps(), QList<OnboardingStep>{OnboardingStep::sender});

        QFile::remove(libraryPath());
        model->enterDemo();
        test::runTask(model->leaveDemo());
        QCOMPARE(model->library(), Library());
        QCOMPARE(model->selectedNewsletterID(), std::nullopt);
    }

    void editsPendingWhenEnteringDemoAreKept() {
        auto model = started();
        model->addSubscriber(QStringLiteral("kept@example.com"), QString());
        model->enterDemo(); // before the debounced save fired
        QTest::qWait(600);
        QCOMPARE(LibraryFile::read(libraryPath()).subscribers.size(), 1);
    }

    void unreadableLibraryIsKeptAndReported() {
        const QByteArray damaged = "{\"subscribers\": [{\"email\": \"precious@example.com\", trunc";
        QDir().mkpath(QFileInfo(libraryPath()).absolutePath());
        QFile f(libraryPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(damaged);
        f.close();

        auto model = started();
        QCOMPARE(model->library(), Library());
        QVERIFY(model->statusMessage());
        const QString kept = *model->store().unreadableBackupPath();
        QVERIFY2(model->statusMessage()->contains(kept), qPrintable(*model->statusMessage()));

        model->addSubscriber(QStringLiteral("new@example.com"), QString());
        settle(*model);
        QCOMPARE(readAll(kept), damaged); // the old file, byte for byte
        QCOMPARE(LibraryFile::read(libraryPath()).subscribers.first().email,
                 QStringLiteral("new@example.com"));
    }

    void failedSaveIsReportedOnceAndRecovers() {
        auto model = started();
        model->addSubscriber(QStringLiteral("first@example.com"), QString());
        settle(*model);
        const QString folder = QFileInfo(libraryPath()).absolutePath();
        QFile::setPermissions(m_dir->path(), QFileDevice::Permissions(0x7711));
        QFile::setPermissions(folder, QFileDevice::Permissions(0x5511)); // read-only
        {
            const test::Unprivileged unprivileged;
            model->addSubscriber(QStringLiteral("second@example.com"), QString());
            QTRY_VERIFY_WITH_TIMEOUT(model->statusMessage().has_value(), 3000);
            QVERIFY2(
                model->statusMessage()->startsWith(QStringLiteral("Could not save your library: ")),
                qPrintable(*model->statusMessage()));
            model->setStatusMessage(std::nullopt);
            model->addSubscriber(QStringLiteral("third@example.com"), QString());
            QTest::qWait(700);
            QCOMPARE(model->statusMessage(), std::nullopt); // said once, not on every change
        }
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7700));
        model->addSubscriber(QStringLiteral("fourth@example.com"), QString());
        settle(*model);
        QCOMPARE(LibraryFile::read(libraryPath()).subscribers.size(), 4); // nothing was lost
        QCOMPARE(model->statusMessage(), std::nullopt);

        // A new failure after a success is reported again.
        QFile::setPermissions(folder, QFileDevice::Permissions(0x5511));
        const test::Unprivileged unprivileged;
        model->addSubscriber(QStringLiteral("fifth@example.com"), QString());
        QTRY_VERIFY_WITH_TIMEOUT(model->statusMessage().has_value(), 3000);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7700));
    }

    void flushWritesAtOnce() {
        auto model = started();
        model->addSubscriber(QStringLiteral("late@example.com"), QString());
        QVERIFY(model->hasPendingSave());
        model->flushPendingSave();
        QVERIFY(!model->hasPendingSave());
        QCOMPARE(LibraryFile::read(libraryPath()).subscribers.size(), 1);
        QTest::qWait(500);
        QCOMPARE(model->store().saveCount(), 1); // the debounced save does not follow
    }

    void setupCompletion() {
        auto model = started();
        QVERIFY(model->isComplete(OnboardingStep::welcome));
        QVERIFY(!model->isComplete(OnboardingStep::done));
        SenderProfile p;
        p.fromName = QStringLiteral("A");
        p.fromEmail = QStringLiteral("a@b.co");
        p.postalAddress = QStringLiteral("Somewhere");
        p.workerBaseURL = QStringLiteral("https://postwick.a.workers.dev");
        model->setProfile(p);
        model->addSubscriber(QStringLiteral("r@b.co"), QString());
        QCOMPARE(model->completedSteps(),
                 (QList<OnboardingStep>{OnboardingStep::sender, OnboardingStep::signup,
                                        OnboardingStep::readers}));
        QCOMPARE(model->firstIncompleteStep(), OnboardingStep::amazon);
    }

    void changeSignalsFollowTheTouchedPart() {
        auto model = started();
        QSignalSpy subscribers(model.get(), &AppModel::subscribersChanged);
        QSignalSpy newsletters(model.get(), &AppModel::newslettersChanged);
        QSignalSpy status(model.get(), &AppModel::statusMessageChanged);
        model->addSubscriber(QStringLiteral("a@b.co"), QString());
        QCOMPARE(subscribers.count(), 1);
        QCOMPARE(newsletters.count(), 0);
        model->showStatus(QStringLiteral("Hello"));
        model->showStatus(QStringLiteral("Hello"));
        QCOMPARE(status.count(), 1); // unchanged text notifies nobody
    }

    void errorTextIsTheErrorsOwnLine() {
        QCOMPARE(AppModel::errorText(FileError(QStringLiteral("/x"), QStringLiteral("read"),
                                               QStringLiteral("gone"))),
                 QStringLiteral("Could not read /x: gone"));
        QCOMPARE(AppModel::errorText(std::make_exception_ptr(std::runtime_error("plain"))),
                 QStringLiteral("plain"));
    }
};

QTEST_GUILESS_MAIN(TestAppModel)
#include "tst_app_model.moc"
