#include "core/library.h"

#include "core/decoding_error.h"
#include "core/iso_date.h"
#include "core/json_reader.h"
#include "core/library_json_reader.h"

#include <QJsonArray>

namespace quillmere {

Newsletter* Library::issue(const QUuid& id) {
    for (Newsletter& n : newsletters) {
        if (n.id == id) {
            return &n;
        }
    }
    return nullptr;
}

const Newsletter* Library::issue(const QUuid& id) const {
    for (const Newsletter& n : newsletters) {
        if (n.id == id) {
            return &n;
        }
    }
    return nullptr;
}

QJsonObject Library::toJson() const {
    QJsonArray subscriberArray;
    for (const Subscriber& s : subscribers) {
        subscriberArray.append(s.toJson());
    }
    QJsonArray newsletterArray;
    for (const Newsletter& n : newsletters) {
        newsletterArray.append(n.toJson());
    }
    QJsonObject o{
        {QLatin1String("profile"), profile.toJson()},
        {QLatin1String("subscribers"), subscriberArray},
        {QLatin1String("newsletters"), newsletterArray},
    };
    if (lastSync) {
        o.insert(QLatin1String("lastSync"), IsoDate::format(*lastSync));
    }
    return LibraryJSONReader::withOtherMembers(o, otherMembers);
}

Library Library::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        throw DecodingError(QStringLiteral("Library"), QString(), QString(),
                            QStringLiteral("expected an object, found ") +
                                describeJsonValue(value));
    }
    return LibraryJSONReader::read(LibraryJSONReader::compactJson(value)).library;
}

size_t qHash(const Library& library, size_t seed) {
    seed = qHashMulti(seed, library.profile, library.lastSync.value_or(QDateTime()),
                      library.lastSync.has_value(), library.otherMembers);
    seed = qHashRange(library.subscribers.cbegin(), library.subscribers.cend(), seed);
    return qHashRange(library.newsletters.cbegin(), library.newsletters.cend(), seed);
}

} // namespace quillmere
