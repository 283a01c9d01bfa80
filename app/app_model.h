#pragma once

#include "app/app_section.h"
#include "app/keychain_access.h"
#include "app/library_saver.h"
#include "app/list_send.h"
#include "app/onboarding_step.h"
#include "app/send_plan.h"
#include "app/send_session.h"
#include "app/worker_sync.h"
#include "core/aws_credentials.h"
#include "core/credential_store.h"
#include "core/library.h"
#include "core/library_store.h"
#include "import/skipped_row.h"
#include "render/render_context.h"
#include "render/rendered_email.h"
#include "ses/bulk_sender.h"
#include "ses/compliance_issue.h"
#include "ses/dns_record.h"
#include "ses/http_transport.h"
#include "ses/ses_account.h"
#include "ses/ses_identity.h"
#include "worker/cloudflare_deployer.h"
#include "worker/worker_client.h"

#include <QObject>
#include <QPointer>
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

struct ImportJob; // app_model_setup.cpp

// The one observable model every screen reads and edits. It owns the Library for the life of
// the process, saves it 0.4 s after the last change, holds the interface state several screens
// share and runs every workflow. Everything happens on the interface thread.
class AppModel : public QObject, private ListSend::Host {
    Q_OBJECT
    Q_PROPERTY(bool isDemo READ isDemo NOTIFY isDemoChanged)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged)
    Q_PROPERTY(bool onboardingDone READ onboardingDone WRITE setOnboardingDone NOTIFY
                   onboardingDoneChanged)
    Q_PROPERTY(bool showSendOnLaunch READ showSendOnLaunch WRITE setShowSendOnLaunch NOTIFY
                   showSendOnLaunchChanged)
    Q_PROPERTY(bool isKeychainWaiting READ isKeychainWaiting NOTIFY keychainWaitingChanged)

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
        // Every message sent through SES (list and test sends): a CurlTransport, or `transport`
        // when only that is given.
        std::shared_ptr<HTTPTransport> sendTransport;
        BulkSender::Sleep sleep; // the bulk sender's pacing
        BulkSender::Clock clock;
        int maxInFlight = 16;
        std::chrono::milliseconds demoDeliveryDelay{40};
        // During a list send the worker's changes are pulled (bounces, complaints and
        // unsubscribes reach the bounce guard) this long after the start, then at this interval.
        std::chrono::milliseconds firstWorkerPull{5000};
        std::chrono::milliseconds workerPullInterval{10000};
        // AWS keys given by the caller instead of the credential store (the command line takes
        // them from its environment).
        std::optional<AWSCredentials> awsCredentials;
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
    bool hasPendingSave() const { return m_saver->isScheduled(); }
    // Writes whatever is not on disk yet, now, and waits for a save already running: for the
    // last moments of the process (quit, logout, SIGTERM), when a debounced save would be lost.
    void flushPendingSave();

    // The one-line text shown for a failed workflow step.
    static QString errorText(const std::exception& error);
    static QString errorText(std::exception_ptr error);

    // Whether both AWS keys are stored (as last read from the credential store).
    bool hasAWSKeys() const { return m_hasAWSKeys; }
    // A keychain call has been waiting for a moment (an unlock prompt is open, or the keychain
    // does not answer); cancelling gives up on it, and the workflow says so.
    bool isKeychainWaiting() const { return m_keychain->isWaiting(); }
    void cancelKeychainWait() { m_keychain->cancel(); }

    // What every workflow that would reach Amazon, Cloudflare, the worker or the keychain says
    // in demo mode, and the tooltip of its disabled button.
    static inline const QString demoRefusal = QStringLiteral("Not available with sample data.");
    // The transport every network call goes through; screens that talk to a service before a
    // workflow exists for it (the Cloudflare token check) use the same one.
    std::shared_ptr<HTTPTransport> transport() const { return m_transport; }

    // MARK: setup workflows (app_model_setup.cpp)
    // Both AWS keys, none when either is missing. Raises KeychainError when the keychain cannot
    // tell.
    QCoro::Task<std::optional<AWSCredentials>> loadCredentials();
    // True when both keys are stored; on failure `sesError` says why and nothing is stored.
    QCoro::Task<bool> saveAWSKeys(QString accessKey, QString secretKey);
    QCoro::Task<void> refreshSES();
    QCoro::Task<void> refreshIdentity();
    QCoro::Task<void> verifyDomain();
    QList<DNSRecord> dnsRecords() const;
    QCoro::Task<void> deployWorker(QString cloudflareToken, QString accountID);
    QCoro::Task<void> syncSubscribers();
    // Reads, decodes and imports the file on another thread; `importProgress` follows it and
    // cancelImport() stops it with nothing added. Ends with the counts as the status message and
    // the skipped rows in `lastImport`.
    QCoro::Task<void> importCSV(QString path);
    void cancelImport();
    struct ImportProgress {
        QString fileName;
        double fraction = 0; // of the file read, 0 to 1
        bool operator==(const ImportProgress&) const = default;
    };
    const std::optional<ImportProgress>& importProgress() const { return m_importProgress; }
    struct ImportReport {
        QString fileName;
        QList<SkippedRow> skipped; // every one, in file order
        bool operator==(const ImportReport&) const = default;
    };
    const std::optional<ImportReport>& lastImport() const { return m_lastImport; }
    void clearLastImport();

    // MARK: the signup worker (worker_sync.cpp, worker_deployment.cpp)
    // Pushes local changes, pulls every page of the worker's changes and merges them (the
    // worker's status wins) and moves the cursor. Returns the readers whose status changed, or
    // none when there is no worker or it could not be reached (the reason shown unless
    // `quiet`). The one entry for anything that needs the worker's news now, a list send too.
    QCoro::Task<std::optional<QList<StatusChange>>> syncWithWorker(bool quiet);
    // What the worker last said about itself (GET /api/health); none before it was asked.
    const std::optional<WorkerHealth>& workerHealth() const { return m_workerHealth; }
    QCoro::Task<void> refreshWorkerHealth();
    // The worker's reported failures as lines to show, those after `after` only when given.
    QStringList workerHealthProblems(const std::optional<QDateTime>& after = std::nullopt) const;
    // The accounts a Cloudflare token can see; none when Cloudflare rejects the token.
    QCoro::Task<std::optional<QList<CloudflareAccount>>> cloudflareAccounts(QString token) const;
    // Gives a deployed worker the AWS keys just stored, through the Cloudflare API.
    QCoro::Task<void> updateWorkerKeys();

    // MARK: send workflow (app_model_send.cpp)
    // The link-signing secret shared with the worker: from the credential store, made and kept
    // there on first use; a random one for the session in demo mode. Raises KeychainError when
    // the keychain cannot tell, or cannot keep a new one: a secret it does not hold would sign
    // links the worker refuses.
    QCoro::Task<QString> signingSecret();
    // The issue as the sample reader sees it (the editor's preview). Its links use the signing
    // secret when this session knows it, else a throwaway one: the preview never waits.
    RenderedEmail previewEmail(const Newsletter& issue);
    QList<ComplianceIssue> complianceIssues(const Newsletter& issue) const;
    // Messages per second of a list send: 80 % of the account's rate, at least 0.5; 0.8 while
    // no account status is known.
    double sendRate() const;
    QCoro::Task<void> sendTest(Newsletter issue, QString address);
    // `imagesHosted`: the issue's own images were just put on the worker; `rate` replaces
    // sendRate() (messages per second) for this send.
    // Ends once the send has started (or was refused, with the reason as the status message).
    QCoro::Task<void> sendToList(const Newsletter& issue, bool imagesHosted = false,
                                 std::optional<double> rate = std::nullopt);
    // Sends again to the readers SES refused for good (those still active).
    QCoro::Task<void> retryFailed(const Newsletter& issue);
    QCoro::Task<void> pauseSend();
    // A send the bounce guard halted resumes only with `confirmHalt` (the writer was asked).
    QCoro::Task<void> resumeSend(bool confirmHalt = false);
    // Ends the send: messages in flight complete and are recorded; the issue stays resumable.
    void cancelSend();
    const std::optional<SendSession>& sendSession() const { return m_sendSession; }
    // The list send of the current or last run, if any (its messages in flight, its pace).
    const ListSend* listSend() const { return m_listSend.get(); }
    // What a send of the issue would do: readers, duration, the day's quota, sandbox.
    SendPlan sendPlan(const Newsletter& issue) const;
    // The issue's readers whose message may or may not have arrived.
    QList<Subscriber> uncertainReaders(const QUuid& issueID) const;
    // From the worker API token this session has read (see KeychainAccess::known).
    std::optional<WorkerClient> makeWorkerClient() const;

    // MARK: images of issues (app_model_media.cpp)
    // media/ beside the library file: where the issues' own images are kept.
    QString mediaFolder() const;
    // Uploads the images of the issue the worker does not have yet; false (with the reason
    // shown) when they cannot all be hosted.
    QCoro::Task<bool> hostImages(Newsletter issue);

    const QString& demoSigningSecret() const { return m_demoSigningSecret; }

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
    // A list send's run is over: its end saved, the worker pulled, publishing started.
    void sendEnded();
    void workerHealthChanged();
    void keychainWaitingChanged();
    void importProgressChanged();
    void lastImportChanged();

private:
    // Which parts of the library a change touched; drives the change signals.
    enum Part { profilePart = 1, subscribersPart = 2, newslettersPart = 4, syncPart = 8 };
    void libraryEdited(int parts, bool save = true);
    void replaceLibrary(Library library);
    void setAccount(std::optional<SESAccount> account);
    void setIdentity(std::optional<SESIdentity> identity);
    void setSESError(std::optional<QString> error);
    // Marks the model busy while alive; safe across the suspensions of a coroutine.
    class BusyScope {
    public:
        explicit BusyScope(AppModel& model);
        ~BusyScope();
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        QPointer<AppModel> m_model;
    };
    // A new draft at the top of the list, selected.
    void addDraft(Newsletter issue);
    void selectFirstIssue();
    QCoro::Task<void> refreshKeyPresence();
    // At start-up, in the background: what the keychain holds, then the SES account.
    QCoro::Task<void> readKeychainThenSES();
    // Shows `demoRefusal` in demo mode and says so.
    bool refusedInDemo(bool onSESScreen = false);
    void saveNowInBackground();
    // Loads the writer's own library, saying what could not be read and where it is kept.
    QCoro::Task<void> loadOwnLibrary();
    QCoro::Task<void> refreshSESAndIdentity();
    QCoro::Task<void> pushImported(QList<Subscriber> added);

    // The list send (app_model_send.cpp; the send itself is list_send.cpp).
    QCoro::Task<void> startListSend(Newsletter requested, std::optional<double> rate,
                                    bool failedOnly, bool imagesHosted);
    void setSendSession(std::optional<SendSession> session);
    QCoro::Task<void> publish(Newsletter issue);
    // Folds the journals of sends cut short into the library just loaded.
    QCoro::Task<void> recoverInterruptedSends();
    Library& sendLibrary() override { return m_library; }
    void sendRecorded() override;
    QCoro::Task<bool> saveSendState() override;
    QCoro::Task<void> pullWorkerChanges() override;
    QCoro::Task<void> publishSent(const Newsletter& issue) override { return publish(issue); }
    void sessionUpdated(const SendSession& session) override { setSendSession(session); }
    void showSendStatus(const QString& text) override { showStatus(text); }
    QCoro::Task<void> hostImagesThenSend(Newsletter issue, std::optional<double> rate,
                                         bool failedOnly);
    // After a sync: the worker's failures since `after` join the status message.
    QCoro::Task<void> reportWorkerFailures(std::optional<QDateTime> after);
    // The AWS account of the stored keys (STS); none without keys or when STS fails, with the
    // reason in `problem`.
    QCoro::Task<std::optional<QString>> awsAccountID(QString* problem);
    void applyLaunchArguments(const QStringList& arguments);

    std::shared_ptr<LibraryStore> m_store;
    std::shared_ptr<CredentialStore> m_credentials;
    std::shared_ptr<QSettings> m_settings;
    QStringList m_arguments;
    std::function<QDateTime()> m_now;
    std::shared_ptr<HTTPTransport> m_transport;
    std::shared_ptr<HTTPTransport> m_sendTransport;
    BulkSender::Sleep m_sleep;
    BulkSender::Clock m_clock;
    int m_maxInFlight;
    std::chrono::milliseconds m_demoDeliveryDelay;
    std::chrono::milliseconds m_firstWorkerPull;
    std::chrono::milliseconds m_workerPullInterval;
    std::optional<AWSCredentials> m_fixedAWSCredentials;

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
    LibrarySaver* m_saver; // a child of the model

    std::optional<SendSession> m_sendSession;
    std::unique_ptr<ListSend> m_listSend;
    KeychainAccess* m_keychain; // a child of the model
    std::optional<ImportProgress> m_importProgress;
    std::optional<ImportReport> m_lastImport;
    std::shared_ptr<ImportJob> m_importJob; // the running import, for cancelImport()
    const QString m_demoSigningSecret;
    const QString m_previewSecret; // signs the preview's links until the real one is known
    bool m_pulling = false;
    quint64 m_subscriberEdits = 0; // counts edits of the list, for merges that span awaits
    std::optional<WorkerHealth> m_workerHealth;
    bool m_closing = false; // set by the destructor for coroutines that resume during it
};

} // namespace quillmere
