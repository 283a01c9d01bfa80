#pragma once

#include "core/subscriber.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace quillmere {

// One answer of a pull: at most a page of subscribers, the worker's clock read before it read
// them (absent from workers that predate it), and where the next page starts when more remain.
struct WorkerPage {
    QList<Subscriber> subscribers;
    std::optional<QDateTime> syncedAt;
    std::optional<QString> next;

    bool operator==(const WorkerPage&) const = default;
};

} // namespace quillmere
