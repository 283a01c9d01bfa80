#pragma once

#include "core/campaign_stats.h"
#include "core/campaign_status.h"
#include "core/email_template.h"
#include "core/iso_date.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSet>
#include <QUuid>

#include <optional>

namespace quillmere {

// One issue of the newsletter, identified by `id`.
struct Newsletter {
    QUuid id;
    QString subject;
    QString previewText;
    QString markdown; // may hold the merge tags {{name}} and {{email}}
    EmailTemplate emailTemplate = EmailTemplate::editorial;
    CampaignStatus status = CampaignStatus::draft;
    QDateTime createdAt = IsoDate::epoch();
    std::optional<QDateTime> sentAt; // set when a list send finishes
    CampaignStats stats;
    QSet<QUuid> deliveredIDs; // readers already reached; a resumed send skips them
    // Readers SES refused for good ("Retry Failed" tries them again), and readers whose message
    // may or may not have arrived (the connection broke after it went out): never sent to
    // again without the writer. Stored only when not empty.
    QSet<QUuid> failedIDs;
    QSet<QUuid> uncertainIDs;
    QJsonObject otherMembers = {}; // kept as read and written back: see Library::otherMembers

    // The archive path of the published issue: the subject reduced to ASCII letters and digits
    // joined by hyphens (at most 80 characters, "issue" when nothing is left), a hyphen and the
    // first six characters of the id in lower case.
    QString slug() const;

    QJsonObject toJson() const;
    static Newsletter fromJson(const QJsonValue& value, const QString& path);

    bool operator==(const Newsletter&) const = default;
};

inline size_t qHash(const Newsletter& n, size_t seed = 0) {
    return qHashMulti(seed, n.id, n.subject, n.previewText, n.markdown, n.emailTemplate, n.status,
                      n.createdAt, n.sentAt.value_or(QDateTime()), n.sentAt.has_value(), n.stats,
                      n.deliveredIDs, n.failedIDs, n.uncertainIDs, n.otherMembers);
}

// Sorted upper-case texts of a set of ids: the stable order in which files hold them.
QStringList sortedUuidTexts(const QSet<QUuid>& ids);

} // namespace quillmere
