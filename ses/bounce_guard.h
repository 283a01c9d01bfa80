#pragma once

#include "core/campaign_stats.h"

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace quillmere {

// Halts a list send when bounces or complaints pass their limits, judged once `minimumSample`
// messages are out.
struct BounceGuard {
    double maxBounceRate = 0.05;     // bounced / sent
    double maxComplaintRate = 0.001; // complained / sent
    qint64 minimumSample = 50;

    // The sentence that halts the send, or nothing to carry on. Bounces are judged first.
    std::optional<QString> shouldHalt(const CampaignStats& stats) const;

    bool operator==(const BounceGuard&) const = default;
};

inline size_t qHash(const BounceGuard& g, size_t seed = 0) {
    return qHashMulti(seed, g.maxBounceRate, g.maxComplaintRate, g.minimumSample);
}

} // namespace quillmere
