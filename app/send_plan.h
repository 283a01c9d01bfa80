#pragma once

#include "core/newsletter.h"
#include "ses/ses_account.h"

#include <QString>

#include <chrono>
#include <optional>

namespace quillmere {

// What a list send of an issue will do, told before it starts: how many readers, how long at
// the throttled rate, what the account still allows today, and whether it is in the sandbox.
struct SendPlan {
    qint64 recipients = 0;
    double rate = 0.8; // messages per second
    // Max24HourSend minus SentLast24Hours; none while unknown or unlimited.
    std::optional<qint64> remainingQuota;
    bool sandbox = false;

    static SendPlan make(qint64 recipients, double rate, const std::optional<SESAccount>& account);

    std::chrono::seconds duration() const;
    bool exceedsQuota() const { return remainingQuota && recipients > *remainingQuota; }

    // The sheet's lines; none when there is nothing to say.
    QString durationText() const;
    std::optional<QString> quotaText() const;
    std::optional<QString> quotaWarning() const;
    std::optional<QString> sandboxNotice() const;

    bool operator==(const SendPlan&) const = default;
};

// What a list send achieved, in one line: "Sent to 9,950 · 50 failed · 3 uncertain".
QString sendSummary(const Newsletter& issue);

// A count as the interface writes it (9,950).
QString groupedNumber(qint64 n);

} // namespace quillmere
