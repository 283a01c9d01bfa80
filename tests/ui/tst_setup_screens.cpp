// The setup screens of the workspace driven through their real widgets: Amazon SES against the
// SES emulator (and a scripted SES for domain identities, which the emulator lacks), the DNS
// indicators against a name server on loopback, Production Access, the Signup Worker screen
// against the fake Cloudflare API with Miniflare, and the settings window; the account the
// emulator reports and a real test send through it.
#include "app/production_access.h"
#include "core/keychain_error.h"
#include "ses/network_transport.h"
#include "ui_fixture.h"

namespace {

const QString cloudflareToken = u"cf-screen-token"_s;
const QString accountID = u"0f1e2d3c4b5a69788796a5b4c3d2e1f0"_s;
const QString disabledToken = u"cf-disabled-token"_s;
const QString noAccountToken = u"cf-no-account-token"_s;

QJsonObject account(bool production) {
    return sesAccount(production, 14, 50000, 1234);
}

} // namespace

class TestSetupScreens : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    std::unique_ptr<SESEmulator> m_ses;
    std::unique_ptr<NodePeer> m_cloudflare;
    std::unique_ptr<NodePeer> m_dns;
    QString m_dnsError;
    QTemporaryDir m_scratch;

    template <class Screen>
    Screen* open(AppSection section, const QStringList& arguments = {}) {
        f->onboarded();
        f->open(arguments);
        f->model->setSelection(section);
        return f->screen<Screen>(section);
    }

    QString dnsRecordsFile() const { return m_scratch.filePath(u"dns.json"_s); }

    void publish(const QJsonObject& records) {
        QFile file(dnsRecordsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(records).toJson());
    }

    // The SES screen over a pending identity of that domain, from a scripted SES (the emulator
    // has no domain identities).
    SESSetupView* openPendingDomain(const QString& domain,
                                    std::shared_ptr<ScriptedTransport> scripted) {
        scripted->enqueue(200, QJsonDocument(account(false)).toJson());
        scripted->enqueue(200, sesIdentity(false, u"PENDING"_s));
        f->transport = scripted;
        f->storeAWSKeys();
        f->writeLibrary({.profile = {.replyTo = u"letters@"_s + domain, .domain = domain}});
        return open<SESSetupView>(AppSection::setup);
    }

private Q_SLOTS:
    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    void initTestCase() {
        m_ses = startSES(account(true));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        m_cloudflare =
            startCloudflare(cloudflareToken, accountID, u"Screens account"_s, u"screens-writer"_s,
                            {{disabledToken, QJsonObject{{"status", "disabled"}}},
                             {noAccountToken, QJsonObject{{"accounts", QJsonArray()}}}});

        // A name server of our own; every lookup of these tests goes to it.
        publish({});
        m_dns = std::make_unique<NodePeer>(u"dns_server.mjs"_s, QStringList{dnsRecordsFile()});
        const QString address = m_dns->value(u"address"_s);
        m_dnsError = m_dns->value(u"error"_s);
        qputenv("QUILLMERE_DNS_SERVER", address.isEmpty() ? "127.0.0.1" : address.toUtf8());
    }

    void sesKeysAccountAndDomain() {
        auto* screen = open<SESSetupView>(AppSection::setup);
        QVERIFY(screen && screen->isVisible());
        QCOMPARE(columnTexts(screen->regionPicker()->model()),
                 u"us-east-1 us-east-2 us-west-1 us-west-2 ca-central-1 eu-west-1 eu-west-2 "
                 "eu-west-3 eu-central-1 eu-north-1 eu-south-1 ap-south-1 ap-southeast-1 "
                 "ap-southeast-2 ap-northeast-1 ap-northeast-2 ap-northeast-3 sa-east-1 "
                 "me-south-1 af-south-1"_s.split(u' '));
        QCOMPARE(screen->regionPicker()->currentText(), u"us-east-1"_s);
        QCOMPARE(screen->accessKeyField()->placeholderText(), u"AKIA..."_s);
        QVERIFY(!screen->keysSavedLabel()->isVisible());
        QCOMPARE(screen->modeValue()->text(), u"—"_s);
        QVERIFY(screen->sandboxNote()->isVisible());

        // Save Keys needs both keys.
        QVERIFY(!screen->saveKeysButton()->isEnabled());
        type(screen->accessKeyField(), u" AKIASAVED "_s);
        QVERIFY(!screen->saveKeysButton()->isEnabled());
        QCOMPARE(screen->saveKeysButton()->toolTip(), u"Type both keys first."_s);
        type(screen->secretKeyField(), u"saved-secret"_s);
        QVERIFY(screen->saveKeysButton()->isEnabled());
        QVERIFY(screen->saveKeysButton()->toolTip().isEmpty());
        screen->accessKeyField()->clear();
        QVERIFY(!screen->saveKeysButton()->isEnabled());
        type(screen->accessKeyField(), u" AKIASAVED "_s);
        // A keychain that cannot take them: the fields keep what was typed, the error says why.
        f->credentials->setAvailable(false);
        click(screen->saveKeysButton());
        QCOMPARE(screen->accessKeyField()->text(), u" AKIASAVED "_s);
        QCOMPARE(screen->secretKeyField()->text(), u"saved-secret"_s);
        QCOMPARE(screen->errorLabel()->text(), KeychainError::unavailableText);
        f->credentials->setAvailable(true);
        click(screen->saveKeysButton());
        QCOMPARE(f->credentials->get(CredentialStore::Key::awsAccessKeyID),
                 std::optional(u"AKIASAVED"_s));
        QVERIFY(screen->accessKeyField()->text().isEmpty());
        QVERIFY(screen->secretKeyField()->text().isEmpty());
        QCOMPARE(shownText(screen->keysSavedLabel()), u"Saved in your system keychain"_s);
        QVERIFY(screen->accessKeyField()->placeholderText().isEmpty());

        // The account from the emulator: production, so no sandbox note.
        QTRY_COMPARE(screen->modeValue()->text(), u"Production"_s);
        QCOMPARE(screen->quotaValue()->text(), u"1234 of 50000 used"_s);
        QCOMPARE(screen->rateValue()->text(), u"14 emails per second"_s);
        QCOMPARE(screen->enforcementValue()->text(), u"HEALTHY"_s);
        QVERIFY(!screen->sandboxNote()->isVisible());
        QTRY_VERIFY(screen->checkAccountButton()->isEnabled());
        click(screen->checkAccountButton());
        QVERIFY(!screen->checkAccountButton()->isEnabled()); // busy while it asks
        QTRY_VERIFY(screen->checkAccountButton()->isEnabled());

        // No identity yet: dashed circles and "Verify Domain"; the emulator has no identities,
        // so verifying shows SES's error in red.
        QVERIFY(screen->records()->rows().isEmpty());
        type(screen->domainField(), u"screens.example"_s);
        type(screen->senderForm()->replyToField(), u"letters@screens.example"_s);
        QCOMPARE(statusSymbols(screen->records()),
                 (QStringList{"SPF circle.dashed", "DMARC circle.dashed"}));
        QCOMPARE(screen->verifiedValue()->text(), u"Not yet"_s);
        QCOMPARE(screen->verifyButton()->text(), u"Verify Domain"_s);
        QVERIFY(!screen->errorLabel()->isVisible());
        click(screen->verifyButton());
        QTRY_VERIFY(shownText(screen->errorLabel()).startsWith(u"SES "_s));
        QCOMPARE(screen->verifyButton()->text(), u"Verify Domain"_s);

        // The domain field writes through to the profile.
        QCOMPARE(f->model->library().profile.domain, u"screens.example"_s);

        // Key fields start empty on every visit.
        type(screen->accessKeyField(), u"half typed"_s);
        f->model->setSelection(AppSection::stats);
        f->model->setSelection(AppSection::setup);
        QVERIFY(screen->accessKeyField()->text().isEmpty());
    }

    // In demo mode every control that would reach Amazon, Cloudflare, the worker or the keychain
    // is off, and says why.
    void demoControlsAreOffAndSayWhy() {
        auto* ses = open<SESSetupView>(AppSection::setup, {u"-demo"_s});
        type(ses->accessKeyField(), u"AKIADEMO"_s);
        type(ses->secretKeyField(), u"demo-secret"_s);
        QList<QObject*> controls{ses->saveKeysButton(), ses->checkAccountButton(),
                                 ses->verifyButton()};
        f->model->setSelection(AppSection::worker);
        auto* worker = f->screen<WorkerSetupView>(AppSection::worker);
        type(worker->tokenField(), u"cf-token"_s);
        controls << worker->connectButton() << worker->deployButton();
        f->model->setSelection(AppSection::subscribers);
        controls << f->screen<SubscribersView>(AppSection::subscribers)->syncAction();
        f->model->setSelection(AppSection::newsletters);
        auto* editor = f->screen<NewslettersView>(AppSection::newsletters)->editor();
        type(editor->testAddressField(), u"me@example.com"_s);
        controls << editor->sendTestButton();
        for (QObject* control : controls) {
            QVERIFY2(!control->property("enabled").toBool(), qPrintable(control->objectName()));
            QCOMPARE(control->property("toolTip").toString(), AppModel::demoRefusal);
        }
    }

    // DKIM PENDING: clocks on the DKIM rows, dashed circles on SPF and DMARC. SES is scripted
    // (the emulator has no domain identities).
    void sesPendingDomain() {
        auto scripted = std::make_shared<ScriptedTransport>();
        auto* screen = openPendingDomain(u"pending.example"_s, scripted);
        QTRY_VERIFY_WITH_TIMEOUT(f->model->identity().has_value(), 10000);
        QCOMPARE(screen->modeValue()->text(), u"Sandbox"_s);
        QVERIFY(screen->sandboxNote()->isVisible());
        QVERIFY(screen->keysSavedLabel()->isVisible());
        QCOMPARE(screen->verifiedValue()->text(), u"Not yet"_s);
        QCOMPARE(screen->dkimValue()->text(), u"PENDING"_s);
        QCOMPARE(screen->verifyButton()->text(), u"Refresh Status"_s);
        QCOMPARE(statusSymbols(screen->records()),
                 (QStringList{"DKIM clock", "DKIM clock", "DKIM clock", "SPF circle.dashed",
                              "DMARC circle.dashed"}));

        // Refresh Status: SES now reports success (the identity exists, so creating it fails and
        // it is read instead).
        scripted->enqueue(409, R"({"message":"Identity already exists"})",
                          {{u"x-amzn-ErrorType"_s, u"AlreadyExistsException"_s}});
        scripted->enqueue(200, sesIdentity(true, u"SUCCESS"_s));
        click(screen->verifyButton());
        QTRY_COMPARE(screen->dkimValue()->text(), u"SUCCESS"_s);
        QCOMPARE(screen->verifiedValue()->text(), u"Yes"_s);
        QCOMPARE(statusSymbols(screen->records()),
                 (QStringList{"DKIM checkmark.circle.fill", "DKIM checkmark.circle.fill",
                              "DKIM checkmark.circle.fill", "SPF circle.dashed",
                              "DMARC circle.dashed"}));
        QVERIFY(!screen->errorLabel()->isVisible());
    }

    // Beside SPF and DMARC, what DNS says, from a lookup at our own name server; refreshed with
    // "Refresh Status". The rows' own symbols do not change with it.
    void dnsIndicatorsFollowLookups() {
        if (!m_dnsError.isEmpty()) {
            QSKIP(qPrintable(u"no name server on port 53: "_s + m_dnsError));
        }
        publish({{"indicators.example",
                  QJsonArray{"google-site-verification=abc",
                             "v=spf1 include:_spf.example.net include:amazonses.com ~all"}}});
        auto scripted = std::make_shared<ScriptedTransport>();
        auto* screen = openPendingDomain(u"indicators.example"_s, scripted);
        QTRY_VERIFY_WITH_TIMEOUT(f->model->identity().has_value(), 10000);

        const auto published = [screen](const QString& purpose) {
            const QList<DNSRecordRow*> rows = screen->records()->rows();
            const auto row =
                std::ranges::find(rows, purpose, [](auto* r) { return r->record().purpose; });
            return row == rows.end() ? u"(no row)"_s : (*row)->publishedText();
        };
        QTRY_COMPARE_WITH_TIMEOUT(published(u"SPF"_s), u"Found in DNS"_s, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(published(u"DMARC"_s), u"Not found yet"_s, 10000);
        QCOMPARE(published(u"DKIM"_s), QString());
        QCOMPARE(statusSymbols(screen->records()).last(), u"DMARC circle.dashed"_s);

        publish({{"indicators.example", QJsonArray{"v=spf1 -all"}},
                 {"_dmarc.indicators.example", QJsonArray{"v=DMARC1; p=none"}}});
        scripted->enqueue(409, R"({"message":"exists"})",
                          {{u"x-amzn-ErrorType"_s, u"AlreadyExistsException"_s}});
        scripted->enqueue(200, sesIdentity(false, u"PENDING"_s));
        click(screen->verifyButton());
        QTRY_COMPARE_WITH_TIMEOUT(published(u"DMARC"_s), u"Found in DNS"_s, 10000);
        // An SPF policy without the SES include is not the record asked for.
        QTRY_COMPARE_WITH_TIMEOUT(published(u"SPF"_s), u"Not found yet"_s, 10000);
        QCOMPARE(statusSymbols(screen->records()).last(), u"DMARC circle.dashed"_s);
    }

    void productionAccessRequestAndSettings() {
        f->writeLibrary({.profile = {.publicationName = u"Screen Notes"_s,
                                     .fromName = u"Set Tings"_s,
                                     .fromEmail = u"set@tings.example"_s,
                                     .postalAddress = u"3 Settings Sq"_s,
                                     .domain = u"notes.example"_s}});
        auto* screen = open<ProductionAccessView>(AppSection::production);
        QVERIFY(screen);
        const auto expected = [&] {
            return ProductionAccess::requestText(
                f->model->library().profile, screen->websiteField()->text(),
                screen->listSourceField()->toPlainText(), screen->volumeField()->text());
        };
        QCOMPARE(screen->listSourceField()->toPlainText(), ProductionAccess::defaultListSource);
        QCOMPARE(screen->volumeField()->text(), ProductionAccess::defaultVolume);
        QCOMPARE(screen->requestLabel()->text(), expected());

        type(screen->websiteField(), u"https://notes.example/join/"_s);
        QCOMPARE(screen->requestLabel()->text(), expected());
        screen->volumeField()->selectAll();
        type(screen->volumeField(), u"about 400 emails per month"_s);
        screen->listSourceField()->selectAll();
        type(screen->listSourceField(), u"readers of my blog"_s);
        QCOMPARE(screen->requestLabel()->text(), expected());

        // The two panes side by side, each at least 380 wide.
        auto* pane = screen->findChild<QScrollArea*>(u"requestPane"_s);
        QVERIFY(pane->width() >= 380);
        QVERIFY(pane->x() >= 380);

        click(screen->copyButton());
        QCOMPARE(QGuiApplication::clipboard()->text(), expected());
        QCOMPARE(f->window->toast()->message(),
                 u"Request copied. Paste it into the SES console."_s);

        // Settings edit the profile and reopen the guide.
        MainWindow& window = *f->window;
        QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(window.settingsWindow() && window.settingsWindow()->isVisible());
        SettingsWindow* settings = window.settingsWindow();
        QCOMPARE(settings->tabs()->count(), 2);
        QCOMPARE(settings->tabs()->tabText(0), u"General"_s);
        QCOMPARE(settings->tabs()->tabText(1), u"Setup"_s);
        QVERIFY(!settings->tabs()->tabIcon(0).isNull());
        QCOMPARE(settings->senderForm()->fromEmailField()->text(), u"set@tings.example"_s);
        QCOMPARE(settings->senderForm()->doubleOptInToggle()->text(),
                 u"Ask new readers to confirm (double opt-in)"_s);

        settings->tabs()->setCurrentIndex(1);
        QCOMPARE(settings->stepRow(OnboardingStep::sender)->title(), u"Who it's from"_s);
        QVERIFY(settings->stepRow(OnboardingStep::sender)->isDone());
        QCOMPARE(settings->stepRow(OnboardingStep::domain)->badgeText(), u"4"_s);
        QCOMPARE(settings->findChild<QLabel*>(u"setupCaption"_s)->text(),
                 u"Reopens the guided setup at that step."_s);

        // The From address edited here is the sender of the next send, and the guide's sender
        // step follows it.
        settings->tabs()->setCurrentIndex(0);
        settings->senderForm()->fromEmailField()->selectAll();
        type(settings->senderForm()->fromEmailField(), u"news@tings.example"_s);
        QCOMPARE(f->model->library().profile.fromEmail, u"news@tings.example"_s);
        settings->senderForm()->fromEmailField()->selectAll();
        QTest::keyClick(settings->senderForm()->fromEmailField(), Qt::Key_Backspace);
        QVERIFY(f->model->library().profile.fromEmail.isEmpty());
        QVERIFY(!f->model->isComplete(OnboardingStep::sender));
        QVERIFY(!settings->stepRow(OnboardingStep::sender)->isDone());
        QCOMPARE(settings->stepRow(OnboardingStep::sender)->badgeText(), u"3"_s);
        type(settings->senderForm()->fromEmailField(), u"news@tings.example"_s);
        QVERIFY(settings->stepRow(OnboardingStep::sender)->isDone());

        // "Open" on the done step brings back the guide on its summary.
        settings->tabs()->setCurrentIndex(1);
        click(settings->openButton(OnboardingStep::done));
        QVERIFY(!f->model->onboardingDone());
        QTRY_VERIFY(window.onboarding() && window.onboarding()->isVisible());
        QCOMPARE(window.onboarding()->currentStep(), OnboardingStep::done);
        QTRY_VERIFY(!window.settingsWindow() || !window.settingsWindow()->isVisible());

        // And again from the guide itself, at another step.
        window.showSettings();
        QTRY_VERIFY(window.settingsWindow() && window.settingsWindow()->isVisible());
        window.settingsWindow()->tabs()->setCurrentIndex(1);
        click(window.settingsWindow()->openButton(OnboardingStep::amazon));
        QCOMPARE(window.onboarding()->currentStep(), OnboardingStep::amazon);
    }

    void workerScreenConnectsAndDeploys() {
        auto* screen = open<WorkerSetupView>(AppSection::worker);
        QVERIFY(screen);
        QVERIFY(!screen->connectButton()->isEnabled());
        QVERIFY(!screen->accountPicker()->isVisible());
        QVERIFY(!screen->workerURLValue()->isVisible());
        QVERIFY(!screen->deployButton()->isEnabled());
        QVERIFY(child<QLabel>(screen, u"bounceRouting"_s)
                    ->text()
                    .startsWith(u"In the SNS console create a topic"_s));

        // A token Cloudflare reports as not active.
        connectWith(screen, disabledToken);
        QCOMPARE(shownText(screen->errorLabel()), u"Cloudflare rejected this token."_s);
        QVERIFY(screen->accounts().isEmpty());

        // A token that sees no account: no picker, nothing to deploy into.
        connectWith(screen, noAccountToken);
        QVERIFY(!screen->error());
        QVERIFY(!screen->accountPicker()->isVisible());
        QVERIFY(!screen->deployButton()->isEnabled());

        // The right token: the first account is chosen and Deploy Worker is ready.
        connectWith(screen, cloudflareToken);
        QVERIFY(screen->accountPicker()->isVisible());
        QCOMPARE(screen->accountPicker()->currentText(), u"Screens account"_s);
        QCOMPARE(screen->accounts(),
                 (QList<CloudflareAccountChoice>{{accountID, u"Screens account"_s}}));
        QVERIFY(screen->deployButton()->isEnabled());

        // Rejected again: the list found before stays.
        connectWith(screen, disabledToken);
        QCOMPARE(screen->errorLabel()->text(), u"Cloudflare rejected this token."_s);
        QCOMPARE(screen->accounts().size(), 1);
        QVERIFY(screen->accountPicker()->isVisible());

        screen->tokenField()->clear();
        type(screen->tokenField(), cloudflareToken);
        click(screen->deployButton());
        QVERIFY(!screen->deployButton()->isEnabled()); // busy
        QTRY_VERIFY_WITH_TIMEOUT(!f->model->isBusy(), 60000);
        const QString url = u"https://postwick.screens-writer.workers.dev"_s;
        QCOMPARE(shownText(screen->workerURLValue()), url);
        QCOMPARE(screen->signupFormValue()->text(), url + u"/"_s);
        QCOMPARE(screen->snsEndpointValue()->text(), url + u"/sns"_s);
        QVERIFY(screen->deployButton()->isEnabled());

        // A stored URL ending in "/" is shown as it will be used.
        SenderProfile profile = f->model->library().profile;
        profile.workerBaseURL = u"https://signup.example/"_s;
        f->model->setProfile(profile);
        QCOMPARE(screen->signupFormValue()->text(), u"https://signup.example//"_s);
        QCOMPARE(screen->snsEndpointValue()->text(), u"https://signup.example//sns"_s);
    }

    // A worker deployed before the AWS account was known, whose last confirmation mail failed:
    // the screen says both when it opens.
    void workerScreenShowsWhatTheWorkerReports() {
        NodePeer worker(
            u"worker_server.mjs"_s,
            {uR"({"API_TOKEN":"screen-api","SIGNING_SECRET":"screen-secret",)"
             uR"("FROM_EMAIL":"ann@screens.example","AWS_REGION":"eu-west-1",)"
             uR"("AWS_ACCESS_KEY_ID":"AKIDSCREEN","AWS_SECRET_ACCESS_KEY":"screen-key",)"
             uR"("DOUBLE_OPT_IN":"true"})"_s});
        const QString url = worker.value(u"url"_s);
        const HTTPRequest signup{u"POST"_s,
                                 QUrl(url + u"/"_s),
                                 {{u"Content-Type"_s, u"application/x-www-form-urlencoded"_s}},
                                 "email=reader%40screens.example"};
        QCOMPARE(test::runTask(NetworkTransport().send(signup)).status, 200);
        f->writeLibrary({.profile = {.workerBaseURL = url}});
        f->credentials->set(u"screen-api"_s, CredentialStore::Key::workerAPIToken);
        // The mail fails after the answer; the screen asks each time it opens.
        const WorkerClient client(QUrl(url), u"screen-api"_s, std::make_shared<NetworkTransport>());
        QTRY_VERIFY_WITH_TIMEOUT(test::runTask(client.healthReport()).mailFailure, 10000);
        auto* screen = open<WorkerSetupView>(AppSection::worker);
        QTRY_VERIFY_WITH_TIMEOUT(screen->healthLabel()->isVisible(), 10000);
        const QString text = screen->healthLabel()->text();
        QVERIFY(text.startsWith(u"Bounce routing needs your Amazon account connected"_s));
        QVERIFY(text.contains(u"Confirmation mail failed ("_s));
        QVERIFY(text.contains(u"SES answered 502"_s));
    }
    // The account the emulator reports, on the sidebar's badge and in the send sheet; a real
    // test send through it.
    void sesAccountAndATestSend() {
        f->storeAWSKeys();
        MainWindow& window = f->openWith(SampleData::library());
        QTRY_VERIFY_WITH_TIMEOUT(f->model->account() || f->model->sesError(), 10000);
        QVERIFY2(f->model->account(), qPrintable(f->model->sesError().value_or(QString())));
        QCOMPARE(window.sidebar()->badge()->headline(), u"SES production"_s);
        QCOMPARE(window.sidebar()->badge()->detail(), u"1234 of 50000 today, 14/s"_s);
        NewsletterEditor* editor = f->screen<NewslettersView>(AppSection::newsletters)->editor();
        f->model->setSelectedNewsletterID(SampleData::sampleID(103));
        editor->openSendSheet();
        QCOMPARE(editor->sendSheet()->rateLabel()->text(),
                 u"Throttled to 80% of your SES rate (11.2 per second)"_s);
        QTest::mouseClick(editor->sendSheet()->closeButton(), Qt::LeftButton);
        QTRY_VERIFY(!editor->sendSheet());

        const QString subject = u"[Test] "_s + f->model->selectedNewsletter()->subject;
        const qsizetype before = m_ses->stored(subject).size();
        QTest::keyClicks(editor->testAddressField(), u"Proof.Reader@example.org"_s);
        QTest::mouseClick(editor->sendTestButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(f->model->statusMessage().has_value(), 20000);
        QVERIFY2(f->model->statusMessage()->startsWith(
                     u"Test sent to proof.reader@example.org (message "_s),
                 qPrintable(*f->model->statusMessage()));
        QVERIFY(editor->sendTestButton()->isEnabled());
        QCOMPARE(m_ses->stored(subject).size(), before + 1);
        // A test send changes nothing in the library.
        QCOMPARE(f->model->selectedNewsletter()->stats.sent, 0);
    }
};

QUILLMERE_UI_TEST_MAIN(TestSetupScreens)
#include "tst_setup_screens.moc"
