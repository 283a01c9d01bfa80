#include "core/sender_profile.h"

#include "core/library_json_reader.h"

namespace quillmere {

QJsonObject SenderProfile::toJson() const {
    QJsonObject o{
        {QLatin1String("publicationName"), publicationName},
        {QLatin1String("fromName"), fromName},
        {QLatin1String("fromEmail"), fromEmail},
        {QLatin1String("replyTo"), replyTo},
        {QLatin1String("postalAddress"), postalAddress},
        {QLatin1String("region"), region},
        {QLatin1String("domain"), domain},
        {QLatin1String("workerBaseURL"), workerBaseURL},
        {QLatin1String("doubleOptIn"), doubleOptIn},
    };
    return LibraryJSONReader::withOtherMembers(o, otherMembers);
}

SenderProfile SenderProfile::fromJson(const QJsonValue& value, const QString& path) {
    return LibraryJSONReader::readRecord<SenderProfile>(LibraryJSONReader::compactJson(value),
                                                        path);
}

} // namespace quillmere
