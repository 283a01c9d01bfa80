#pragma once

#include "app/app_section.h"
#include "app/onboarding_step.h"
#include "core/credential_store.h"
#include "core/library.h"
#include "core/library_store.h"
#include "ses/ses_account.h"
#include "ses/ses_identity.h"

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace quillmere {

// The one observable model every screen reads and edits. It owns the Library for the life of
// the process, saves it 0.4 s after the last change, holds the interface state several screens
// share and runs every workflow. Everything happens on the interface thread.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDemo READ isDemo NOTIFY isDemoChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool onboardingDone READ onboardingDone WRITE setOnboardingDone NOTIFY
                   onboardingDoneChanged)
    Q_PROPERTY(bool showSendOnLaunch READ showSendOnLaunch WRITE setShowSendOnLaunch NOTIFY
                   showSendOnLaunchChanged)

public:
    // Everything that varies is handed in, so tests run the model against temporary files,
    // in-memory secrets and scripted networks. Empty members take the production defaults.
    struct Dependencies {
        std::shared_ptr<LibraryStore> store;          // default location
        std::shared_ptr<CredentialStore> credentials; // system keychain
        std::shared_ptr<QSettings> settings;          // the user defaults of the application
        std::optional<QStringList> arguments;         // the process's launch arguments
        std::function<QDateTime()> now;               // wall clock in UTC
    };

    explicit AppModel(Dependencies dependencies = {}, QObject* parent = nullptr);
    ~AppModel() override;

    // Start-up: load the library (or the sample one with -demo) and apply launch arguments.
    QCoro::Task<void> start();

    // The document.
    const Library& library() const { return m_library; }
    void setProfile(const SenderProfile& profile);

    // Interface state.
    std::optional<AppSection> selection() const { return m_selection; }
    void setSelection(std::optional<AppSection> section);
    std::optional<QUuid> selectedNewsletterID() const { return m_selectedNewsletterID; }
    void setSelectedNewsletterID(std::optional<QUuid> id);
    std::optional<Newsletter> selectedNewsletter() const;
    bool isDemo() const { return m_isDemo; }
    bool isBusy() const { return m_isBusy; }
    bool onboardingDone() const { return m_onboardingDone; }
    void setOnboardingDone(bool done);
    std::optional<OnboardingStep> onboardingStartStep() const { return m_onboardingStartStep; }
    void setOnboardingStartStep(std::optional<OnboardingStep> step);
    bool showSendOnLaunch() const { return m_showSendOnLaunch; }
    void setShowSendOnLaunch(bool show);
    const std::optional<SESAccount>& account() const { return m_account; }
    const std::optional<SESIdentity>& identity() const { return m_identity; }
    const std::optional<QString>& sesError() const { return m_sesError; }
    const std::optional<QString>& statusMessage() const { return m_statusMessage; }
    void setStatusMessage(std::optional<QString> message);
    void showStatus(const QString& message) { setStatusMessage(message); }

    // Onboarding.
    void finishOnboarding();
    bool isComplete(OnboardingStep step) const;
    QList<OnboardingStep> completedSteps() const;
    OnboardingStep firstIncompleteStep() const;

    // Issues.
    void newIssue();
    void updateIssue(const Newsletter& issue);
    void deleteIssue(const QUuid& id);

    // Subscribers.
    void addSubscriber(const QString& email, const QString& name);
    void setStatus(SubscriberStatus status, const QSet<QUuid>& ids);
    void deleteSubscribers(const QSet<QUuid>& ids);
    qsizetype count(SubscriberStatus status) const;

    // Demo mode: the sample library with a simulated SES account; nothing saved or sent.
    void enterDemo();
    QCoro::Task<void> leaveDemo();

    // Saving: every change schedules one write 0.4 s after the last change.
    void scheduleSave();
    bool hasPendingSave() const { return m_saveTimer.isActive(); }
    // Writes whatever is not on disk yet, now, and waits for a save already running: for the
    // last moments of the process (quit, logout, SIGTERM), when a debounced save would be lost.
    void flushPendingSave();

    // The one-line text shown for a failed workflow step.
    static QString errorText(const std::exception& error);
    static QString errorText(std::exception_ptr error);

    // Whether both AWS keys are stored (as last read from the credential store).
    bool hasAWSKeys() const { return m_hasAWSKeys; }

    QDateTime now() const { return m_now(); }
    LibraryStore& store() const { return *m_store; }
    CredentialStore& credentials() const { return *m_credentials; }

Q_SIGNALS:
    void libraryChanged();
    void profileChanged();
    void subscribersChanged();
    void newslettersChanged();
    void selectionChanged();
    void selectedNewsletterIDChanged();
    void isDemoChanged();
    void isBusyChanged();
    void onboardingDoneChanged();
    void onboardingStartStepChanged();
    void showSendOnLaunchChanged();
    void accountChanged();
    void identityChanged();
    void sesErrorChanged();
    void statusMessageChanged();

private:
    // Which parts of the library a change touched; drives the change signals.
    enum Part { profilePart = 1, subscribersPart = 2, newslettersPart = 4, syncPart = 8 };
    void libraryEdited(int parts, bool save = true);
    void replaceLibrary(Library library);
    void setAccount(std::optional<SESAccount> account);
    void setIdentity(std::optional<SESIdentity> identity);
    void setSESError(std::optional<QString> error);
    void setBusy(bool busy);
    void selectFirstIssue();
    void refreshKeyPresence();
    void saveNowInBackground();
    QCoro::Task<void> runSave(Library library);
    void applyLaunchArguments(const QStringList& arguments);

    std::shared_ptr<LibraryStore> m_store;
    std::shared_ptr<CredentialStore> m_credentials;
    std::shared_ptr<QSettings> m_settings;
    QStringList m_arguments;
    std::function<QDateTime()> m_now;

    Library m_library;
    std::optional<AppSection> m_selection = AppSection::newsletters;
    std::optional<QUuid> m_selectedNewsletterID;
    bool m_isDemo = false;
    bool m_isBusy = false;
    bool m_onboardingDone = false;
    std::optional<OnboardingStep> m_onboardingStartStep;
    bool m_showSendOnLaunch = false;
    std::optional<SESAccount> m_account;
    std::optional<SESIdentity> m_identity;
    std::optional<QString> m_sesError;
    std::optional<QString> m_statusMessage;
    bool m_hasAWSKeys = false;
    bool m_unsaved = false;          // changes not yet handed to the store
    bool m_saveFailureShown = false; // a failed save was reported and no save has worked since

    QTimer m_saveTimer;
};

} // namespace quillmere
