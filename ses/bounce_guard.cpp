#include "ses/bounce_guard.h"

namespace quillmere {

namespace {

QString percent(double fraction) {
    return QString::asprintf("%.2f%%", fraction * 100.0);
}

QString haltSentence(const char* what, double rate, double limit, qint64 count, qint64 sent) {
    return QLatin1String(what) + QStringLiteral(" rate ") + percent(rate) +
           QStringLiteral(" is above the ") + percent(limit) + QStringLiteral(" limit (") +
           QString::number(count) + QStringLiteral(" of ") + QString::number(sent) +
           QStringLiteral(" sent). Sending paused to protect your SES reputation.");
}

} // namespace

std::optional<QString> BounceGuard::shouldHalt(const CampaignStats& stats) const {
    const qint64 sent = stats.sent;
    if (sent < minimumSample || sent < 1) {
        return std::nullopt;
    }
    const double bounceRate = double(stats.bounced) / double(sent);
    if (bounceRate > maxBounceRate) {
        return haltSentence("Bounce", bounceRate, maxBounceRate, stats.bounced, sent);
    }
    const double complaintRate = double(stats.complained) / double(sent);
    if (complaintRate > maxComplaintRate) {
        return haltSentence("Complaint", complaintRate, maxComplaintRate, stats.complained, sent);
    }
    return std::nullopt;
}

} // namespace quillmere
