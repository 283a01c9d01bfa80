#include "core/sender_profile.h"

#include "core/json_reader.h"

namespace quillmere {

QJsonObject SenderProfile::toJson() const {
    return QJsonObject{
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
}

SenderProfile SenderProfile::fromJson(const QJsonValue& value, const QString& path) {
    const JsonReader r(value, QStringLiteral("SenderProfile"), path);
    SenderProfile p;
    p.publicationName = r.string(QLatin1String("publicationName"));
    p.fromName = r.string(QLatin1String("fromName"));
    p.fromEmail = r.string(QLatin1String("fromEmail"));
    p.replyTo = r.string(QLatin1String("replyTo"));
    p.postalAddress = r.string(QLatin1String("postalAddress"));
    p.region = r.string(QLatin1String("region"));
    p.domain = r.string(QLatin1String("domain"));
    p.workerBaseURL = r.string(QLatin1String("workerBaseURL"));
    p.doubleOptIn = r.boolean(QLatin1String("doubleOptIn"));
    return p;
}

} // namespace quillmere
