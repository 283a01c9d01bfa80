#pragma once

#include "app/app_section.h"
#include "app/onboarding_step.h"
#include "app/send_session.h"
#include "core/aws_credentials.h"
#include "core/credential_store.h"
#include "core/library.h"
#include "core/library_store.h"
#include "render/render_context.h"
#include "render/rendered_email.h"
#include "ses/bulk_sender.h"
#include "ses/compliance_issue.h"
#include "ses/dns_record.h"
#include "ses/http_transport.h"
#include "ses/ses_account.h"
#include "ses/ses_identity.h"
#include "worker/worker_client.h"

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>
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
        std::shared_ptr<HTTPTransport> transport;     // every network call; NetworkTransport
        BulkSender::Sleep sleep;                      // the bulk sender's pacing
        BulkSender::Clock clock;
        std::chrono::milliseconds demoDeliveryDelay{40};
        // During a list send: how often the worker's changes are pulled (bounces, complaints,
        // unsubscribes reach the bounce guard) and how far behind the delivered set may be on
        // disk.
        std::chrono::milliseconds workerPullInterval{60000};
        std::chrono::milliseconds deliverySaveInterval{2000};
    };

    AppModel();
    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
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
    bool isBusy() const { return m_busyCount > 0; }
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
    // A new draft with the subject, preview text, template and text of an issue, selected.
    void duplicateIssue(const QUuid& id);
    // Undo of a delete or remove: each comes back at the position it held, unless one with the
    // same identifier (or, for readers, address) has arrived meanwhile.
    void restoreIssue(const Newsletter& issue, qsizetype position);
    void restoreSubscribers(const QList<std::pair<qsizetype, Subscriber>>& removed);

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
    // The transport every network call goes through; screens that talk to a service before a
    // workflow exists for it (the Cloudflare token check) use the same one.
    std::shared_ptr<HTTPTransport> transport() const { return m_transport; }

    // MARK: setup workflows (app_model_setup.cpp)
    std::optional<AWSCredentials> loadCredentials() const;
    void saveAWSKeys(const QString& accessKey, const QString& secretKey);
    QCoro::Task<void> refreshSES();
    QCoro::Task<void> refreshIdentity();
    QCoro::Task<void> verifyDomain();
    QList<DNSRecord> dnsRecords() const;
    QCoro::Task<void> deployWorker(QString cloudflareToken, QString accountID);
    QCoro::Task<void> syncSubscribers();
    void importCSV(const QString& path);

    // MARK: send workflow (app_model_send.cpp)
    // The link-signing secret shared with the worker: from the credential store, made and kept
    // there on first use; a fixed one in demo mode.
    QString signingSecret();
    RenderContext renderContext(const Newsletter& issue, const std::optional<Subscriber>& reader);
    // The issue as the sample reader sees it (the editor's preview).
    RenderedEmail previewEmail(const Newsletter& issue);
    QByteArray buildMessage(const Newsletter& issue, const Subscriber& reader);
    QList<ComplianceIssue> complianceIssues(const Newsletter& issue) const;
    // Messages per second of a list send: 80 % of the account's rate, at least 0.5; 0.8 while
    // no account status is known.
    double sendRate() const;
    QCoro::Task<void> sendTest(Newsletter issue, QString address);
    // `imagesHosted`: the issue's own images were just put on the worker.
    void sendToList(const Newsletter& issue, bool imagesHosted = false);
    QCoro::Task<void> pauseSend();
    QCoro::Task<void> resumeSend();
    const std::optional<SendSession>& sendSession() const { return m_sendSession; }
    std::optional<WorkerClient> makeWorkerClient() const;

    // MARK: images of issues (app_model_media.cpp)
    // media/ beside the library file: where the issues' own images are kept.
    QString mediaFolder() const;
    // Uploads the images of the issue the worker does not have yet; false (with the reason
    // shown) when they cannot all be hosted.
    QCoro::Task<bool> hostImages(Newsletter issue);

    static inline const QString demoSigningSecret = QStringLiteral("quietsample");

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
    void awsKeysChanged();
    void identityChanged();
    void sesErrorChanged();
    void statusMessageChanged();
    void sendSessionChanged();

private:
    // Which parts of the library a change touched; drives the change signals.
    enum Part { profilePart = 1, subscribersPart = 2, newslettersPart = 4, syncPart = 8 };
    void libraryEdited(int parts, bool save = true);
    void replaceLibrary(Library library);
    void setAccount(std::optional<SESAccount> account);
    void setIdentity(std::optional<SESIdentity> identity);
    void setSESError(std::optional<QString> error);
    void beginBusy();
    void endBusy();
    void selectFirstIssue();
    void refreshKeyPresence();
    void saveNowInBackground();
    QCoro::Task<void> runSave(Library library);
    QCoro::Task<void> refreshSESAndIdentity();
    QCoro::Task<void> pushImported(QList<Subscriber> added);

    // A list send in progress (app_model_send.cpp).
    struct SendRun;
    QCoro::Task<void> runListSend(std::shared_ptr<SendRun> run, QList<Subscriber> recipients);
    QCoro::Task<void> deliver(std::shared_ptr<SendRun> run, Subscriber reader);
    void countDelivered(const QUuid& issueID, const QUuid& readerID);
    void applyProgress(const SendProgress& progress, const QUuid& issueID);
    void setSendSession(std::optional<SendSession> session);
    QCoro::Task<void> publish(Newsletter issue);
    QCoro::Task<void> hostImagesThenSend(Newsletter issue);
    QCoro::Task<void> pullDuringSend();
    // Pulls the worker's changes and merges them; returns false (with the reason shown unless
    // `quiet`) when the worker could not be reached.
    QCoro::Task<bool> pushAndPull(bool quiet);
    void mergeFetched(const QList<Subscriber>& fetched);
    // Counts readers of the running send who bounced, complained or left against its issue.
    void attributeToSend(const QList<std::pair<QUuid, SubscriberStatus>>& changes);
    void applyLaunchArguments(const QStringList& arguments);

    std::shared_ptr<LibraryStore> m_store;
    std::shared_ptr<CredentialStore> m_credentials;
    std::shared_ptr<QSettings> m_settings;
    QStringList m_arguments;
    std::function<QDateTime()> m_now;
    std::shared_ptr<HTTPTransport> m_transport;
    BulkSender::Sleep m_sleep;
    BulkSender::Clock m_clock;
    std::chrono::milliseconds m_demoDeliveryDelay;
    std::chrono::milliseconds m_workerPullInterval;
    std::chrono::milliseconds m_deliverySaveInterval;

    Library m_library;
    std::optional<AppSection> m_selection = AppSection::newsletters;
    std::optional<QUuid> m_selectedNewsletterID;
    bool m_isDemo = false;
    int m_busyCount = 0; // workflows may run alongside each other
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

    std::optional<SendSession> m_sendSession;
    std::unique_ptr<BulkSender> m_sender;
    std::shared_ptr<SendRun> m_sendRun;
    std::optional<QString> m_signingSecret; // read once per process
    QTimer m_deliverySaveTimer;             // the delivered set on disk during a send
    QTimer m_pullTimer;                     // the worker's news during a send
    bool m_pulling = false;
    bool m_closing = false; // set by the destructor for coroutines that resume during it
};

} // namespace quillmere
