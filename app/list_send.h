#pragma once

#include "app/delivery_journal.h"
#include "app/send_session.h"
#include "app/worker_sync.h"
#include "core/library.h"
#include "render/reader_message.h"
#include "ses/bulk_sender.h"
#include "ses/ses_account.h"
#include "ses/ses_client.h"

#include <QObject>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

namespace quillmere {

// One whole-list send of one issue: the bulk sender and its callbacks, the journal of what
// became of each reader, the worker pulls that bring bounces home during the send and the
// bounce guard's view of them, the issue's status and the SendSession the screens show. It
// works on the owner's Library through a Host (the AppModel, in the app and on the command
// line) and outlives its run, so the last session stays visible until the next send.
class ListSend : public QObject {
    Q_OBJECT

public:
    // What the send needs from whoever owns the library.
    class Host {
    public:
        virtual ~Host() = default;
        virtual Library& sendLibrary() = 0;
        // The issue's record changed (no save: the journal holds it).
        virtual void sendRecorded() = 0;
        // Writes the library now; false when that failed.
        virtual QCoro::Task<bool> saveSendState() = 0;
        // Pushes and pulls the worker's changes; the merge hands status changes to attribute().
        virtual QCoro::Task<void> pullWorkerChanges() = 0;
        virtual QCoro::Task<void> publishSent(const Newsletter& issue) = 0;
        virtual void sessionUpdated(const SendSession& session) = 0;
        virtual void showSendStatus(const QString& text) = 0;
    };

    struct Setup {
        QUuid issueID;
        QList<Subscriber> recipients;
        BulkSender::Options sender;
        // Real sends; without a client the send is the demo's (each reader takes `demoDelay`).
        std::optional<SESClient> client;
        QString from;
        std::optional<ReaderMessage::Batch> messages;
        std::chrono::milliseconds demoDelay{40};
        QString journalPath; // empty: nothing is journaled or saved (demo)
        bool pullsWorker = false;
        std::chrono::milliseconds firstPull{5000};
        std::chrono::milliseconds pullInterval{10000};
        std::function<QDateTime()> now;
    };

    // Raises FileError when the journal cannot be opened.
    ListSend(Host& host, Setup setup, QObject* parent = nullptr);
    ~ListSend() override;

    // Starts the run; the session is shown at once.
    void start();
    void pause();
    // Resuming after a bounce-guard halt needs the writer's confirmation; from then on the
    // guard judges only the messages sent after it, with the bounces they bring.
    void resume(bool confirmHalt = false);
    void cancel();

    const QUuid& issueID() const { return m_setup.issueID; }
    bool isRunning() const { return m_running; }
    // Until its last pull is in, the worker's news about its readers counts against the issue.
    bool isAttributing() const { return !m_ended; }
    bool isHalted() const { return m_session.isHalted; }
    const SendSession& session() const { return m_session; }
    int inFlight() const { return m_sender.inFlight(); }
    int concurrency() const { return m_sender.concurrency(); }

    // Readers of this send who bounced, complained or left, as the worker reports them.
    void attribute(const QList<StatusChange>& changes);

    // Who a send of the issue reaches: active readers it has not delivered to, failed or left
    // uncertain; with `failedOnly`, the active readers it failed.
    static QList<Subscriber> recipients(const Library& library, const Newsletter& issue,
                                        bool failedOnly = false);

    // Applied to a library as it is loaded: journals of sends cut short are folded in, and an
    // issue left "sending" by a process that died becomes paused. Returns the journals read
    // (to remove once saved) and sets `changed` when anything changed.
    static QStringList recover(Library& library, const QString& libraryPath, bool* changed);

Q_SIGNALS:
    // The run is over and its final state saved, pulled and handed to publishing.
    void ended();

private:
    QCoro::Task<void> run();
    QCoro::Task<void> pullNow();
    void settle(const Subscriber& reader, const DeliveryResult& result);
    void progress(const SendProgress& report);
    CampaignStats guardStats() const;
    QString quotaSentence() const;
    void setSession(SendSession session);

    Host& m_host;
    Setup m_setup;
    BulkSender m_sender;
    std::unique_ptr<DeliveryJournal> m_journal;
    QTimer m_pullTimer;
    SendSession m_session;
    bool m_running = false;
    bool m_pulling = false;
    bool m_closing = false;
    bool m_ended = false;
    std::optional<QSet<QUuid>> m_guardWindow; // readers sent since a confirmed resume
    QHash<QUuid, SubscriberStatus> m_attributed;
    std::optional<QDateTime> m_firstDelivery;
};

} // namespace quillmere
