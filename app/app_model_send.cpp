// Sending an issue: the test send, the whole-list send through the bulk sender, the reader
// links every email carries, and publishing to the archive once the list has been reached.
#include "app/app_model.h"
#include "core/keychain_error.h"
#include "render/email_address.h"
#include "render/media_reference.h"
#include "render/reader_links.h"
#include "render/reader_message.h"
#include "ses/compliance.h"
#include "ses/ses_client.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <qcoro/qcorotimer.h>

namespace quillmere {

namespace {

const BounceGuard listSendGuard{0.05, 0.001, 50};

std::optional<QString> firstBlocking(const QList<ComplianceIssue>& issues) {
    for (const ComplianceIssue& issue : issues) {
        if (issue.blocking) {
            return issue.message;
        }
    }
    return std::nullopt;
}

} // namespace

// MARK: links and rendering

QCoro::Task<QString> AppModel::signingSecret() {
    if (m_isDemo) {
        co_return m_demoSigningSecret;
    }
    co_return co_await m_keychain->readOrMake(CredentialStore::Key::workerSigningSecret,
                                              &ReaderLinks::randomSecret);
}

RenderedEmail AppModel::previewEmail(const Newsletter& issue) {
    QString secret = m_isDemo ? m_demoSigningSecret : m_previewSecret;
    if (const auto known = m_keychain->known(CredentialStore::Key::workerSigningSecret);
        !m_isDemo && known) {
        secret = *known;
    }
    RenderContext context = ReaderMessage::context(issue, m_library.profile,
                                                   ReaderMessage::previewReader(now()), secret);
    // The writer sees their images from this computer, hosted or not.
    context.mediaBase = QUrl::fromLocalFile(QFileInfo(mediaFolder()).path()).toString();
    return TemplateRenderer::render(context);
}

QList<ComplianceIssue> AppModel::complianceIssues(const Newsletter& issue) const {
    return Compliance::check(m_library.profile, issue);
}

double AppModel::sendRate() const {
    if (!m_account) {
        return 0.8;
    }
    return std::max(0.8 * m_account->maxSendRate, 0.5);
}

std::optional<WorkerClient> AppModel::makeWorkerClient() const {
    if (m_isDemo || m_library.profile.workerBaseURL.isEmpty()) {
        return std::nullopt;
    }
    const QUrl base(m_library.profile.workerBaseURL, QUrl::StrictMode);
    if (!base.isValid() || base.scheme().isEmpty() || base.host().isEmpty()) {
        return std::nullopt;
    }
    const auto token = m_keychain->known(CredentialStore::Key::workerAPIToken);
    if (!token) {
        return std::nullopt;
    }
    return WorkerClient(base, *token, m_transport);
}

// MARK: test send

QCoro::Task<void> AppModel::sendTest(Newsletter issue, QString address) {
    if (refusedInDemo()) {
        co_return;
    }
    QPointer<AppModel> self(this);
    std::optional<AWSCredentials> keys;
    QString secret;
    try {
        keys = co_await loadCredentials();
        if (keys) {
            secret = co_await signingSecret();
        }
    } catch (const KeychainError& error) {
        if (self) {
            showStatus(error.description());
        }
        co_return;
    }
    if (!self) {
        co_return;
    }
    if (!keys) {
        showStatus(QStringLiteral("Add your IAM access keys in Amazon SES first."));
        co_return;
    }
    const SESClient client(*keys, m_library.profile.region, m_sendTransport);
    if (const auto blocking = firstBlocking(complianceIssues(issue))) {
        showStatus(QStringLiteral("Fix first: ") + *blocking);
        co_return;
    }
    const BusyScope busy(*this);
    const bool hosted = co_await hostImages(issue);
    if (!self || !hosted) {
        co_return;
    }
    issue.subject = QStringLiteral("[Test] ") + issue.subject;
    Subscriber reader;
    reader.id = QUuid::createUuid();
    reader.email = EmailAddress::normalised(address);
    reader.name = QStringLiteral("Test");
    reader.status = SubscriberStatus::active;
    reader.source = QStringLiteral("test");
    reader.createdAt = reader.updatedAt = now();
    const QByteArray raw =
        ReaderMessage::build(issue, m_library.profile, reader, secret, now(), std::nullopt);
    try {
        const QString messageID =
            co_await client.sendRaw(raw, m_library.profile.fromEmail, reader.email);
        if (!self) {
            co_return;
        }
        showStatus(
            QStringLiteral("Test sent to %1 (message %2).").arg(reader.email, messageID.left(12)));
    } catch (const std::exception& error) {
        if (!self) {
            co_return;
        }
        showStatus(errorText(error));
    }
}

// MARK: list send

QCoro::Task<void> AppModel::sendToList(const Newsletter& issue, bool imagesHosted,
                                       std::optional<double> rate) {
    return startListSend(issue, rate, false, imagesHosted);
}

QCoro::Task<void> AppModel::retryFailed(const Newsletter& issue) {
    return startListSend(issue, std::nullopt, true, false);
}

QCoro::Task<void> AppModel::startListSend(Newsletter requested, std::optional<double> rate,
                                          bool failedOnly, bool imagesHosted) {
    QPointer<AppModel> self(this);
    const auto running = [this] { return m_listSend && m_listSend->isRunning(); };
    if (running()) {
        co_return; // one list send at a time
    }
    // The stored issue is the truth (the caller may hold an older copy of it).
    const auto stored = [this, &requested] {
        const Newsletter* found = m_library.issue(requested.id);
        return found ? *found : requested;
    };
    Newsletter issue = stored();
    if (const auto blocking = firstBlocking(complianceIssues(issue))) {
        showStatus(QStringLiteral("Fix first: ") + *blocking);
        co_return;
    }
    std::optional<AWSCredentials> keys;
    QString secret;
    if (!m_isDemo) {
        try {
            keys = co_await loadCredentials();
            if (keys) {
                secret = co_await signingSecret();
            }
        } catch (const KeychainError& error) {
            if (self) {
                showStatus(error.description());
            }
            co_return;
        }
        if (keys && self) {
            try {
                // For the worker's news during the send and the archive after it; without it
                // the send still reaches the list.
                co_await m_keychain->read(CredentialStore::Key::workerAPIToken);
            } catch (const KeychainError&) {
            }
        }
        if (!self || running()) {
            co_return; // gone, or another send started while the keychain answered
        }
        if (!keys) {
            showStatus(QStringLiteral("Add your IAM access keys in Amazon SES first."));
            co_return;
        }
        issue = stored(); // as it stands now
    }
    const QList<Subscriber> recipients = ListSend::recipients(m_library, issue, failedOnly);
    if (recipients.isEmpty()) {
        showStatus(QStringLiteral("No active subscribers left to send to."));
        // A send that reached everybody it could but never recorded its end does so now.
        if (issue.status == CampaignStatus::sending || issue.status == CampaignStatus::paused) {
            const bool reached = !issue.deliveredIDs.isEmpty();
            issue.status = reached ? CampaignStatus::sent : CampaignStatus::failed;
            issue.sentAt = reached ? std::optional(issue.sentAt.value_or(now())) : std::nullopt;
            updateIssue(issue);
            if (reached) {
                publish(issue);
            }
        }
        co_return;
    }
    if (!imagesHosted && !m_isDemo && !MediaReference::names(issue.markdown).isEmpty()) {
        co_await hostImagesThenSend(issue, rate, failedOnly);
        co_return;
    }

    ListSend::Setup setup;
    setup.issueID = issue.id;
    setup.recipients = recipients;
    setup.sender.ratePerSecond = rate.value_or(sendRate());
    setup.sender.bounceGuard = listSendGuard;
    setup.sender.maxInFlight = m_maxInFlight;
    setup.sender.sleep = m_sleep;
    setup.sender.clock = m_clock;
    if (!m_isDemo) {
        setup.client.emplace(*keys, m_library.profile.region, m_sendTransport);
        setup.from = m_library.profile.fromEmail;
        setup.messages.emplace(issue, m_library.profile, secret);
        setup.journalPath = DeliveryJournal::path(m_store->path(), issue.id);
    }
    setup.demoDelay = m_demoDeliveryDelay;
    setup.pullsWorker = makeWorkerClient().has_value();
    setup.firstPull = m_firstWorkerPull;
    setup.pullInterval = m_workerPullInterval;
    setup.now = m_now;
    try {
        ListSend::Host& host = *this;
        m_listSend = std::make_unique<ListSend>(host, std::move(setup));
    } catch (const std::exception& error) {
        showStatus(QStringLiteral("Could not start the send: ") + errorText(error));
        co_return;
    }
    connect(m_listSend.get(), &ListSend::ended, this, &AppModel::sendEnded);
    issue.status = CampaignStatus::sending;
    issue.stats.recipients = issue.deliveredIDs.size() + recipients.size();
    updateIssue(issue);
    m_listSend->start();
}

void AppModel::setSendSession(std::optional<SendSession> session) {
    if (m_sendSession != session) {
        m_sendSession = std::move(session);
        Q_EMIT sendSessionChanged();
    }
}

QCoro::Task<void> AppModel::pauseSend() {
    if (m_listSend) {
        m_listSend->pause();
    }
    co_return;
}

QCoro::Task<void> AppModel::resumeSend(bool confirmHalt) {
    if (m_listSend) {
        m_listSend->resume(confirmHalt);
    }
    co_return;
}

void AppModel::cancelSend() {
    if (m_listSend) {
        m_listSend->cancel();
    }
}

SendPlan AppModel::sendPlan(const Newsletter& issue) const {
    return SendPlan::make(ListSend::recipients(m_library, issue).size(), sendRate(), m_account);
}

QList<Subscriber> AppModel::uncertainReaders(const QUuid& issueID) const {
    QList<Subscriber> readers;
    if (const Newsletter* issue = m_library.issue(issueID)) {
        for (const Subscriber& s : m_library.subscribers) {
            if (issue->uncertainIDs.contains(s.id)) {
                readers.append(s);
            }
        }
    }
    return readers;
}

void AppModel::sendRecorded() {
    libraryEdited(newslettersPart, false);
    if (!m_isDemo) {
        m_saver->markUnsaved(); // a quit writes it; a crash leaves it to the journal
    }
}

QCoro::Task<bool> AppModel::saveSendState() {
    if (m_isDemo) {
        co_return true;
    }
    QPointer<AppModel> self(this);
    try {
        co_await m_store->save(m_library);
        co_return true;
    } catch (const std::exception& error) {
        if (self) {
            m_saver->markUnsaved();
            showStatus(QStringLiteral("Could not save your library: ") + errorText(error));
        }
        co_return false;
    }
}

QCoro::Task<void> AppModel::pullWorkerChanges() {
    if (!m_pulling) {
        co_await syncWithWorker(true);
    }
}

QCoro::Task<void> AppModel::recoverInterruptedSends() {
    bool changed = false;
    const QStringList journals = ListSend::recover(m_library, m_store->path(), &changed);
    if (!changed) {
        co_return;
    }
    QPointer<AppModel> self(this);
    libraryEdited(newslettersPart, false);
    const bool saved = co_await saveSendState();
    if (self && saved) {
        for (const QString& journal : journals) {
            QFile::remove(journal);
        }
    }
}

// MARK: archive

QCoro::Task<void> AppModel::publish(Newsletter issue) {
    const auto client = makeWorkerClient();
    if (!client) {
        co_return;
    }
    QPointer<AppModel> self(this);
    if (!co_await hostImages(issue) || !self) {
        co_return;
    }
    const QString base = ReaderLinks::normalisedBase(m_library.profile.workerBaseURL);
    // The archive copy belongs to nobody: no reader, no personal unsubscribe link.
    RenderContext context;
    context.newsletter = issue;
    context.profile = m_library.profile;
    context.mediaBase = MediaReference::workerMediaBase(base);
    context.unsubscribeURL = QUrl(base + QLatin1Char('/'), QUrl::StrictMode);
    if (!context.unsubscribeURL.isValid()) {
        context.unsubscribeURL = QUrl(ReaderLinks::placeholderWorkerBase + QLatin1Char('/'));
    }
    const QString html = TemplateRenderer::render(context).html;
    const QString slug = issue.slug();
    try {
        co_await client->publishIssue(slug, issue.subject, html, issue.sentAt.value_or(now()));
        if (self) {
            showStatus(QStringLiteral("Sent and published to ") + base +
                       QStringLiteral("/archive/") + slug);
        }
    } catch (const std::exception& error) {
        if (self) {
            showStatus(QStringLiteral("Sent. Archive publish failed: ") + errorText(error));
        }
    }
}

} // namespace quillmere
