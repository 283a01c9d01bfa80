// Sending an issue: the test send, the whole-list send through the bulk sender, the reader
// links every email carries, and publishing to the archive once the list has been reached.
#include "app/app_model.h"
#include "render/media_reference.h"
#include "render/reader_links.h"
#include "render/reader_message.h"
#include "ses/compliance.h"
#include "ses/ses_client.h"

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

// Everything a running list send needs besides the model; shared by its callbacks.
struct AppModel::SendRun {
    QUuid issueID;
    bool demo = false;
    std::optional<SESClient> client;
    QString from;
    // The reader-independent part of every message, prepared once; each reader's message is
    // built just before its delivery, so memory stays flat whatever the list size.
    std::optional<ReaderMessage::Batch> messages;
    QDateTime startedAt;
    QSet<QUuid> attributed; // readers whose bounce, complaint or unsubscribe was counted
    bool finished = false;
};

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
    const SESClient client(*keys, m_library.profile.region, m_transport);
    if (const auto blocking = firstBlocking(complianceIssues(issue))) {
        showStatus(QStringLiteral("Fix first: ") + *blocking);
        co_return;
    }
    QPointer<AppModel> self(this);
    beginBusy();
    const bool hosted = co_await hostImages(issue);
    if (!self) {
        co_return;
    }
    if (!hosted) {
        endBusy();
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
    endBusy();
}

// MARK: list send

void AppModel::sendToList(const Newsletter& requested, bool imagesHosted) {
    if (m_sendSession && !m_sendSession->isFinished) {
        return; // one list send at a time
    }
    // The stored issue is the truth (the caller may hold an older copy of it).
    Newsletter issue = requested;
    for (const Newsletter& stored : std::as_const(m_library.newsletters)) {
        if (stored.id == requested.id) {
            issue = stored;
        }
    }
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
    QList<Subscriber> recipients;
    for (const Subscriber& s : std::as_const(m_library.subscribers)) {
        if (isSendable(s.status) && !issue.deliveredIDs.contains(s.id)) {
            recipients.append(s);
        }
    }
    if (recipients.isEmpty()) {
        showStatus(QStringLiteral("No active subscribers left to send to."));
        return;
    }
    if (!imagesHosted && !m_isDemo && !MediaReference::names(issue.markdown).isEmpty()) {
        hostImagesThenSend(issue);
        return;
    }

    m_sender = std::make_unique<BulkSender>(sendRate(), listSendGuard, m_sleep, m_clock);
    issue.status = CampaignStatus::sending;
    issue.stats.recipients = issue.deliveredIDs.size() + recipients.size();
    updateIssue(issue);
    setSendSession(
        SendSession{issue.id, 0, 0, recipients.size(), QStringLiteral("Sending"), false, false});

    auto run = std::make_shared<SendRun>();
    run->issueID = issue.id;
    run->demo = m_isDemo;
    if (!m_isDemo) {
        run->client.emplace(*keys, m_library.profile.region, m_transport);
        run->from = m_library.profile.fromEmail;
        run->messages.emplace(issue, m_library.profile, signingSecret());
    }
    run->startedAt = now();
    m_sendRun = run;
    if (makeWorkerClient()) {
        m_pullTimer.start();
    }
    runListSend(std::move(run), std::move(recipients));
}

QCoro::Task<void> AppModel::runListSend(std::shared_ptr<SendRun> run,
                                        QList<Subscriber> recipients) {
    QPointer<AppModel> self(this);
    BulkSender* sender = m_sender.get();
    // Named before the co_await (see CONTRIBUTING.md); each callback re-checks the model.
    BulkSender::Deliver deliverOne = [self, run](const Subscriber& reader) -> QCoro::Task<void> {
        if (!self) {
            throw std::runtime_error("the send was abandoned");
        }
        return self->deliver(run, reader);
    };
    BulkSender::CurrentStats stats = [self, run]() -> QCoro::Task<CampaignStats> {
        CampaignStats current;
        if (self) {
            for (const Newsletter& issue : std::as_const(self->m_library.newsletters)) {
                if (issue.id == run->issueID) {
                    current = issue.stats;
                }
            }
        }
        co_return current;
    };
    BulkSender::OnProgress progress = [self, run](const SendProgress& report) -> QCoro::Task<void> {
        if (self && !report.state.isFinal()) {
            self->applyProgress(report, run->issueID);
        }
        co_return;
    };
    auto sending = sender->run(std::move(recipients), std::move(deliverOne), std::move(stats),
                               std::move(progress));
    const SendProgress final = co_await sending;
    if (!self || m_closing) {
        co_return;
    }
    run->finished = true;
    m_pullTimer.stop();
    // The last word from the worker before the run is judged and saved.
    if (makeWorkerClient()) {
        co_await pushAndPull(true);
        if (!self) {
            co_return;
        }
    }
    applyProgress(final, run->issueID);
    if (m_sendRun == run) {
        m_sendRun.reset(); // later syncs no longer count against this issue
    }
}

QCoro::Task<void> AppModel::deliver(std::shared_ptr<SendRun> run, Subscriber reader) {
    QPointer<AppModel> self(this);
    if (run->demo) {
        QTimer pause;
        pause.setSingleShot(true);
        pause.start(int(m_demoDeliveryDelay.count()));
        co_await pause;
    } else {
        const QByteArray raw = run->messages->build(reader, now(), std::nullopt);
        co_await run->client->sendRaw(raw, run->from, reader.email);
    }
    if (self) {
        countDelivered(run->issueID, reader.id);
    }
}

void AppModel::countDelivered(const QUuid& issueID, const QUuid& readerID) {
    for (Newsletter& issue : m_library.newsletters) {
        if (issue.id == issueID) {
            issue.deliveredIDs.insert(readerID);
            issue.stats.sent = issue.deliveredIDs.size();
            libraryEdited(newslettersPart, false);
            // A crash must not make a resumed send mail these readers again: the delivered
            // set reaches the disk at most a couple of seconds behind.
            if (!m_isDemo) {
                m_unsaved = true;
                if (!m_deliverySaveTimer.isActive()) {
                    m_deliverySaveTimer.start();
                }
            }
            return;
        }
    }
}

void AppModel::applyProgress(const SendProgress& progress, const QUuid& issueID) {
    Newsletter* issue = nullptr;
    for (Newsletter& candidate : m_library.newsletters) {
        if (candidate.id == issueID) {
            issue = &candidate;
        }
    }
    if (!issue) {
        return;
    }
    issue->stats.failed = progress.failed;
    QString state;
    bool finished = false;
    bool publishNow = false;
    const CampaignStatus before = issue->status;
    using Kind = SendProgress::State::Kind;
    switch (progress.state.kind) {
    case Kind::running:
        state = QStringLiteral("Sending");
        break;
    case Kind::paused:
        state = QStringLiteral("Paused");
        issue->status = CampaignStatus::paused;
        break;
    case Kind::finished:
        state = QStringLiteral("Finished");
        finished = true;
        if (issue->status != CampaignStatus::sent) {
            issue->status = CampaignStatus::sent;
            issue->sentAt = now();
            publishNow = true;
        }
        break;
    case Kind::cancelled:
        state = QStringLiteral("Cancelled");
        finished = true;
        issue->status = CampaignStatus::paused;
        break;
    case Kind::halted:
        state = QStringLiteral("Halted: ") + progress.state.reason;
        finished = true;
        issue->status = CampaignStatus::paused;
        break;
    }
    const Newsletter stored = *issue;
    libraryEdited(newslettersPart, finished || stored.status != before);
    setSendSession(SendSession{issueID, progress.sent, progress.failed, progress.total, state,
                               state == QLatin1String("Paused"), finished});
    if (finished) {
        m_pullTimer.stop();
        m_deliverySaveTimer.stop();
    }
    if (publishNow) {
        publish(stored);
    }
}

void AppModel::setSendSession(std::optional<SendSession> session) {
    if (m_sendSession != session) {
        m_sendSession = std::move(session);
        Q_EMIT sendSessionChanged();
    }
}

QCoro::Task<void> AppModel::pauseSend() {
    if (m_sender) {
        m_sender->pause();
    }
    if (m_sendSession && !m_sendSession->isFinished) {
        SendSession session = *m_sendSession;
        session.isPaused = true;
        session.state = QStringLiteral("Paused");
        setSendSession(session);
        for (Newsletter issue : std::as_const(m_library.newsletters)) {
            if (issue.id == session.newsletterID) {
                issue.status = CampaignStatus::paused;
                updateIssue(issue);
                break;
            }
        }
    }
    co_return;
}

QCoro::Task<void> AppModel::resumeSend() {
    if (m_sender) {
        m_sender->resume();
    }
    if (m_sendSession && !m_sendSession->isFinished) {
        SendSession session = *m_sendSession;
        session.isPaused = false;
        session.state = QStringLiteral("Sending");
        setSendSession(session);
        for (Newsletter issue : std::as_const(m_library.newsletters)) {
            if (issue.id == session.newsletterID) {
                issue.status = CampaignStatus::sending;
                updateIssue(issue);
                break;
            }
        }
    }
    co_return;
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

// MARK: the worker's news during a send

void AppModel::attributeToSend(const QList<std::pair<QUuid, SubscriberStatus>>& changes) {
    // While a list send runs (and at its last pull), a reader it reached who bounces,
    // complains or leaves counts against the issue once, so the bounce guard and the stats
    // see real numbers.
    if (!m_sendRun || changes.isEmpty()) {
        return;
    }
    for (Newsletter& issue : m_library.newsletters) {
        if (issue.id != m_sendRun->issueID) {
            continue;
        }
        bool counted = false;
        for (const auto& [reader, status] : changes) {
            if (!issue.deliveredIDs.contains(reader) || m_sendRun->attributed.contains(reader)) {
                continue;
            }
            qint64* counter = status == SubscriberStatus::bounced        ? &issue.stats.bounced
                              : status == SubscriberStatus::complained   ? &issue.stats.complained
                              : status == SubscriberStatus::unsubscribed ? &issue.stats.unsubscribed
                                                                         : nullptr;
            if (counter) {
                ++*counter;
                m_sendRun->attributed.insert(reader);
                counted = true;
            }
        }
        if (counted) {
            libraryEdited(newslettersPart, false);
        }
        return;
    }
}

QCoro::Task<void> AppModel::pullDuringSend() {
    if (m_pulling || !m_sendRun || m_sendRun->finished) {
        co_return;
    }
    co_await pushAndPull(true);
}

} // namespace quillmere
