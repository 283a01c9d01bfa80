// The guided setup driven through its real widgets: the rail and the navigation bar, each page
// against real peers on loopback (the SES emulator for Amazon, the fake Cloudflare API with
// Miniflare for the signup worker), a CSV import through the file chooser and by a drop, and
// the summary.
#include "ui_fixture.h"

#include <span>

namespace {

const QString cloudflareToken = u"cf-guide-token"_s;
const QString accountID = u"4a3b2c1d0e9f8a7b6c5d4e3f2a1b0c9d"_s;
const QString noAccountToken = u"cf-token-without-accounts"_s;

// Receives the addresses the guide asks the desktop to open.
class URLCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class TestOnboarding : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    std::unique_ptr<SESEmulator> m_ses;
    std::unique_ptr<NodePeer> m_cloudflare;
    URLCatcher m_urls;

    OnboardingView* guide() const {
        auto* stack = f->window->findChild<QStackedWidget*>();
        return qobject_cast<OnboardingView*>(stack->currentWidget());
    }

    template <class Page>
    Page* page() const {
        return guide()->page<Page>();
    }

private Q_SLOTS:
    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    void initTestCase() {
        m_ses = startSES(sesAccount(false, 1, 200, 0)); // in the sandbox
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        m_cloudflare =
            startCloudflare(cloudflareToken, accountID, u"Guide's account"_s, u"guide-writer"_s,
                            {{noAccountToken, QJsonObject{{"accounts", QJsonArray()}}}});
        QVERIFY(qgetenv("CLOUDFLARE_API_BASE_URL").startsWith("http://127.0.0.1:"));

        QDesktopServices::setUrlHandler(u"https"_s, &m_urls, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(u"https"_s); }

    // The first launch shows the guide on its welcome; Continue, Back, Skip and the rail walk it.
    void firstLaunchWalksTheGuide() {
        f->open();
        QVERIFY(guide() && guide()->isVisible());
        QVERIFY(!f->window->findChild<QWidget*>(u"workspace"_s)->isVisible());
        QCOMPARE(guide()->currentStep(), OnboardingStep::welcome);
        QVERIFY(!guide()->navigationBar()->isVisible());

        auto* welcome = page<WelcomePage>();
        QCOMPARE(welcome->header()->title(), u"Your newsletter, on your computer."_s);
        QVERIFY(welcome->header()->subtitle().endsWith(
            u"keep your list on your computer. No monthly plan, no per subscriber pricing."_s));
        QCOMPARE(textsOf(welcome->features(),
                         [](const Feature* it) { return it->symbol() + u' ' + it->title(); }),
                 (QStringList{u"dollarsign.circle Pay Amazon, not a platform"_s,
                              u"lock.shield Your list stays yours"_s,
                              u"checkmark.seal Compliant by default"_s}));

        // The rail: every step in order, the note below.
        StepRail* rail = guide()->rail();
        QCOMPARE(textsOf(allCases<OnboardingStep>(),
                         [rail](auto step) { return rail->row(step)->text(); }),
                 (QStringList{"Welcome", "Connect Amazon", "Who it's from", "Prove your domain",
                              "Signup and unsubscribe", "Bring your readers", "Ready"}));
        QCOMPARE(rail->note(), u"About 15 minutes, plus a day or so for Amazon to approve your "
                               "account."_s);

        OnboardingView* view = guide();
        // Return on the welcome page sets up sending.
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(view->currentStep(), OnboardingStep::amazon);
        QCOMPARE(rail->symbol(OnboardingStep::amazon), u"circle.inset.filled"_s);
        QCOMPARE(rail->symbol(OnboardingStep::sender), u"circle"_s);
        QCOMPARE(rail->symbol(OnboardingStep::welcome), u"checkmark.circle.fill"_s);

        const auto steps = allCases<OnboardingStep>(); // from Amazon on, each step to the next
        for (OnboardingStep expected : std::span(steps).subspan(2)) {
            QVERIFY(view->navigationBar()->isVisible());
            QVERIFY(view->backButton()->isVisible());
            const bool skippable = view->currentStep() == OnboardingStep::signup ||
                                   view->currentStep() == OnboardingStep::readers;
            QCOMPARE(view->skipButton()->isVisible(), skippable);
            QCOMPARE(view->primaryButton()->text(), u"Continue"_s);
            // Continue and Skip both go to the next step, complete or not.
            click(skippable ? view->skipButton() : view->primaryButton());
            QCOMPARE(view->currentStep(), expected);
        }
        QCOMPARE(view->primaryButton()->text(), u"Open Quillmere"_s);
        QVERIFY(!view->skipButton()->isVisible());

        for (int step = int(OnboardingStep::readers); step >= int(OnboardingStep::welcome);
             --step) {
            click(view->backButton());
            QCOMPARE(view->currentStep(), OnboardingStep(step));
        }
        QVERIFY(!view->navigationBar()->isVisible());

        // Choosing a row of the rail opens that page; Return in a field continues.
        click(rail->row(OnboardingStep::sender));
        QCOMPARE(view->currentStep(), OnboardingStep::sender);
        QCOMPARE(rail->symbol(OnboardingStep::sender), u"circle.inset.filled"_s);
        pressKey(page<SenderPage>()->senderForm()->fromNameField(), Qt::Key_Return);
        QCOMPARE(view->currentStep(), OnboardingStep::domain);

        // "Open Quillmere" finishes: the workspace replaces the guide.
        click(rail->row(OnboardingStep::done));
        click(view->primaryButton());
        QVERIFY(f->model->onboardingDone());
        QVERIFY(f->window->findChild<QWidget*>(u"workspace"_s)->isVisible());
    }

    void amazonPageConnectsToSES() {
        f->open({u"-onboarding"_s, u"amazon"_s});
        QCOMPARE(guide()->currentStep(), OnboardingStep::amazon);
        AmazonPage* amazon = page<AmazonPage>();
        QCOMPARE(amazon->header()->title(), u"Connect your Amazon account"_s);
        QCOMPARE(amazon->accessKeyField()->placeholderText(), u"AKIA..."_s);
        QVERIFY(!amazon->resultLine()->isVisible());

        // The policy: the five SES actions, nothing else, and its two buttons.
        const QJsonArray actions{"ses:SendEmail", "ses:SendRawEmail", "ses:GetAccount",
                                 "ses:CreateEmailIdentity", "ses:GetEmailIdentity"};
        QCOMPARE(QJsonDocument::fromJson(AmazonPage::policy().toUtf8()).object(),
                 (QJsonObject{{"Version", "2012-10-17"},
                              {"Statement", QJsonArray{QJsonObject{{"Effect", "Allow"},
                                                                   {"Action", actions},
                                                                   {"Resource", "*"}}}}}));
        const QString copyTitle = amazon->copyPolicyButton()->text();
        click(amazon->copyPolicyButton());
        QCOMPARE(QGuiApplication::clipboard()->text(), AmazonPage::policy());
        // It says so, then reads as before.
        QCOMPARE(amazon->copyPolicyButton()->text(), u"Copied"_s);
        QTRY_COMPARE(amazon->copyPolicyButton()->text(), copyTitle);
        m_urls.opened.clear();
        click(amazon->openIAMButton());
        QCOMPARE(m_urls.opened.size(), 1);
        QCOMPARE(m_urls.opened.first().host(), u"console.aws.amazon.com"_s);

        // Connect waits for both keys; the region writes through to the profile.
        QVERIFY(!amazon->connectButton()->isEnabled());
        type(amazon->accessKeyField(), u"  AKIAGUIDEKEY"_s);
        QVERIFY(!amazon->connectButton()->isEnabled());
        type(amazon->secretKeyField(), u"guide-secret\t"_s);
        pressKey(amazon->regionPicker(), Qt::Key_Down);
        QCOMPARE(f->model->library().profile.region, u"us-east-2"_s);
        click(amazon->connectButton());

        QTRY_COMPARE(shownText(amazon->resultLine()),
                     u"Connected, in sandbox mode. You can send tests now. Request "
                     "production access to email your list (we write the request for you)."_s);
        QVERIFY(amazon->resultLine()->ok());
        QCOMPARE(f->credentials->get(CredentialStore::Key::awsAccessKeyID),
                 std::optional(u"AKIAGUIDEKEY"_s));
        QCOMPARE(f->credentials->get(CredentialStore::Key::awsSecretAccessKey),
                 std::optional(u"guide-secret"_s));
        QVERIFY(amazon->accessKeyField()->text().isEmpty());
        QVERIFY(amazon->secretKeyField()->text().isEmpty());
        QCOMPARE(guide()->rail()->symbol(OnboardingStep::amazon), u"checkmark.circle.fill"_s);
        // With keys stored and nothing typed, Connect checks again without touching the keys.
        QVERIFY(amazon->connectButton()->isEnabled());

        // The domain page now offers the domain, the records and the SPF advice.
        click(guide()->primaryButton());
        click(guide()->primaryButton());
        DomainPage* domain = page<DomainPage>();
        QVERIFY(!domain->keysFirstLabel()->isVisible());
        QVERIFY(domain->domainField()->isVisible());
        QCOMPARE(domain->verifyButton()->text(), u"Get my records"_s);
        QVERIFY(!domain->verifyButton()->isEnabled());
        type(domain->domainField(), u"guide.example"_s);
        QVERIFY(domain->verifyButton()->isEnabled());
        QCOMPARE(f->model->library().profile.domain, u"guide.example"_s);
        QCOMPARE(domain->spfNote()->text(),
                 u"If you already have an SPF record, add include:amazonses.com to "
                 "it instead of creating a second one. DNS changes can take up to an hour."_s);
        QCOMPARE(domain->statusLine()->text(),
                 u"Waiting for the records to show up. Check again in a few minutes."_s);
        // Before an identity: SPF and DMARC only (no DKIM tokens yet), each with the dashed
        // circle.
        QCOMPARE(statusSymbols(domain->records()),
                 (QStringList{"SPF circle.dashed", "DMARC circle.dashed"}));
        click(domain->records()->rows().first()->copyButton());
        QCOMPARE(QGuiApplication::clipboard()->text(), u"v=spf1 include:amazonses.com ~all"_s);
        // The emulator knows no identities: the failure shows, nothing pretends to work.
        click(domain->verifyButton());
        QTRY_VERIFY(domain->errorLabel()->isVisible());
        QVERIFY(!f->model->identity());
        QCOMPARE(domain->verifyButton()->text(), u"Get my records"_s);
    }

    void senderPageWritesTheProfile() {
        f->open({u"-onboarding"_s, u"sender"_s});
        SenderDetailsForm* form = page<SenderPage>()->senderForm();
        QCOMPARE(form->postalAddressField()->placeholderText(),
                 u"Street, city, postcode, country"_s);
        QVERIFY(form->doubleOptInToggle()->isChecked());
        QCOMPARE(form->doubleOptInToggle()->text(), u"Ask new readers to confirm (recommended)"_s);
        type(form->publicationNameField(), u"The Guide Letter"_s);
        type(form->fromNameField(), u"Gil Guide"_s);
        // An address that is not one is refused with the model's own sentence.
        QLineEdit* from = form->fromEmailField();
        type(from, u"sam-at-nowhere"_s);
        const QString refusal = u"The From email address \"sam-at-nowhere\" is not valid."_s;
        QCOMPARE(shownText(form->fromError()), refusal);
        QVERIFY(!guide()->primaryButton()->isEnabled());
        QCOMPARE(guide()->primaryButton()->toolTip(), refusal);
        from->selectAll();
        type(from, u"gil@guide.example"_s);
        QVERIFY(!form->fromError()->isVisible());
        QVERIFY(guide()->primaryButton()->isEnabled());
        type(form->replyToField(), u"letters@guide.example"_s);
        QVERIFY(!f->model->isComplete(OnboardingStep::sender));
        type(form->postalAddressField(), u"1 Guide Way"_s);
        QTest::keyClick(form->postalAddressField(), Qt::Key_Return);
        type(form->postalAddressField(), u"Springfield"_s);
        // Return in the address is a new line, not Continue.
        QCOMPARE(guide()->currentStep(), OnboardingStep::sender);
        click(form->doubleOptInToggle());

        const SenderProfile& profile = f->model->library().profile;
        QCOMPARE(profile.publicationName, u"The Guide Letter"_s);
        QCOMPARE(profile.fromName, u"Gil Guide"_s);
        QCOMPARE(profile.fromEmail, u"gil@guide.example"_s);
        QCOMPARE(profile.replyTo, u"letters@guide.example"_s);
        QCOMPARE(profile.postalAddress, u"1 Guide Way\nSpringfield"_s);
        QVERIFY(!profile.doubleOptIn);
        QCOMPARE(guide()->rail()->symbol(OnboardingStep::sender), u"checkmark.circle.fill"_s);
        // Saved like every other edit.
        QTRY_VERIFY(QFile::exists(f->libraryPath()));
    }

    void signupPageDeploysTheWorker() {
        f->open({u"-onboarding"_s, u"signup"_s});
        SignupPage* signup = page<SignupPage>();
        WorkerDeployCard* card = signup->deployCard();
        m_urls.opened.clear();
        click(signup->openTokensButton());
        QCOMPARE(m_urls.opened.size(), 1);
        QCOMPARE(m_urls.opened.first().host(), u"dash.cloudflare.com"_s);

        QVERIFY(!card->connectButton()->isEnabled());
        QVERIFY(!card->accountPicker()->isVisible());
        QVERIFY(card->liveText().isEmpty());

        // A token Cloudflare does not know.
        connectWith(card, u"not-a-token"_s);
        QCOMPARE(card->error(), u"Cloudflare API error 401: Invalid API Token (1000)"_s);
        QVERIFY(!card->accountPicker()->isVisible());

        // A token that sees no account.
        connectWith(card, noAccountToken);
        QCOMPARE(card->error(), u"This token can't see any account. Add Account Settings: Read."_s);
        QVERIFY(!card->accountPicker()->isVisible());
        QVERIFY(!card->deployButton()->isVisible());

        // The right token: its account is chosen, and Deploy puts the worker live.
        connectWith(card, cloudflareToken);
        QCOMPARE(card->error(), QString());
        QVERIFY(card->accountPicker()->isVisible());
        QCOMPARE(card->accountPicker()->currentText(), u"Guide's account"_s);
        QCOMPARE(card->accountID(), accountID);
        click(card->deployButton());
        QVERIFY(f->model->isBusy());
        QVERIFY(!card->deployButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!f->model->isBusy(), 60000);
        QCOMPARE(card->liveText(), u"Live at https://postwick.guide-writer.workers.dev"_s);
        QCOMPARE(guide()->rail()->symbol(OnboardingStep::signup), u"checkmark.circle.fill"_s);
    }

    void readersPageImportsACSV() {
        f->open({u"-onboarding"_s, u"readers"_s});
        ReadersPage* readers = page<ReadersPage>();
        QVERIFY(!readers->countLine()->isVisible());

        f->writeFile(u"substack_export.csv"_s, "email,name,active_subscription\n"
                                               "ann@example.com,Ann,true\n"
                                               "bob@example.com,Bob,true\n"
                                               "not an address,,true\n");
        click(readers->dropArea()->chooseButton());
        QFileDialog* chooser = readers->fileChooser();
        QVERIFY(chooser && readers->isChooserOpen());
        // In the export's folder, the file name typed as a writer would, then Return.
        chooser->setDirectory(f->dir.path());
        auto* name = chooser->findChild<QLineEdit*>(u"fileNameEdit"_s);
        QVERIFY(name);
        QTRY_VERIFY(name->isVisible());
        type(name, u"substack_export.csv"_s);
        QTest::keyClick(name, Qt::Key_Return);
        QTRY_VERIFY(!readers->isChooserOpen());
        // The file is read off the interface thread: slower than the chooser on a busy machine.
        QTRY_COMPARE(f->model->library().subscribers.size(), 2);
        QCOMPARE(shownText(readers->countLine()),
                 u"2 active readers ready, 0 waiting to confirm."_s);

        // A file dropped on the area goes the same way; a document of another kind does not.
        const QString dropped =
            f->writeFile(u"more.csv"_s, "Email\ncy@example.com\nann@example.com\n");
        CSVDropArea* area = readers->dropArea();
        const QPoint middle = area->rect().center();
        QVERIFY(!dragFile(area, f->dir.filePath(u"photo.png"_s), middle));
        QVERIFY(dragFile(area, dropped, middle, false));
        QVERIFY(area->isHighlighted());
        QVERIFY(dragFile(area, dropped, middle));
        QVERIFY(!area->isHighlighted());
        QTRY_COMPARE(f->model->library().subscribers.size(), 3);
        QCOMPARE(readers->countLine()->text(), u"3 active readers ready, 0 waiting to confirm."_s);
        QCOMPARE(guide()->rail()->symbol(OnboardingStep::readers), u"checkmark.circle.fill"_s);
    }

    void summaryKeysFirstAndSampleData() {
        f->open({u"-onboarding"_s, u"done"_s});
        DonePage* done = page<DonePage>();
        QCOMPARE(done->line(OnboardingStep::amazon)->text(), u"Connect Amazon: not done yet"_s);
        QCOMPARE(done->line(OnboardingStep::readers)->symbol(), u"exclamationmark.circle.fill"_s);
        QVERIFY(done->productionBox()->isVisible());
        QCOMPARE(guide()->rail()->symbol(OnboardingStep::done), u"circle.inset.filled"_s);

        // Without keys the domain page asks for them first.
        click(guide()->rail()->row(OnboardingStep::domain));
        DomainPage* domain = page<DomainPage>();
        QVERIFY(domain->isVisible());
        QCOMPARE(shownText(domain->keysFirstLabel()), u"Connect your Amazon account first."_s);
        QVERIFY(!domain->domainField()->isVisible());
        QVERIFY(!domain->verifyButton()->isVisible());

        // The welcome page's sample data opens the workspace in demo mode.
        click(guide()->rail()->row(OnboardingStep::welcome));
        click(page<WelcomePage>()->demoButton());
        QVERIFY(f->model->isDemo());
        QVERIFY(f->model->onboardingDone());
        QVERIFY(f->window->findChild<QWidget*>(u"workspace"_s)->isVisible());
        QVERIFY(!f->model->library().subscribers.isEmpty());
    }

    // Everything done, with an account in production: five ticks and no reminder. SES is
    // scripted here: the emulator has no domain identities to report as verified.
    void summaryWithEverythingDone() {
        auto scripted = std::make_shared<ScriptedTransport>();
        scripted->enqueue(200, QJsonDocument(sesAccount(true, 1, 200, 0)).toJson());
        scripted->enqueue(200, sesIdentity(true, u"SUCCESS"_s, {"tok1", "tok2"}));
        f->transport = scripted;
        f->storeAWSKeys();
        f->writeLibrary({.profile = {.fromName = u"Dee Done"_s,
                                     .fromEmail = u"dee@done.example"_s,
                                     .postalAddress = u"1 Done Rd"_s,
                                     .domain = u"done.example"_s,
                                     .workerBaseURL = u"https://postwick.done.workers.dev"_s},
                         .subscribers = {reader(SubscriberStatus::active)}});

        f->open({u"-onboarding"_s, u"done"_s});
        QTRY_VERIFY(f->model->identity().has_value());
        DonePage* done = page<DonePage>();
        for (OnboardingStep step : workingSteps) {
            QVERIFY(done->line(step)->ok());
            QCOMPARE(done->line(step)->text(), title(step));
        }
        QVERIFY(!done->productionBox()->isVisible());
        QCOMPARE(guide()->rail()->symbol(OnboardingStep::done), u"checkmark.circle.fill"_s);

        // The domain page agrees: verified.
        click(guide()->rail()->row(OnboardingStep::domain));
        DomainPage* domain = page<DomainPage>();
        QCOMPARE(domain->statusLine()->text(),
                 u"Verified. Amazon will sign your emails for done.example."_s);
        QCOMPARE(domain->verifyButton()->text(), u"Check again"_s);
    }
};

QUILLMERE_UI_TEST_MAIN(TestOnboarding)
#include "tst_onboarding.moc"
