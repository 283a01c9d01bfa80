#include "app/send_plan.h"

#include <QLocale>

#include <cmath>

namespace quillmere {

QString groupedNumber(qint64 n) {
    return QLocale(QLocale::English).toString(n);
}

SendPlan SendPlan::make(qint64 recipients, double rate, const std::optional<SESAccount>& account) {
    SendPlan plan;
    plan.recipients = recipients;
    plan.rate = rate > 0 ? rate : 0.8;
    // A negative Max24HourSend means no daily limit.
    if (account && account->max24HourSend >= 0) {
        plan.remainingQuota =
            std::max<qint64>(0, qint64(account->max24HourSend - account->sentLast24Hours));
    }
    plan.sandbox = account && !account->productionAccessEnabled;
    return plan;
}

std::chrono::seconds SendPlan::duration() const {
    return std::chrono::seconds(qint64(std::ceil(double(recipients) / rate)));
}

QString SendPlan::durationText() const {
    const qint64 seconds = duration().count();
    QString length;
    if (seconds < 60) {
        length = QStringLiteral("under a minute");
    } else if (seconds < 3600) {
        const qint64 minutes = (seconds + 59) / 60;
        length = QStringLiteral("about %1 minute%2").arg(minutes).arg(minutes == 1 ? "" : "s");
    } else {
        const qint64 minutes = (seconds + 59) / 60;
        length = QStringLiteral("about %1 h %2 min").arg(minutes / 60).arg(minutes % 60);
    }
    return QStringLiteral("Sending to %1 readers takes %2.").arg(groupedNumber(recipients), length);
}

std::optional<QString> SendPlan::quotaText() const {
    if (!remainingQuota) {
        return std::nullopt;
    }
    return QStringLiteral("Amazon SES lets you send %1 more messages today.")
        .arg(groupedNumber(*remainingQuota));
}

std::optional<QString> SendPlan::quotaWarning() const {
    if (!exceedsQuota()) {
        return std::nullopt;
    }
    return QStringLiteral("That is fewer than the %1 readers of this issue: the send pauses when "
                          "the quota runs out, and you can resume it once it frees up.")
        .arg(groupedNumber(recipients));
}

std::optional<QString> SendPlan::sandboxNotice() const {
    if (!sandbox) {
        return std::nullopt;
    }
    return QStringLiteral("Your Amazon SES account is in the sandbox: only addresses you have "
                          "verified in Amazon SES receive mail. Request production access first.");
}

QString sendSummary(const Newsletter& issue) {
    QString text = QStringLiteral("Sent to ") + groupedNumber(issue.stats.sent);
    if (!issue.failedIDs.isEmpty()) {
        text += QStringLiteral(" · %1 failed").arg(groupedNumber(issue.failedIDs.size()));
    }
    if (!issue.uncertainIDs.isEmpty()) {
        text += QStringLiteral(" · %1 uncertain").arg(groupedNumber(issue.uncertainIDs.size()));
    }
    return text;
}

} // namespace quillmere
