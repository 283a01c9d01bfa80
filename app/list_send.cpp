#include "app/list_send.h"

#include "ses/send_failure.h"

#include <QFile>
#include <QLocale>
#include <QPointer>
#include <qcoro/qcorotimer.h>

namespace quillmere {

namespace {

using Outcome = DeliveryJournal::Outcome;

// What a delivery needs, shared by the deliveries in flight; none of it changes during a run.
struct Courier {
    std::optional<SESClient> client;
    QString from;
    std::optional<ReaderMessage::Batch> messages;
    std::chrono::milliseconds demoDelay;
    std::function<QDateTime()> now;
    std::function<QString()> quotaSentence;
};

QCoro::Task<DeliveryResult> deliverTo(std::shared_ptr<Courier> courier, Subscriber reader) {
    if (!courier->client) {
        QTimer pause;
        pause.setSingleShot(true);
        pause.start(courier->demoDelay);
        co_await pause;
        co_return DeliveryResult::delivered();
    }
    const QByteArray raw = courier->messages->build(reader, courier->now(), std::nullopt);
    try {
        co_await courier->client->sendRaw(raw, courier->from, reader.email);
        co_return DeliveryResult::delivered();
    } catch (const std::exception& error) {
        DeliveryResult result = SendFailure::classify(error);
        if (result.kind == DeliveryResult::Kind::quotaExhausted) {
            result.reason = courier->quotaSentence();
        }
        co_return result;
    }
}

QString stateText(const SendProgress::State& state) {
    using Kind = SendProgress::State::Kind;
    switch (state.kind) {
    case Kind::running:
        return QStringLiteral("Sending");
    case Kind::paused:
        return state.reason.isEmpty() ? QStringLiteral("Paused")
                                      : QStringLiteral("Paused: ") + state.reason;
    case Kind::halted:
        return QStringLiteral("Halted: ") + state.reason;
    case Kind::finished:
        return QStringLiteral("Finished");
    case Kind::cancelled:
        break;
    }
    return QStringLiteral("Cancelled");
}

} // namespace

ListSend::ListSend(Host& host, Setup setup, QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_setup(std::move(setup))
    , m_sender(m_setup.sender) {
    if (!m_setup.journalPath.isEmpty()) {
        m_journal = std::make_unique<DeliveryJournal>(m_setup.journalPath);
        m_journal->onError([this](const QString& reason) {
            // Without its record a crash could mail readers twice: stop until the writer acts.
            m_sender.pause();
            m_host.showSendStatus(reason);
        });
    }
    m_pullTimer.setSingleShot(true);
    connect(&m_pullTimer, &QTimer::timeout, this, [this] { pullNow(); });
    m_session.newsletterID = m_setup.issueID;
    m_session.total = m_setup.recipients.size();
}

ListSend::~ListSend() {
    // A run that ends inside cancel() must not carry on into a half-destroyed object.
    m_closing = true;
    m_pullTimer.stop();
    m_sender.cancel();
}

void ListSend::start() {
    m_running = true;
    setSession(SendSession{m_setup.issueID, 0, 0, m_setup.recipients.size(),
                           QStringLiteral("Sending"), false, false, 0, 0, false});
    if (m_setup.pullsWorker) {
        m_pullTimer.start(m_setup.firstPull);
    }
    run();
}

void ListSend::pause() {
    if (!m_running || m_session.isPaused) {
        return;
    }
    m_sender.pause();
    // The screens say so at once; the issue is marked and saved once the messages in flight
    // are back.
    SendSession session = m_session;
    session.isPaused = true;
    session.state = QStringLiteral("Paused");
    setSession(session);
}

void ListSend::resume(bool confirmHalt) {
    if (!m_running || (m_session.isHalted && !confirmHalt)) {
        return;
    }
    if (m_session.isHalted) {
        m_guardWindow = QSet<QUuid>();
    }
    m_sender.resume();
}

void ListSend::cancel() {
    m_sender.cancel();
}

QCoro::Task<void> ListSend::run() {
    QPointer<ListSend> self(this);
    auto courier = std::make_shared<Courier>();
    courier->client = m_setup.client;
    courier->from = m_setup.from;
    courier->messages = m_setup.messages;
    courier->demoDelay = m_setup.demoDelay;
    courier->now = m_setup.now;
    courier->quotaSentence = [self] { return self ? self->quotaSentence() : QString(); };

    BulkSender::Callbacks callbacks;
    callbacks.deliver = [courier](const Subscriber& reader) { return deliverTo(courier, reader); };
    callbacks.currentStats = [self] {
        if (!self) {
            throw std::runtime_error("the send was abandoned");
        }
        return self->guardStats();
    };
    callbacks.onProgress = [self](const SendProgress& report) {
        if (self && !report.state.isFinal()) { // the end is applied below, status first
            self->progress(report);
        }
    };
    callbacks.settled = [self](const Subscriber& reader, const DeliveryResult& result) {
        if (self) {
            self->settle(reader, result);
        }
    };
    auto sending = m_sender.run(m_setup.recipients, std::move(callbacks));
    const SendProgress final = co_await sending;
    if (!self || m_closing) {
        co_return;
    }
    m_pullTimer.stop();
    if (m_journal) {
        m_journal->flush();
    }

    // The end state first: on disk before anything else can hang or fail.
    Library& library = m_host.sendLibrary();
    bool publish = false;
    if (Newsletter* issue = library.issue(m_setup.issueID)) {
        if (final.state.kind != SendProgress::State::Kind::finished) {
            issue->status = CampaignStatus::paused;
        } else if (issue->deliveredIDs.isEmpty()) {
            issue->status = CampaignStatus::failed; // nobody has it: nothing to publish
        } else if (issue->status != CampaignStatus::sent) {
            issue->status = CampaignStatus::sent;
            issue->sentAt = m_setup.now();
            publish = true;
        }
        m_host.sendRecorded();
    }
    progress(final);
    m_running = false;
    if (m_journal) {
        const bool saved = co_await m_host.saveSendState();
        if (!self) {
            co_return;
        }
        if (saved) {
            const QString journal = m_journal->path();
            m_journal.reset();
            QFile::remove(journal);
        }
    }
    // The worker's last word on this send's readers, then the archive.
    if (m_setup.pullsWorker) {
        co_await pullNow();
        if (!self) {
            co_return;
        }
        if (!m_setup.journalPath.isEmpty()) {
            co_await m_host.saveSendState();
            if (!self) {
                co_return;
            }
        }
    }
    if (publish) {
        if (const Newsletter* issue = m_host.sendLibrary().issue(m_setup.issueID)) {
            co_await m_host.publishSent(*issue);
            if (!self) {
                co_return;
            }
        }
    }
    m_ended = true;
    Q_EMIT ended();
}

QCoro::Task<void> ListSend::pullNow() {
    if (m_pulling) {
        co_return;
    }
    QPointer<ListSend> self(this);
    m_pulling = true;
    co_await m_host.pullWorkerChanges();
    if (!self) {
        co_return;
    }
    m_pulling = false;
    if (m_running && m_setup.pullsWorker) {
        m_pullTimer.start(m_setup.pullInterval);
    }
}

void ListSend::settle(const Subscriber& reader, const DeliveryResult& result) {
    using Kind = DeliveryResult::Kind;
    const Outcome outcome = result.kind == Kind::delivered  ? Outcome::delivered
                            : result.kind == Kind::rejected ? Outcome::failed
                                                            : Outcome::uncertain;
    if (m_journal) {
        m_journal->record(outcome, reader.id);
    }
    if (outcome == Outcome::delivered) {
        if (!m_firstDelivery) {
            m_firstDelivery = m_setup.now();
        }
        if (m_guardWindow) {
            m_guardWindow->insert(reader.id);
        }
    }
    if (Newsletter* issue = m_host.sendLibrary().issue(m_setup.issueID)) {
        DeliveryJournal::apply(*issue, outcome, reader.id);
        m_host.sendRecorded();
    }
}

void ListSend::progress(const SendProgress& report) {
    using Kind = SendProgress::State::Kind;
    const bool paused = report.state.kind == Kind::paused || report.state.kind == Kind::halted;
    setSession(SendSession{m_setup.issueID, report.sent, report.failed, report.total,
                           stateText(report.state), paused, report.state.isFinal(),
                           report.uncertain, report.retrying, report.state.kind == Kind::halted});
    Newsletter* issue = m_host.sendLibrary().issue(m_setup.issueID);
    if (report.state.isFinal() || !issue) {
        return;
    }
    // Into a pause (once the messages in flight are back) and out of it, the issue's status on
    // disk follows, with everything delivered so far.
    const CampaignStatus status = paused ? CampaignStatus::paused : CampaignStatus::sending;
    if (issue->status == status || (paused && m_sender.inFlight() > 0)) {
        return;
    }
    issue->status = status;
    m_host.sendRecorded();
    if (m_journal) {
        m_journal->flush();
        m_host.saveSendState();
    }
}

CampaignStats ListSend::guardStats() const {
    const Newsletter* issue = m_host.sendLibrary().issue(m_setup.issueID);
    if (!issue) {
        throw std::runtime_error("the issue is gone");
    }
    if (!m_guardWindow) {
        return issue->stats;
    }
    CampaignStats window;
    window.sent = m_guardWindow->size();
    for (const QUuid& reader : *m_guardWindow) {
        const SubscriberStatus status = m_attributed.value(reader, SubscriberStatus::active);
        window.bounced += status == SubscriberStatus::bounced ? 1 : 0;
        window.complained += status == SubscriberStatus::complained ? 1 : 0;
    }
    return window;
}

void ListSend::attribute(const QList<StatusChange>& changes) {
    Newsletter* issue = m_host.sendLibrary().issue(m_setup.issueID);
    if (!issue) {
        return;
    }
    bool counted = false;
    for (const auto& [reader, status] : changes) {
        if (!issue->deliveredIDs.contains(reader) || m_attributed.contains(reader)) {
            continue;
        }
        qint64* counter = status == SubscriberStatus::bounced        ? &issue->stats.bounced
                          : status == SubscriberStatus::complained   ? &issue->stats.complained
                          : status == SubscriberStatus::unsubscribed ? &issue->stats.unsubscribed
                                                                     : nullptr;
        if (counter) {
            ++*counter;
            m_attributed.insert(reader, status);
            counted = true;
        }
    }
    if (counted) {
        m_host.sendRecorded();
    }
}

QString ListSend::quotaSentence() const {
    // The quota is a rolling 24 hours: it frees up as the messages sent a day earlier age out,
    // at the latest a day after this send's first message.
    const QDateTime from = m_firstDelivery.value_or(m_setup.now()).addDays(1).toLocalTime();
    return QStringLiteral("Amazon SES's daily sending quota is used up. You can resume by %1, "
                          "as the messages of the last 24 hours age out.")
        .arg(QLocale(QLocale::English).toString(from, QStringLiteral("ddd d MMM HH:mm")));
}

void ListSend::setSession(SendSession session) {
    if (m_session != session) {
        m_session = std::move(session);
        m_host.sessionUpdated(m_session);
    }
}

QList<Subscriber> ListSend::recipients(const Library& library, const Newsletter& issue,
                                       bool failedOnly) {
    QList<Subscriber> out;
    for (const Subscriber& s : library.subscribers) {
        if (!isSendable(s.status) || issue.deliveredIDs.contains(s.id)) {
            continue;
        }
        const bool failed = issue.failedIDs.contains(s.id);
        if (failedOnly ? failed : !failed && !issue.uncertainIDs.contains(s.id)) {
            out.append(s);
        }
    }
    return out;
}

QStringList ListSend::recover(Library& library, const QString& libraryPath, bool* changed) {
    const QStringList journals = DeliveryJournal::foldInto(library, libraryPath);
    *changed = !journals.isEmpty();
    for (Newsletter& issue : library.newsletters) {
        if (issue.status == CampaignStatus::sending) {
            issue.status = CampaignStatus::paused;
            *changed = true;
        }
    }
    return journals;
}

} // namespace quillmere
