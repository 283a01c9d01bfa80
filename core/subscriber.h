#pragma once

#include "core/iso_date.h"
#include "core/subscriber_status.h"

#include <QDateTime>
#include <QHashFunctions>
#include <QJsonObject>
#include <QUuid>

namespace quillmere {

// One reader on the list, identified by `id`.
struct Subscriber {
    QUuid id;
    QString email;
    QString name; // may be empty
    SubscriberStatus status = SubscriberStatus::pending;
    QString source; // "manual", "import:substack", "signup-form", "worker", ...
    QDateTime createdAt = IsoDate::epoch();
    QDateTime updatedAt = IsoDate::epoch();
    QJsonObject otherMembers = {}; // kept as read and written back: see Library::otherMembers

    QJsonObject toJson() const;
    static Subscriber fromJson(const QJsonValue& value, const QString& path);

    bool operator==(const Subscriber&) const = default;
};

inline size_t qHash(const Subscriber& s, size_t seed = 0) {
    return qHashMulti(seed, s.id, s.email, s.name, s.status, s.source, s.createdAt, s.updatedAt,
                      s.otherMembers);
}

} // namespace quillmere

// Every member moves by memcpy, so lists of a million readers grow without copying.
Q_DECLARE_TYPEINFO(quillmere::Subscriber, Q_RELOCATABLE_TYPE);
