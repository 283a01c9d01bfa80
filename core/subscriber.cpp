#include "core/subscriber.h"

#include "core/iso_date.h"
#include "core/library_json_reader.h"
#include "core/uuid_text.h"

namespace quillmere {

QJsonObject Subscriber::toJson() const {
    QJsonObject o{
        {QLatin1String("id"), uuidUpper(id)},
        {QLatin1String("email"), email},
        {QLatin1String("name"), name},
        {QLatin1String("status"), rawValue(status)},
        {QLatin1String("source"), source},
        {QLatin1String("createdAt"), IsoDate::format(createdAt)},
        {QLatin1String("updatedAt"), IsoDate::format(updatedAt)},
    };
    return LibraryJSONReader::withOtherMembers(o, otherMembers);
}

Subscriber Subscriber::fromJson(const QJsonValue& value, const QString& path) {
    return LibraryJSONReader::readRecord<Subscriber>(LibraryJSONReader::compactJson(value), path);
}

} // namespace quillmere
