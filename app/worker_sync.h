#pragma once

#include "core/subscriber.h"

#include <QDateTime>
#include <QHash>
#include <QList>

#include <chrono>
#include <optional>

namespace quillmere {

// A reader whose status a pull from the worker changed.
struct StatusChange {
    QUuid id;
    SubscriberStatus status = SubscriberStatus::pending;

    bool operator==(const StatusChange&) const = default;
};

// Synchronisation with the signup worker, apart from the model that runs it
// (AppModel::syncWithWorker): which local readers to push, how pulled pages merge into the list,
// and where the next pull starts.
namespace WorkerSync {

// How far back from its own clock the application starts the next pull when the worker does
// not tell its clock.
inline constexpr std::chrono::minutes clocklessMargin{5};

// The readers to push: changed after the cursor, or all of them before the first sync.
QList<Subscriber> localChanges(const QList<Subscriber>& subscribers,
                               const std::optional<QDateTime>& lastSync);

// The cursor after a sync that the application began at `startedAt` by its own clock: the
// worker's clock as its first page gave it, for the pull, but never later than `startedAt`, for
// the push: a reader edited here during the sync is pushed next time even when this computer's
// clock runs behind the worker's. Without the worker's clock, `startedAt` less five minutes.
QDateTime nextCursor(const std::optional<QDateTime>& syncedAt, const QDateTime& startedAt);

} // namespace WorkerSync

// Merges pulled pages into a subscriber list. An address already in the list takes the
// worker's status and update time (the worker's state wins) and keeps its id, name, source and
// creation date; an unknown address is appended. Addresses match exactly. The index by address
// is kept across the pages of one sync; whoever edits the list between pages calls reindex().
class SubscriberMerge {
public:
    explicit SubscriberMerge(QList<Subscriber>& subscribers);

    // The existing readers whose status changed.
    QList<StatusChange> apply(const QList<Subscriber>& fetched);
    void reindex();

private:
    QList<Subscriber>& m_subscribers;
    QHash<QString, qsizetype> m_byAddress;
};

} // namespace quillmere
