#include "core/library.h"

#include "core/iso_date.h"
#include "core/json_reader.h"

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
    return o;
}

Library Library::fromJson(const QJsonValue& value) {
    const JsonReader r(value, QStringLiteral("Library"), QString());
    Library library;
    if (r.has(QLatin1String("profile"))) {
        library.profile =
            SenderProfile::fromJson(r.value(QLatin1String("profile")), QStringLiteral("profile"));
    }
    if (r.has(QLatin1String("subscribers"))) {
        const QJsonArray array = r.array(QLatin1String("subscribers"));
        library.subscribers.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i) {
            library.subscribers.append(
                Subscriber::fromJson(array.at(i), QStringLiteral("subscribers[%1]").arg(i)));
        }
    }
    if (r.has(QLatin1String("newsletters"))) {
        const QJsonArray array = r.array(QLatin1String("newsletters"));
        library.newsletters.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i) {
            library.newsletters.append(
                Newsletter::fromJson(array.at(i), QStringLiteral("newsletters[%1]").arg(i)));
        }
    }
    library.lastSync = r.optionalDate(QLatin1String("lastSync"));
    return library;
}

size_t qHash(const Library& library, size_t seed) {
    seed = qHashMulti(seed, library.profile, library.lastSync.value_or(QDateTime()),
                      library.lastSync.has_value());
    seed = qHashRange(library.subscribers.cbegin(), library.subscribers.cend(), seed);
    return qHashRange(library.newsletters.cbegin(), library.newsletters.cend(), seed);
}

} // namespace quillmere
