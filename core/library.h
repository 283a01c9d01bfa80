#pragma once

#include "core/newsletter.h"
#include "core/sender_profile.h"
#include "core/subscriber.h"

#include <QList>

namespace quillmere {

// The writer's whole document. Lists are implicitly shared, so a copy handed to the store costs
// nothing until one side changes.
struct Library {
    SenderProfile profile;
    QList<Subscriber> subscribers; // in stored order
    QList<Newsletter> newsletters; // newest first
    std::optional<QDateTime> lastSync;
    // Members of the file this version does not read (written by a newer one, or by hand). They
    // are kept as they were and written back in their place, here and in every record, so that
    // opening a file never loses what it holds.
    QJsonObject otherMembers = {};

    // The issue with that id, or none.
    Newsletter* issue(const QUuid& id);
    const Newsletter* issue(const QUuid& id) const;

    QJsonObject toJson() const;
    // Lenient at this level only: missing keys give the defaults; present values are strict.
    // Raises DecodingError.
    static Library fromJson(const QJsonValue& value);

    bool operator==(const Library&) const = default;
};

size_t qHash(const Library& library, size_t seed = 0);

} // namespace quillmere
