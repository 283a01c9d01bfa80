// The sync with the signup worker: the pure parts, and the model's workflow that runs them.
#include "app/worker_sync.h"

#include "app/app_model.h"

#include <QPointer>

namespace quillmere {

QList<Subscriber> WorkerSync::localChanges(const QList<Subscriber>& subscribers,
                                           const std::optional<QDateTime>& lastSync) {
    QList<Subscriber> changed;
    for (const Subscriber& s : subscribers) {
        if (!lastSync || s.updatedAt > *lastSync) {
            changed.append(s);
        }
    }
    return changed;
}

QDateTime WorkerSync::nextCursor(const std::optional<QDateTime>& syncedAt,
                                 const QDateTime& startedAt) {
    if (!syncedAt) {
        return startedAt.addSecs(-std::chrono::seconds(clocklessMargin).count());
    }
    return std::min(*syncedAt, startedAt);
}

SubscriberMerge::SubscriberMerge(QList<Subscriber>& subscribers)
    : m_subscribers(subscribers) {
    reindex();
}

void SubscriberMerge::reindex() {
    m_byAddress.clear();
    m_byAddress.reserve(m_subscribers.size());
    for (qsizetype i = 0; i < m_subscribers.size(); ++i) {
        m_byAddress.insert(m_subscribers[i].email, i);
    }
}

QList<StatusChange> SubscriberMerge::apply(const QList<Subscriber>& fetched) {
    QList<StatusChange> changes;
    for (const Subscriber& remote : fetched) {
        const auto found = m_byAddress.constFind(remote.email);
        if (found == m_byAddress.constEnd()) {
            m_byAddress.insert(remote.email, m_subscribers.size());
            m_subscribers.append(remote);
            continue;
        }
        Subscriber& local = m_subscribers[*found];
        if (local.status != remote.status) {
            changes.append({local.id, remote.status});
        }
        local.status = remote.status;
        local.updatedAt = remote.updatedAt;
    }
    return changes;
}

QCoro::Task<std::optional<QList<StatusChange>>> AppModel::syncWithWorker(bool quiet) {
    const auto client = makeWorkerClient();
    if (!client) {
        co_return std::nullopt;
    }
    QPointer<AppModel> self(this);
    m_pulling = true;
    const QDateTime startedAt = now();
    const std::optional<QDateTime> since = m_library.lastSync;
    QList<Subscriber> changed = WorkerSync::localChanges(m_library.subscribers, since);
    QList<StatusChange> changes;
    try {
        if (!changed.isEmpty()) {
            co_await client->upsertSubscribers(std::move(changed));
            if (!self) {
                co_return std::nullopt;
            }
        }
        // Each page is merged as it comes, so a long first pull keeps what it got if it fails
        // half-way (the cursor stays, and the next sync pulls the rest again).
        SubscriberMerge merge(m_library.subscribers);
        quint64 merged = m_subscriberEdits;
        std::optional<QDateTime> syncedAt;
        std::optional<QString> next;
        qsizetype fetched = 0;
        bool first = true;
        do {
            WorkerPage page = co_await client->fetchPage(since, next);
            if (!self) {
                co_return std::nullopt;
            }
            if (first) {
                syncedAt = page.syncedAt;
                first = false;
            }
            if (m_subscriberEdits != merged) {
                merge.reindex(); // the list was edited while the page was on its way
            }
            const QList<StatusChange> pageChanges = merge.apply(page.subscribers);
            changes.append(pageChanges);
            if (m_listSend && m_listSend->isAttributing()) {
                m_listSend->attribute(pageChanges);
            }
            fetched += page.subscribers.size();
            next = std::move(page.next);
            // A send's pulls reach the disk with the send's own saves (pause, end).
            libraryEdited(subscribersPart, !quiet);
            merged = m_subscriberEdits;
            if (next && !quiet) {
                showStatus(
                    QStringLiteral("Pulled %1 readers from the worker so far…").arg(fetched));
            }
        } while (next);
        m_library.lastSync = WorkerSync::nextCursor(syncedAt, startedAt);
        libraryEdited(subscribersPart | syncPart, !quiet);
        if (quiet && !m_isDemo) {
            m_saver->markUnsaved();
        }
        if (!quiet) {
            showStatus(QStringLiteral("Synced %1 changes from the worker.").arg(fetched));
            co_await reportWorkerFailures(since);
        }
    } catch (const std::exception& error) {
        if (!self) {
            co_return std::nullopt;
        }
        m_pulling = false;
        if (!quiet) {
            showStatus(errorText(error));
        }
        co_return std::nullopt;
    }
    if (self) {
        m_pulling = false;
    }
    co_return changes;
}

} // namespace quillmere
