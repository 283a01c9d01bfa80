#pragma once

#include <QHashFunctions>
#include <QJsonObject>

namespace quillmere {

// Per-issue counters.
struct CampaignStats {
    qint64 recipients = 0; // delivered plus queued in the current send
    qint64 sent = 0;       // equals the size of the deliveredIDs
    qint64 failed = 0;     // from the last progress of the bulk sender
    qint64 bounced = 0;
    qint64 complained = 0;
    qint64 unsubscribed = 0;
    QJsonObject otherMembers = {}; // kept as read and written back: see Library::otherMembers

    // Fractions of `sent` (0.05 is 5 %); 0 when nothing was sent.
    double bounceRate() const { return sent == 0 ? 0.0 : double(bounced) / double(sent); }
    double complaintRate() const { return sent == 0 ? 0.0 : double(complained) / double(sent); }

    QJsonObject toJson() const;
    static CampaignStats fromJson(const QJsonValue& value, const QString& path);

    bool operator==(const CampaignStats&) const = default;
};

inline size_t qHash(const CampaignStats& s, size_t seed = 0) {
    return qHashMulti(seed, s.recipients, s.sent, s.failed, s.bounced, s.complained, s.unsubscribed,
                      s.otherMembers);
}

} // namespace quillmere
