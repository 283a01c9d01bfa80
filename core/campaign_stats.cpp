#include "core/campaign_stats.h"

#include "core/json_reader.h"

namespace quillmere {

QJsonObject CampaignStats::toJson() const {
    return QJsonObject{
        {QLatin1String("recipients"), recipients}, {QLatin1String("sent"), sent},
        {QLatin1String("failed"), failed},         {QLatin1String("bounced"), bounced},
        {QLatin1String("complained"), complained}, {QLatin1String("unsubscribed"), unsubscribed},
    };
}

CampaignStats CampaignStats::fromJson(const QJsonValue& value, const QString& path) {
    const JsonReader r(value, QStringLiteral("CampaignStats"), path);
    CampaignStats s;
    s.recipients = r.integer(QLatin1String("recipients"));
    s.sent = r.integer(QLatin1String("sent"));
    s.failed = r.integer(QLatin1String("failed"));
    s.bounced = r.integer(QLatin1String("bounced"));
    s.complained = r.integer(QLatin1String("complained"));
    s.unsubscribed = r.integer(QLatin1String("unsubscribed"));
    return s;
}

} // namespace quillmere
