// The setup screens of the workspace driven through their real widgets: Amazon SES against the
// SES emulator (and a scripted SES for domain identities, which the emulator lacks), the DNS
// indicators against a name server on loopback, Production Access, the Signup Worker screen
// against the fake Cloudflare API with Miniflare, and the settings window.
#include "app/production_access.h"
#include "core/keychain_error.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"
#include "ui/issues/newsletter_editor.h"
#include "ui/issues/newsletters_view.h"
#include "ui/onboarding/onboarding_view.h"
#include "ui/onboarding/setup_step.h"
#include "ui/setup/dns_record_list.h"
#include "ui/setup/dns_record_row.h"
#include "ui/setup/postal_address_field.h"
#include "ui/setup/production_access_view.h"
#include "ui/setup/region_picker.h"
#include "ui/setup/sender_details_form.h"
#include "ui/setup/ses_error_label.h"
#include "ui/setup/ses_setup_view.h"
#include "ui/setup/settings_window.h"
#include "ui/setup/worker_setup_view.h"
#include "ui/subscribers/subscribers_view.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/toast.h"
#include "ui_fixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTabWidget>

using namespace quillmere;
using namespace quillmere::test;

namespace {

const QString cloudflareToken = QStringLiteral("cf-screen-token");
const QString accountID = QStringLiteral("0f1e2d3c4b5a69788796a5b4c3d2e1f0");
const QString disabledToken = QStringLiteral("cf-disabled-token");
const QString noAccountToken = QStringLiteral("cf-no-account-token");

QJsonObject account(bool production) {
    return sesAccount(production, 14, 50000, 1234);
}

void retype(QLineEdit* field, const QString& text) {
    field->clear();
    type(field, text);
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
        auto* screen = f->screen<Screen>(section);
        if (screen && !QTest::qWaitForWindowExposed(screen)) {
            qWarning("the screen was not exposed");
        }
        return screen;
    }

    QString dnsRecordsFile() const { return m_scratch.filePath(QStringLiteral("dns.json")); }

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
        scripted->enqueue(200, sesIdentity(false, QStringLiteral("PENDING")));
        f->transport = scripted;
        f->storeAWSKeys();
        Library library;
        library.profile.domain = domain;
        library.profile.replyTo = QStringLiteral("letters@") + domain;
        f->writeLibrary(library);
        auto* screen = open<SESSetupView>(AppSection::setup);
        if (!QTest::qWaitFor([this] { return f->model->identity().has_value(); }, 10000)) {
            qWarning("no identity read");
        }
        return screen;
    }

    // Connects with a token on a worker screen and waits for the answer.
    template <class Screen>
    void connectWith(Screen* screen, const QString& token) {
        retype(screen->tokenField(), token);
        click(screen->connectButton());
        QTRY_VERIFY(!screen->isConnecting());
    }

private Q_SLOTS:
    void initTestCase() {
        m_ses = startSES(account(true));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        m_cloudflare =
            startCloudflare(cloudflareToken, accountID, QStringLiteral("Screens account"),
                            QStringLiteral("screens-writer"),
                            {{disabledToken, QJsonObject{{"status", "disabled"}}},
                             {noAccountToken, QJsonObject{{"accounts", QJsonArray()}}}});

        // A name server of our own; every lookup of these tests goes to it.
        publish({});
        m_dns = std::make_unique<NodePeer>(QStringLiteral("dns_server.mjs"),
                                           QStringList{dnsRecordsFile()});
        const QString address = m_dns->value(QStringLiteral("address"));
        m_dnsError = m_dns->value(QStringLiteral("error"));
        qputenv("QUILLMERE_DNS_SERVER", address.isEmpty() ? "127.0.0.1" : address.toUtf8());
    }

    void cleanupTestCase() {
        m_dns.reset();
        m_cloudflare.reset();
        m_ses.reset();
    }

    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    void sesKeysAccountAndDomain() {
        auto* screen = open<SESSetupView>(AppSection::setup);
        QVERIFY(screen && screen->isVisible());
        QStringList regions;
        for (int i = 0; i < screen->regionPicker()->count(); ++i) {
            regions.append(screen->regionPicker()->itemText(i));
        }
        QCOMPARE(regions, QStringLiteral("us-east-1 us-east-2 us-west-1 us-west-2 ca-central-1 "
                                         "eu-west-1 eu-west-2 eu-west-3 eu-central-1 eu-north-1 "
                                         "eu-south-1 ap-south-1 ap-southeast-1 ap-southeast-2 "
                                         "ap-northeast-1 ap-northeast-2 ap-northeast-3 sa-east-1 "
                                         "me-south-1 af-south-1")
                              .split(u' '));
        QCOMPARE(screen->regionPicker()->currentText(), QStringLiteral("us-east-1"));
        QCOMPARE(screen->accessKeyField()->placeholderText(), QStringLiteral("AKIA..."));
        QVERIFY(!screen->keysSavedLabel()->isVisible());
        QCOMPARE(screen->modeValue()->text(), QStringLiteral("—"));
        QVERIFY(screen->sandboxNote()->isVisible());

        // Save Keys needs both keys.
        QVERIFY(!screen->saveKeysButton()->isEnabled());
        type(screen->accessKeyField(), QStringLiteral(" AKIASAVED "));
        QVERIFY(!screen->saveKeysButton()->isEnabled());
        QCOMPARE(screen->saveKeysButton()->toolTip(), QStringLiteral("Type both keys first."));
        type(screen->secretKeyField(), QStringLiteral("saved-secret"));
        QVERIFY(screen->saveKeysButton()->isEnabled());
        QVERIFY(screen->saveKeysButton()->toolTip().isEmpty());
        screen->accessKeyField()->clear();
        QVERIFY(!screen->saveKeysButton()->isEnabled());
        type(screen->accessKeyField(), QStringLiteral(" AKIASAVED "));
        // A keychain that cannot take them: the fields keep what was typed, the error says why.
        f->credentials->setAvailable(false);
        click(screen->saveKeysButton());
        QCOMPARE(screen->accessKeyField()->text(), QStringLiteral(" AKIASAVED "));
        QCOMPARE(screen->secretKeyField()->text(), QStringLiteral("saved-secret"));
        QCOMPARE(screen->errorLabel()->text(), KeychainError::unavailableText);
        f->credentials->setAvailable(true);
        click(screen->saveKeysButton());
        QCOMPARE(f->credentials->get(CredentialStore::Key::awsAccessKeyID),
                 std::optional(QStringLiteral("AKIASAVED")));
        QVERIFY(screen->accessKeyField()->text().isEmpty());
        QVERIFY(screen->secretKeyField()->text().isEmpty());
        QVERIFY(screen->keysSavedLabel()->isVisible());
        QCOMPARE(screen->keysSavedLabel()->text(), QStringLiteral("Saved in your system keychain"));
        QVERIFY(screen->accessKeyField()->placeholderText().isEmpty());

        // The account from the emulator: production, so no sandbox note.
        QTRY_COMPARE(screen->modeValue()->text(), QStringLiteral("Production"));
        QCOMPARE(screen->quotaValue()->text(), QStringLiteral("1234 of 50000 used"));
        QCOMPARE(screen->rateValue()->text(), QStringLiteral("14 emails per second"));
        QCOMPARE(screen->enforcementValue()->text(), QStringLiteral("HEALTHY"));
        QVERIFY(!screen->sandboxNote()->isVisible());
        QTRY_VERIFY(screen->checkAccountButton()->isEnabled());
        click(screen->checkAccountButton());
        QVERIFY(!screen->checkAccountButton()->isEnabled()); // busy while it asks
        QTRY_VERIFY(screen->checkAccountButton()->isEnabled());

        // No identity yet: dashed circles and "Verify Domain"; the emulator has no identities,
        // so verifying shows SES's error in red.
        QVERIFY(screen->records()->rows().isEmpty());
        type(screen->domainField(), QStringLiteral("screens.example"));
        type(screen->senderForm()->replyToField(), QStringLiteral("letters@screens.example"));
        QCOMPARE(statusSymbols(screen->records()),
                 (QStringList{"SPF circle.dashed", "DMARC circle.dashed"}));
        QCOMPARE(screen->verifiedValue()->text(), QStringLiteral("Not yet"));
        QCOMPARE(screen->verifyButton()->text(), QStringLiteral("Verify Domain"));
        QVERIFY(!screen->errorLabel()->isVisible());
        click(screen->verifyButton());
        QTRY_VERIFY(screen->errorLabel()->isVisible());
        QVERIFY(screen->errorLabel()->text().startsWith(QStringLiteral("SES ")));
        QCOMPARE(screen->verifyButton()->text(), QStringLiteral("Verify Domain"));

        // The domain and the sender fields write through to the profile.
        QCOMPARE(f->model->library().profile.replyTo, QStringLiteral("letters@screens.example"));
        QCOMPARE(f->model->library().profile.domain, QStringLiteral("screens.example"));

        // Key fields start empty on every visit.
        type(screen->accessKeyField(), QStringLiteral("half typed"));
        f->model->setSelection(AppSection::stats);
        f->model->setSelection(AppSection::setup);
        QVERIFY(screen->accessKeyField()->text().isEmpty());
    }

    // In demo mode every control that would reach Amazon, Cloudflare, the worker or the keychain
    // is off, and says why.
    void demoControlsAreOffAndSayWhy() {
        auto* ses = open<SESSetupView>(AppSection::setup, {QStringLiteral("-demo")});
        type(ses->accessKeyField(), QStringLiteral("AKIADEMO"));
        type(ses->secretKeyField(), QStringLiteral("demo-secret"));
        QList<QObject*> controls{ses->saveKeysButton(), ses->checkAccountButton(),
                                 ses->verifyButton()};
        f->model->setSelection(AppSection::worker);
        auto* worker = f->screen<WorkerSetupView>(AppSection::worker);
        type(worker->tokenField(), QStringLiteral("cf-token"));
        controls << worker->connectButton() << worker->deployButton();
        f->model->setSelection(AppSection::subscribers);
        controls << f->screen<SubscribersView>(AppSection::subscribers)->syncAction();
        f->model->setSelection(AppSection::newsletters);
        auto* editor = f->screen<NewslettersView>(AppSection::newsletters)->editor();
        type(editor->testAddressField(), QStringLiteral("me@example.com"));
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
        auto* screen = openPendingDomain(QStringLiteral("pending.example"), scripted);
        QVERIFY(f->model->identity().has_value());
        QCOMPARE(screen->modeValue()->text(), QStringLiteral("Sandbox"));
        QVERIFY(screen->sandboxNote()->isVisible());
        QVERIFY(screen->keysSavedLabel()->isVisible());
        QCOMPARE(screen->verifiedValue()->text(), QStringLiteral("Not yet"));
        QCOMPARE(screen->dkimValue()->text(), QStringLiteral("PENDING"));
        QCOMPARE(screen->verifyButton()->text(), QStringLiteral("Refresh Status"));
        QCOMPARE(statusSymbols(screen->records()),
                 (QStringList{"DKIM clock", "DKIM clock", "DKIM clock", "SPF circle.dashed",
                              "DMARC circle.dashed"}));
        const DNSRecordRow* dkim = screen->records()->rows().first();
        QCOMPARE(dkim->record().name, QStringLiteral("aaaatoken._domainkey.pending.example"));
        click(dkim->copyButton());
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("aaaatoken.dkim.amazonses.com"));

        // Refresh Status: SES now reports success (the identity exists, so creating it fails and
        // it is read instead).
        scripted->enqueue(
            409, R"({"message":"Identity already exists"})",
            {{QStringLiteral("x-amzn-ErrorType"), QStringLiteral("AlreadyExistsException")}});
        scripted->enqueue(200, sesIdentity(true, QStringLiteral("SUCCESS")));
        click(screen->verifyButton());
        QTRY_COMPARE(screen->dkimValue()->text(), QStringLiteral("SUCCESS"));
        QCOMPARE(screen->verifiedValue()->text(), QStringLiteral("Yes"));
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
            QSKIP(qPrintable(QStringLiteral("no name server on port 53: ") + m_dnsError));
        }
        publish({{"indicators.example",
                  QJsonArray{"google-site-verification=abc",
                             "v=spf1 include:_spf.example.net include:amazonses.com ~all"}}});
        auto scripted = std::make_shared<ScriptedTransport>();
        auto* screen = openPendingDomain(QStringLiteral("indicators.example"), scripted);
        QVERIFY(f->model->identity().has_value());

        const auto published = [screen](const QString& purpose) {
            for (const DNSRecordRow* row : screen->records()->rows()) {
                if (row->record().purpose == purpose) {
                    return row->publishedText();
                }
            }
            return QStringLiteral("(no row)");
        };
        QTRY_COMPARE_WITH_TIMEOUT(published(QStringLiteral("SPF")), QStringLiteral("Found in DNS"),
                                  10000);
        QTRY_COMPARE_WITH_TIMEOUT(published(QStringLiteral("DMARC")),
                                  QStringLiteral("Not found yet"), 10000);
        QCOMPARE(published(QStringLiteral("DKIM")), QString());
        QCOMPARE(statusSymbols(screen->records()).last(), QStringLiteral("DMARC circle.dashed"));

        publish({{"indicators.example", QJsonArray{"v=spf1 -all"}},
                 {"_dmarc.indicators.example", QJsonArray{"v=DMARC1; p=none"}}});
        scripted->enqueue(
            409, R"({"message":"exists"})",
            {{QStringLiteral("x-amzn-ErrorType"), QStringLiteral("AlreadyExistsException")}});
        scripted->enqueue(200, sesIdentity(false, QStringLiteral("PENDING")));
        click(screen->verifyButton());
        QTRY_COMPARE_WITH_TIMEOUT(published(QStringLiteral("DMARC")),
                                  QStringLiteral("Found in DNS"), 10000);
        // An SPF policy without the SES include is not the record asked for.
        QTRY_COMPARE_WITH_TIMEOUT(published(QStringLiteral("SPF")), QStringLiteral("Not found yet"),
                                  10000);
        QCOMPARE(statusSymbols(screen->records()).last(), QStringLiteral("DMARC circle.dashed"));
    }

    void productionAccessRequestFollowsTyping() {
        Library library;
        library.profile.publicationName = QStringLiteral("Screen Notes");
        library.profile.domain = QStringLiteral("notes.example");
        f->writeLibrary(library);
        auto* screen = open<ProductionAccessView>(AppSection::production);
        QVERIFY(screen);
        const auto expected = [&] {
            return ProductionAccess::requestText(
                f->model->library().profile, screen->websiteField()->text(),
                screen->listSourceField()->toPlainText(), screen->volumeField()->text());
        };
        QCOMPARE(screen->listSourceField()->toPlainText(), ProductionAccess::defaultListSource);
        QCOMPARE(screen->volumeField()->text(), ProductionAccess::defaultVolume);
        QVERIFY(screen->requestLabel()->text().startsWith(
            QStringLiteral("I publish Screen Notes, an editorial newsletter at "
                           "https://notes.example. ")));
        QCOMPARE(screen->requestLabel()->text(), expected());

        type(screen->websiteField(), QStringLiteral("https://notes.example/join/"));
        QVERIFY(screen->requestLabel()->text().endsWith(
            QStringLiteral("available at https://notes.example/join//archive.")));
        screen->volumeField()->selectAll();
        type(screen->volumeField(), QStringLiteral("about 400 emails per month"));
        screen->listSourceField()->selectAll();
        type(screen->listSourceField(), QStringLiteral("readers of my blog"));
        QCOMPARE(screen->requestLabel()->text(), expected());
        QVERIFY(screen->requestLabel()->text().contains(
            QStringLiteral("the list is made only of readers of my blog. Every new signup")));

        // The two panes side by side, each at least 380 wide.
        auto* pane = screen->findChild<QScrollArea*>(QStringLiteral("requestPane"));
        QVERIFY(pane->width() >= 380);
        QVERIFY(pane->x() >= 380);

        click(screen->copyButton());
        QCOMPARE(QGuiApplication::clipboard()->text(), expected());
        QCOMPARE(f->window->toast()->message(),
                 QStringLiteral("Request copied. Paste it into the SES console."));
    }

    void workerScreenConnectsAndDeploys() {
        auto* screen = open<WorkerSetupView>(AppSection::worker);
        QVERIFY(screen);
        QVERIFY(!screen->connectButton()->isEnabled());
        QVERIFY(!screen->accountPicker()->isVisible());
        QVERIFY(!screen->workerURLValue()->isVisible());
        QVERIFY(!screen->deployButton()->isEnabled());
        QVERIFY(screen->findChild<QLabel*>(QStringLiteral("bounceRouting"))
                    ->text()
                    .startsWith(QStringLiteral("In the SNS console create a topic")));

        // A token Cloudflare reports as not active.
        connectWith(screen, disabledToken);
        QCOMPARE(screen->errorLabel()->text(), QStringLiteral("Cloudflare rejected this token."));
        QVERIFY(screen->errorLabel()->isVisible());
        QVERIFY(screen->accounts().isEmpty());

        // A token that sees no account: no picker, nothing to deploy into.
        connectWith(screen, noAccountToken);
        QVERIFY(!screen->error());
        QVERIFY(!screen->accountPicker()->isVisible());
        QVERIFY(!screen->deployButton()->isEnabled());

        // The right token: the first account is chosen and Deploy Worker is ready.
        connectWith(screen, cloudflareToken);
        QVERIFY(screen->accountPicker()->isVisible());
        QCOMPARE(screen->accountPicker()->currentText(), QStringLiteral("Screens account"));
        QCOMPARE(screen->accounts(),
                 (QList<CloudflareAccountChoice>{{accountID, QStringLiteral("Screens account")}}));
        QVERIFY(screen->deployButton()->isEnabled());

        // Rejected again: the list found before stays.
        connectWith(screen, disabledToken);
        QCOMPARE(screen->errorLabel()->text(), QStringLiteral("Cloudflare rejected this token."));
        QCOMPARE(screen->accounts().size(), 1);
        QVERIFY(screen->accountPicker()->isVisible());

        retype(screen->tokenField(), cloudflareToken);
        click(screen->deployButton());
        QVERIFY(!screen->deployButton()->isEnabled()); // busy
        QTRY_VERIFY_WITH_TIMEOUT(!f->model->isBusy(), 60000);
        const QString url = QStringLiteral("https://postwick.screens-writer.workers.dev");
        QCOMPARE(*f->model->statusMessage(), QStringLiteral("Worker live at ") + url);
        QVERIFY(screen->workerURLValue()->isVisible());
        QCOMPARE(screen->workerURLValue()->text(), url);
        QCOMPARE(screen->signupFormValue()->text(), url + QStringLiteral("/"));
        QCOMPARE(screen->snsEndpointValue()->text(), url + QStringLiteral("/sns"));
        QVERIFY(screen->deployButton()->isEnabled());

        // A stored URL ending in "/" is shown as it will be used.
        SenderProfile profile = f->model->library().profile;
        profile.workerBaseURL = QStringLiteral("https://signup.example/");
        f->model->setProfile(profile);
        QCOMPARE(screen->signupFormValue()->text(), QStringLiteral("https://signup.example//"));
        QCOMPARE(screen->snsEndpointValue()->text(), QStringLiteral("https://signup.example//sns"));
    }

    // A worker deployed before the AWS account was known, whose last confirmation mail failed:
    // the screen says both when it opens.
    void workerScreenShowsWhatTheWorkerReports() {
        const QJsonObject bindings{{"API_TOKEN", "screen-api"},
                                   {"SIGNING_SECRET", "screen-secret"},
                                   {"FROM_EMAIL", "ann@screens.example"},
                                   {"AWS_REGION", "eu-west-1"},
                                   {"AWS_ACCESS_KEY_ID", "AKIDSCREEN"},
                                   {"AWS_SECRET_ACCESS_KEY", "screen-key"},
                                   {"DOUBLE_OPT_IN", "true"}};
        NodePeer worker(
            QStringLiteral("worker_server.mjs"),
            {QString::fromUtf8(QJsonDocument(bindings).toJson(QJsonDocument::Compact))});
        const QString url = worker.value(QStringLiteral("url"));
        const HTTPRequest signup{
            QStringLiteral("POST"),
            QUrl(url + QStringLiteral("/")),
            {{QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded")}},
            "email=reader%40screens.example"};
        QCOMPARE(test::runTask(NetworkTransport().send(signup)).status, 200);
        Library library;
        library.profile.workerBaseURL = url;
        f->writeLibrary(library);
        f->credentials->set(QStringLiteral("screen-api"), CredentialStore::Key::workerAPIToken);
        // The mail fails after the answer; the screen asks each time it opens.
        const WorkerClient client(QUrl(url), QStringLiteral("screen-api"),
                                  std::make_shared<NetworkTransport>());
        QTRY_VERIFY_WITH_TIMEOUT(test::runTask(client.healthReport()).mailFailure, 10000);
        auto* screen = open<WorkerSetupView>(AppSection::worker);
        QTRY_VERIFY_WITH_TIMEOUT(screen->healthLabel()->isVisible(), 10000);
        const QString text = screen->healthLabel()->text();
        QVERIFY2(text.startsWith(QStringLiteral("Bounce routing needs your Amazon account "
                                                "connected")),
                 qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Confirmation mail failed (")) &&
                     text.contains(QStringLiteral("SES answered 502")),
                 qPrintable(text));
    }

    void settingsEditTheProfileAndReopenTheGuide() {
        Library library;
        library.profile.fromName = QStringLiteral("Set Tings");
        library.profile.fromEmail = QStringLiteral("set@tings.example");
        library.profile.postalAddress = QStringLiteral("3 Settings Sq");
        f->writeLibrary(library);
        f->onboarded();
        MainWindow& window = f->open();
        QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
        QTRY_VERIFY(window.settingsWindow() && window.settingsWindow()->isVisible());
        SettingsWindow* settings = window.settingsWindow();
        QCOMPARE(settings->tabs()->count(), 2);
        QCOMPARE(settings->tabs()->tabText(0), QStringLiteral("General"));
        QCOMPARE(settings->tabs()->tabText(1), QStringLiteral("Setup"));
        QVERIFY(!settings->tabs()->tabIcon(0).isNull());
        QCOMPARE(settings->senderForm()->fromEmailField()->text(),
                 QStringLiteral("set@tings.example"));
        QCOMPARE(settings->senderForm()->doubleOptInToggle()->text(),
                 QStringLiteral("Ask new readers to confirm (double opt-in)"));

        settings->tabs()->setCurrentIndex(1);
        QCOMPARE(settings->stepRow(OnboardingStep::sender)->title(),
                 QStringLiteral("Who it's from"));
        QVERIFY(settings->stepRow(OnboardingStep::sender)->isDone());
        QCOMPARE(settings->stepRow(OnboardingStep::domain)->badgeText(), QStringLiteral("4"));
        QCOMPARE(settings->findChild<QLabel*>(QStringLiteral("setupCaption"))->text(),
                 QStringLiteral("Reopens the guided setup at that step."));

        // The From address edited here is the sender of the next send, and the guide's sender
        // step follows it.
        settings->tabs()->setCurrentIndex(0);
        settings->senderForm()->fromEmailField()->selectAll();
        type(settings->senderForm()->fromEmailField(), QStringLiteral("news@tings.example"));
        QCOMPARE(f->model->library().profile.fromEmail, QStringLiteral("news@tings.example"));
        settings->senderForm()->fromEmailField()->selectAll();
        QTest::keyClick(settings->senderForm()->fromEmailField(), Qt::Key_Backspace);
        QVERIFY(f->model->library().profile.fromEmail.isEmpty());
        QVERIFY(!f->model->isComplete(OnboardingStep::sender));
        QVERIFY(!settings->stepRow(OnboardingStep::sender)->isDone());
        QCOMPARE(settings->stepRow(OnboardingStep::sender)->badgeText(), QStringLiteral("3"));
        type(settings->senderForm()->fromEmailField(), QStringLiteral("news@tings.example"));
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
};

QUILLMERE_UI_TEST_MAIN(TestSetupScreens)
#include "tst_setup_screens.moc"
