#include "core/subscriber.h"

#include "core/iso_date.h"
#include "core/json_reader.h"
#include "core/uuid_text.h"

namespace quillmere {

QJsonObject Subscriber::toJson() const {
    return QJsonObject{
        {QLatin1String("id"), uuidUpper(id)},
        {QLatin1String("email"), email},
        {QLatin1String("name"), name},
        {QLatin1String("status"), rawValue(status)},
        {QLatin1String("source"), source},
        {QLatin1String("createdAt"), IsoDate::format(createdAt)},
        {QLatin1String("updatedAt"), IsoDate::format(updatedAt)},
    };
}

Subscriber Subscriber::fromJson(const QJsonValue& value, const QString& path) {
    const JsonReader r(value, QStringLiteral("Subscriber"), path);
    Subscriber s;
    s.id = r.uuid(QLatin1String("id"));
    s.email = r.string(QLatin1String("email"));
    s.name = r.string(QLatin1String("name"));
    s.status = r.enumeration<SubscriberStatus>(QLatin1String("status"));
    s.source = r.string(QLatin1String("source"));
    s.createdAt = r.date(QLatin1String("createdAt"));
    s.updatedAt = r.date(QLatin1String("updatedAt"));
    return s;
}

} // namespace quillmere
