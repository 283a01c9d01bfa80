#include "app/app_model.h"

#include "core/error.h"
#include "core/keychain_error.h"
#include "core/keychain_store.h"
#include "core/sample_data.h"
#include "render/email_address.h"
#include "render/reader_links.h"
#include "ses/curl_transport.h"
#include "ses/network_transport.h"

#include <QCoreApplication>
#include <QPointer>

namespace quillmere {

namespace {

const QString onboardingDoneKey = QStringLiteral("onboardingDone");

} // namespace

AppModel::AppModel()
    : AppModel(Dependencies{}) {}

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_store(dependencies.store ? std::move(dependencies.store) : std::make_shared<LibraryStore>())
    , m_credentials(dependencies.credentials ? std::move(dependencies.credentials)
                                             : std::make_shared<KeychainStore>())
    , m_settings(dependencies.settings ? std::move(dependencies.settings)
                                       : std::make_shared<QSettings>(QStringLiteral("Quillmere"),
                                                                     QStringLiteral("Quillmere")))
    , m_arguments(dependencies.arguments ? *dependencies.arguments : QCoreApplication::arguments())
    , m_now(dependencies.now ? std::move(dependencies.now)
                             : [] { return QDateTime::currentDateTimeUtc(); })
    , m_transport(dependencies.transport ? dependencies.transport
                                         : std::make_shared<NetworkTransport>())
    , m_sendTransport(dependencies.sendTransport ? std::move(dependencies.sendTransport)
                      : dependencies.transport   ? m_transport
                                                 : std::make_shared<CurlTransport>())
    , m_sleep(std::move(dependencies.sleep))
    , m_clock(std::move(dependencies.clock))
    , m_maxInFlight(dependencies.maxInFlight)
    , m_demoDeliveryDelay(dependencies.demoDeliveryDelay)
    , m_firstWorkerPull(dependencies.firstWorkerPull)
    , m_workerPullInterval(dependencies.workerPullInterval)
    , m_fixedAWSCredentials(std::move(dependencies.awsCredentials))
    , m_demoSigningSecret(ReaderLinks::randomSecret())
    , m_previewSecret(ReaderLinks::randomSecret()) {
    m_keychain = new KeychainAccess(m_credentials, this);
    connect(m_keychain, &KeychainAccess::waitingChanged, this, &AppModel::keychainWaitingChanged);
    m_onboardingDone = m_settings->value(onboardingDoneKey, false).toBool();
    m_saver = new LibrarySaver(
        m_store, [this] { return m_library; }, this);
    connect(m_saver, &LibrarySaver::failed, this, &AppModel::showStatus);
}

AppModel::~AppModel() {
    // Destroying the send wakes a run that sleeps between messages or waits in a pause; it must
    // find the whole model still there, and learn that it is going away rather than carry on
    // (push to the worker, judge the run, save) inside a half-destroyed model.
    m_closing = true;
    m_listSend.reset();
}

// MARK: start-up

QCoro::Task<void> AppModel::start() {
    QPointer<AppModel> self(this);
    const QStringList arguments = m_arguments;
    if (arguments.contains(QStringLiteral("-demo"))) {
        enterDemo();
    } else {
        co_await loadOwnLibrary();
        if (!self) {
            co_return;
        }
    }
    applyLaunchArguments(arguments);
    if (!m_isDemo) {
        readKeychainThenSES(); // in the background: the window waits for neither
    }
}

QCoro::Task<void> AppModel::readKeychainThenSES() {
    QPointer<AppModel> self(this);
    co_await refreshKeyPresence();
    try {
        // Did it answer at all? A keychain that could not tell is not asked twice now.
        co_await m_keychain->read(CredentialStore::Key::awsAccessKeyID);
        // For the worker client and the preview, which cannot wait.
        co_await m_keychain->read(CredentialStore::Key::workerAPIToken);
        co_await m_keychain->read(CredentialStore::Key::workerSigningSecret);
    } catch (const KeychainError&) {
        co_return; // whatever needs it asks again and says why
    }
    if (self && !m_isDemo && m_hasAWSKeys) {
        co_await refreshSESAndIdentity();
    }
}

QCoro::Task<void> AppModel::loadOwnLibrary() {
    QPointer<AppModel> self(this);
    try {
        Library loaded = co_await m_store->load();
        if (!self) {
            co_return;
        }
        replaceLibrary(std::move(loaded));
        if (const auto partial = m_store->partial()) {
            const auto quoted = [](const QStringList& names) {
                return QLatin1Char('"') + names.join(QStringLiteral("\", \"")) + QLatin1Char('"');
            };
            showStatus(QStringLiteral("Part of your library was not read: the file has no %1 but "
                                      "holds %2, which this version does not read. Nothing is "
                                      "deleted; the file as it was is kept as %3.")
                           .arg(quoted(partial->missing), quoted(partial->unread),
                                m_store->backupPath().value_or(m_store->path())));
        }
        co_await recoverInterruptedSends();
    } catch (const std::exception& error) {
        if (!self) {
            co_return;
        }
        // The empty library takes its place; the unreadable file is kept aside before anything
        // can replace it, and the writer is told where.
        replaceLibrary(Library{});
        const QString kept = m_store->backupPath().value_or(m_store->path());
        showStatus(QStringLiteral("Could not read your library: %1. It is kept as %2, and a new "
                                  "library starts here.")
                       .arg(errorText(error), kept));
    }
}

void AppModel::applyLaunchArguments(const QStringList& arguments) {
    const auto following = [&arguments](const QString& flag) -> std::optional<QString> {
        const qsizetype index = arguments.indexOf(flag);
        if (index < 0 || index + 1 >= arguments.size()) {
            return std::nullopt;
        }
        return arguments.at(index + 1);
    };

    if (arguments.contains(QStringLiteral("-onboarding"))) {
        setOnboardingDone(false);
        if (const auto name = following(QStringLiteral("-onboarding"))) {
            if (const auto step = fromRaw<OnboardingStep>(*name)) {
                setOnboardingStartStep(*step);
            }
        }
    }
    if (const auto name = following(QStringLiteral("-section"))) {
        if (const auto section = fromRaw<AppSection>(*name)) {
            setSelection(*section);
        }
    }
    if (!m_selectedNewsletterID) {
        selectFirstIssue();
    }
    if (arguments.contains(QStringLiteral("-showSend"))) {
        for (const Newsletter& issue : std::as_const(m_library.newsletters)) {
            if (issue.status == CampaignStatus::draft) {
                setSelectedNewsletterID(issue.id);
                setShowSendOnLaunch(true);
                if (arguments.contains(QStringLiteral("-autoSend"))) {
                    sendToList(issue);
                }
                break;
            }
        }
    }
}

// MARK: state

void AppModel::setProfile(const SenderProfile& profile) {
    if (m_library.profile == profile) {
        return;
    }
    m_library.profile = profile;
    libraryEdited(profilePart);
}

void AppModel::setSelection(std::optional<AppSection> section) {
    if (m_selection != section) {
        m_selection = section;
        Q_EMIT selectionChanged();
    }
}

void AppModel::setSelectedNewsletterID(std::optional<QUuid> id) {
    if (m_selectedNewsletterID != id) {
        m_selectedNewsletterID = id;
        Q_EMIT selectedNewsletterIDChanged();
    }
}

std::optional<Newsletter> AppModel::selectedNewsletter() const {
    const Newsletter* issue =
        m_selectedNewsletterID ? m_library.issue(*m_selectedNewsletterID) : nullptr;
    return issue ? std::optional<Newsletter>(*issue) : std::nullopt;
}

void AppModel::setOnboardingDone(bool done) {
    if (m_onboardingDone != done) {
        m_onboardingDone = done;
        Q_EMIT onboardingDoneChanged();
    }
}

void AppModel::setOnboardingStartStep(std::optional<OnboardingStep> step) {
    if (m_onboardingStartStep != step) {
        m_onboardingStartStep = step;
        Q_EMIT onboardingStartStepChanged();
    }
}

void AppModel::setShowSendOnLaunch(bool show) {
    if (m_showSendOnLaunch != show) {
        m_showSendOnLaunch = show;
        Q_EMIT showSendOnLaunchChanged();
    }
}

void AppModel::setStatusMessage(std::optional<QString> message) {
    if (m_statusMessage != message) {
        m_statusMessage = std::move(message);
        Q_EMIT statusMessageChanged();
    }
}

void AppModel::setAccount(std::optional<SESAccount> account) {
    if (m_account != account) {
        m_account = std::move(account);
        Q_EMIT accountChanged();
    }
}

void AppModel::setIdentity(std::optional<SESIdentity> identity) {
    if (m_identity != identity) {
        m_identity = std::move(identity);
        Q_EMIT identityChanged();
    }
}

void AppModel::setSESError(std::optional<QString> error) {
    if (m_sesError != error) {
        m_sesError = std::move(error);
        Q_EMIT sesErrorChanged();
    }
}

AppModel::BusyScope::BusyScope(AppModel& model)
    : m_model(&model) {
    if (++model.m_busyCount == 1) {
        Q_EMIT model.isBusyChanged();
    }
}

AppModel::BusyScope::~BusyScope() {
    // A workflow that outlives the model (its coroutine resumed after the model went away)
    // has nobody left to tell.
    if (m_model && --m_model->m_busyCount == 0) {
        Q_EMIT m_model->isBusyChanged();
    }
}

void AppModel::selectFirstIssue() {
    setSelectedNewsletterID(m_library.newsletters.isEmpty()
                                ? std::nullopt
                                : std::optional<QUuid>(m_library.newsletters.first().id));
}

QCoro::Task<void> AppModel::refreshKeyPresence() {
    QPointer<AppModel> self(this);
    bool stored = false;
    if (!m_isDemo) {
        try {
            stored = (co_await loadCredentials()).has_value();
        } catch (const KeychainError&) {
            co_return; // cannot tell: what is shown stays as it was
        }
    }
    if (self && stored != m_hasAWSKeys) {
        m_hasAWSKeys = stored;
        Q_EMIT awsKeysChanged();
    }
}

bool AppModel::refusedInDemo(bool onSESScreen) {
    if (!m_isDemo) {
        return false;
    }
    if (onSESScreen) {
        setSESError(demoRefusal);
    } else {
        showStatus(demoRefusal);
    }
    return true;
}

void AppModel::libraryEdited(int parts, bool save) {
    if (parts & profilePart) {
        Q_EMIT profileChanged();
    }
    if (parts & subscribersPart) {
        ++m_subscriberEdits;
        Q_EMIT subscribersChanged();
    }
    if (parts & newslettersPart) {
        Q_EMIT newslettersChanged();
    }
    Q_EMIT libraryChanged();
    if (save) {
        scheduleSave();
    }
}

void AppModel::replaceLibrary(Library library) {
    m_library = std::move(library);
    libraryEdited(profilePart | subscribersPart | newslettersPart | syncPart, false);
}

// MARK: onboarding

void AppModel::finishOnboarding() {
    setOnboardingDone(true);
    if (!m_isDemo) {
        m_settings->setValue(onboardingDoneKey, true);
        m_settings->sync();
    }
    if (m_library.newsletters.isEmpty()) {
        setSelection(AppSection::newsletters);
        newIssue();
    }
}

bool AppModel::isComplete(OnboardingStep step) const {
    const SenderProfile& p = m_library.profile;
    switch (step) {
    case OnboardingStep::welcome:
        return true;
    case OnboardingStep::amazon:
        return (m_isDemo || m_hasAWSKeys) && m_account.has_value();
    case OnboardingStep::sender:
        // An address SES would refuse does not finish the step.
        return !p.fromName.isEmpty() && EmailAddress::isValid(p.fromEmail.trimmed()) &&
               !p.postalAddress.isEmpty();
    case OnboardingStep::domain:
        return m_identity && m_identity->verifiedForSending;
    case OnboardingStep::signup:
        return !p.workerBaseURL.isEmpty();
    case OnboardingStep::readers:
        return !m_library.subscribers.isEmpty();
    case OnboardingStep::done:
        return completedSteps().size() == qsizetype(workingSteps.size());
    }
    return false;
}

QList<OnboardingStep> AppModel::completedSteps() const {
    QList<OnboardingStep> done;
    for (OnboardingStep step : workingSteps) {
        if (isComplete(step)) {
            done.append(step);
        }
    }
    return done;
}

OnboardingStep AppModel::firstIncompleteStep() const {
    for (OnboardingStep step : workingSteps) {
        if (!isComplete(step)) {
            return step;
        }
    }
    return OnboardingStep::welcome;
}

// MARK: issues

void AppModel::newIssue() {
    Newsletter issue;
    issue.id = QUuid::createUuid();
    issue.subject = QStringLiteral("New issue");
    issue.markdown = QStringLiteral("# Hello {{name}}\n\nWrite something worth reading.\n");
    issue.emailTemplate = EmailTemplate::editorial;
    addDraft(std::move(issue));
}

void AppModel::addDraft(Newsletter issue) {
    issue.status = CampaignStatus::draft;
    issue.createdAt = now();
    const QUuid id = issue.id;
    m_library.newsletters.prepend(std::move(issue));
    libraryEdited(newslettersPart);
    setSelectedNewsletterID(id);
    setSelection(AppSection::newsletters);
}

void AppModel::updateIssue(const Newsletter& issue) {
    Newsletter* stored = m_library.issue(issue.id);
    if (stored && !(*stored == issue)) {
        *stored = issue;
        libraryEdited(newslettersPart);
    }
}

void AppModel::deleteIssue(const QUuid& id) {
    m_library.newsletters.removeIf([&id](const Newsletter& n) { return n.id == id; });
    if (m_selectedNewsletterID == id) {
        selectFirstIssue();
    }
    libraryEdited(newslettersPart);
}

void AppModel::duplicateIssue(const QUuid& id) {
    const Newsletter* original = std::as_const(m_library).issue(id);
    if (!original) {
        return;
    }
    Newsletter copy;
    copy.id = QUuid::createUuid();
    copy.subject = original->subject;
    copy.previewText = original->previewText;
    copy.markdown = original->markdown;
    copy.emailTemplate = original->emailTemplate;
    addDraft(std::move(copy));
}

void AppModel::restoreIssue(const Newsletter& issue, qsizetype position) {
    for (const Newsletter& n : std::as_const(m_library.newsletters)) {
        if (n.id == issue.id) {
            return;
        }
    }
    m_library.newsletters.insert(std::clamp<qsizetype>(position, 0, m_library.newsletters.size()),
                                 issue);
    libraryEdited(newslettersPart);
    setSelectedNewsletterID(issue.id);
}

void AppModel::restoreSubscribers(const QList<std::pair<qsizetype, Subscriber>>& removed) {
    QSet<QUuid> ids;
    QSet<QString> emails;
    for (const Subscriber& s : std::as_const(m_library.subscribers)) {
        ids.insert(s.id);
        emails.insert(s.email);
    }
    // In ascending order of position, each insertion lands where the reader was before the
    // removal of the ones after it.
    bool restored = false;
    for (const auto& [position, reader] : removed) {
        if (ids.contains(reader.id) || emails.contains(reader.email)) {
            continue;
        }
        m_library.subscribers.insert(
            std::clamp<qsizetype>(position, 0, m_library.subscribers.size()), reader);
        restored = true;
    }
    if (restored) {
        libraryEdited(subscribersPart);
    }
}

// MARK: subscribers

void AppModel::addSubscriber(const QString& email, const QString& name) {
    const QString address = EmailAddress::normalised(email);
    for (const Subscriber& s : std::as_const(m_library.subscribers)) {
        if (s.email == address) {
            return;
        }
    }
    Subscriber subscriber;
    subscriber.id = QUuid::createUuid();
    subscriber.email = address;
    subscriber.name = name;
    subscriber.status =
        m_library.profile.doubleOptIn ? SubscriberStatus::pending : SubscriberStatus::active;
    subscriber.source = QStringLiteral("manual");
    subscriber.createdAt = now();
    subscriber.updatedAt = subscriber.createdAt;
    m_library.subscribers.prepend(subscriber);
    libraryEdited(subscribersPart);
}

void AppModel::setStatus(SubscriberStatus status, const QSet<QUuid>& ids) {
    const QDateTime time = now();
    for (Subscriber& s : m_library.subscribers) {
        if (ids.contains(s.id)) {
            s.status = status;
            s.updatedAt = time;
        }
    }
    libraryEdited(subscribersPart);
}

void AppModel::deleteSubscribers(const QSet<QUuid>& ids) {
    m_library.subscribers.removeIf([&ids](const Subscriber& s) { return ids.contains(s.id); });
    libraryEdited(subscribersPart);
}

qsizetype AppModel::count(SubscriberStatus status) const {
    return std::count_if(m_library.subscribers.cbegin(), m_library.subscribers.cend(),
                         [status](const Subscriber& s) { return s.status == status; });
}

// MARK: demo mode

void AppModel::enterDemo() {
    // Edits still waiting for their debounced save belong to the writer's own library: write
    // them now, before the sample takes its place.
    if (m_saver->isScheduled()) {
        saveNowInBackground();
    }
    if (!m_isDemo) {
        m_isDemo = true;
        Q_EMIT isDemoChanged();
    }
    replaceLibrary(SampleData::library());
    SESAccount simulated;
    simulated.productionAccessEnabled = false;
    simulated.sendingEnabled = true;
    simulated.max24HourSend = 200;
    simulated.maxSendRate = 1;
    simulated.sentLast24Hours = 3;
    simulated.enforcementStatus = QStringLiteral("HEALTHY");
    setAccount(simulated);
    selectFirstIssue();
    setSelection(AppSection::newsletters);
    setOnboardingDone(true);
}

QCoro::Task<void> AppModel::leaveDemo() {
    QPointer<AppModel> self(this);
    if (m_isDemo) {
        m_isDemo = false;
        Q_EMIT isDemoChanged();
    }
    setAccount(std::nullopt);
    setIdentity(std::nullopt);
    co_await loadOwnLibrary();
    if (!self) {
        co_return;
    }
    co_await refreshKeyPresence();
    if (!self) {
        co_return;
    }
    selectFirstIssue();
    setOnboardingStartStep(firstIncompleteStep());
    setOnboardingDone(false);
}

// MARK: saving

void AppModel::scheduleSave() {
    if (!m_isDemo) {
        m_saver->schedule();
    }
}

void AppModel::saveNowInBackground() {
    if (!m_isDemo) {
        m_saver->saveNow();
    }
}

void AppModel::flushPendingSave() {
    if (!m_isDemo) {
        m_saver->flush();
    }
}

// MARK: errors

QString AppModel::errorText(const std::exception& error) {
    if (const auto* known = dynamic_cast<const Error*>(&error)) {
        return known->description();
    }
    return QString::fromLocal8Bit(error.what());
}

QString AppModel::errorText(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        return errorText(e);
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

} // namespace quillmere
