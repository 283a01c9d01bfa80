// Sending an issue: the test send, the whole-list send through the bulk sender, the reader
// links every email carries, and publishing to the archive once the list has been reached.
#include "app/app_model.h"
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

QString AppModel::signingSecret() {
    if (m_isDemo) {
        return demoSigningSecret;
    }
    if (m_signingSecret) {
        return *m_signingSecret;
    }
    auto stored = m_credentials->get(CredentialStore::Key::workerSigningSecret);
    if (!stored || stored->isEmpty()) {
        stored = ReaderLinks::randomSecret();
        try {
            m_credentials->set(*stored, CredentialStore::Key::workerSigningSecret);
        } catch (const std::exception&) {
            // Links still work for this session; the worker gets this secret when deployed.
        }
    }
    m_signingSecret = stored;
    return *stored;
}

RenderContext AppModel::renderContext(const Newsletter& issue,
                                      const std::optional<Subscriber>& reader) {
    return ReaderMessage::context(issue, m_library.profile, reader, signingSecret());
}

RenderedEmail AppModel::previewEmail(const Newsletter& issue) {
    RenderContext context = renderContext(issue, ReaderMessage::previewReader(now()));
    // The writer sees their images from this computer, hosted or not.
    context.mediaBase = QUrl::fromLocalFile(QFileInfo(mediaFolder()).path()).toString();
    return TemplateRenderer::render(context);
}

QByteArray AppModel::buildMessage(const Newsletter& issue, const Subscriber& reader) {
    return ReaderMessage::build(issue, m_library.profile, reader, signingSecret(), now(),
                                std::nullopt);
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
    const auto token = m_credentials->get(CredentialStore::Key::workerAPIToken);
    if (!token || token->isEmpty()) {
        return std::nullopt;
    }
    return WorkerClient(base, *token, m_transport);
}

// MARK: test send

QCoro::Task<void> AppModel::sendTest(Newsletter issue, QString address) {
    const auto keys = loadCredentials();
    if (!keys) {
        showStatus(QStringLiteral("Add your IAM access keys in Amazon SES first."));
        co_return;
    }
    const SESClient client(*keys, m_library.profile.region, m_sendTransport);
    if (const auto blocking = firstBlocking(complianceIssues(issue))) {
        showStatus(QStringLiteral("Fix first: ") + *blocking);
        co_return;
    }
    QPointer<AppModel> self(this);
    const BusyScope busy(*this);
    const bool hosted = co_await hostImages(issue);
    if (!self || !hosted) {
        co_return;
    }
    issue.subject = QStringLiteral("[Test] ") + issue.subject;
    Subscriber reader;
    reader.id = QUuid::createUuid();
    reader.email = address.trimmed().toLower();
    reader.name = QStringLiteral("Test");
    reader.status = SubscriberStatus::active;
    reader.source = QStringLiteral("test");
    reader.createdAt = reader.updatedAt = now();
    const QByteArray raw = buildMessage(issue, reader);
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

void AppModel::sendToList(const Newsletter& issue, bool imagesHosted, std::optional<double> rate) {
    startListSend(issue, rate, false, imagesHosted);
}

void AppModel::retryFailed(const Newsletter& issue) {
    startListSend(issue, std::nullopt, true, false);
}

void AppModel::startListSend(const Newsletter& requested, std::optional<double> rate,
                             bool failedOnly, bool imagesHosted) {
    if (m_listSend && m_listSend->isRunning()) {
        return; // one list send at a time
    }
    // The stored issue is the truth (the caller may hold an older copy of it).
    const Newsletter* stored = m_library.issue(requested.id);
    Newsletter issue = stored ? *stored : requested;
    if (const auto blocking = firstBlocking(complianceIssues(issue))) {
        showStatus(QStringLiteral("Fix first: ") + *blocking);
        return;
    }
    std::optional<AWSCredentials> keys;
    if (!m_isDemo) {
        keys = loadCredentials();
        if (!keys) {
            showStatus(QStringLiteral("Add your IAM access keys in Amazon SES first."));
            return;
        }
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
        return;
    }
    if (!imagesHosted && !m_isDemo && !MediaReference::names(issue.markdown).isEmpty()) {
        hostImagesThenSend(issue, rate, failedOnly);
        return;
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
        setup.messages.emplace(issue, m_library.profile, signingSecret());
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
        return;
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
        m_unsaved = true; // a quit writes it; a crash leaves it to the journal
    }
}

QCoro::Task<bool> AppModel::saveSendState() {
    if (m_isDemo) {
        co_return true;
    }
    QPointer<AppModel> self(this);
    m_unsaved = false;
    try {
        co_await m_store->save(m_library);
        co_return true;
    } catch (const std::exception& error) {
        if (self) {
            m_unsaved = true;
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
