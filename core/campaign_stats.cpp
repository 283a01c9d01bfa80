#include "core/campaign_stats.h"

#include "core/library_json_reader.h"

namespace quillmere {

QJsonObject CampaignStats::toJson() const {
    QJsonObject o{
        {QLatin1String("recipients"), recipients}, {QLatin1String("sent"), sent},
        {QLatin1String("failed"), failed},         {QLatin1String("bounced"), bounced},
        {QLatin1String("complained"), complained}, {QLatin1String("unsubscribed"), unsubscribed},
    };
    return LibraryJSONReader::withOtherMembers(o, otherMembers);
}

CampaignStats CampaignStats::fromJson(const QJsonValue& value, const QString& path) {
    return LibraryJSONReader::readRecord<CampaignStats>(LibraryJSONReader::compactJson(value),
                                                        path);
}

} // namespace quillmere
