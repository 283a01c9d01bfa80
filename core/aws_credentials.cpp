#include "core/aws_credentials.h"

#include "core/json_reader.h"

namespace quillmere {

QJsonObject AWSCredentials::toJson() const {
    QJsonObject o{
        {QLatin1String("accessKeyID"), accessKeyID},
        {QLatin1String("secretAccessKey"), secretAccessKey},
    };
    if (sessionToken) {
        o.insert(QLatin1String("sessionToken"), *sessionToken);
    }
    return o;
}

AWSCredentials AWSCredentials::fromJson(const QJsonValue& value) {
    const JsonReader r(value, QStringLiteral("AWSCredentials"), QString());
    AWSCredentials c;
    c.accessKeyID = r.string(QLatin1String("accessKeyID"));
    c.secretAccessKey = r.string(QLatin1String("secretAccessKey"));
    c.sessionToken = r.optionalString(QLatin1String("sessionToken"));
    return c;
}

} // namespace quillmere
