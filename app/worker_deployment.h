#pragma once

#include "core/sender_profile.h"

#include <QMap>
#include <QString>

#include <optional>

namespace quillmere {

// What the application deploys as the signup worker besides its script: the script's name and
// the plain-text bindings.
namespace WorkerDeployment {

inline const QString scriptName = QStringLiteral("postwick");

// Confirmation mails the public form may cause: per client address an hour, per mailbox in ten
// minutes, and in all an hour. Enough for a newsletter that goes viral, too few to flood an inbox
// or to wreck the writer's SES reputation with invented addresses.
inline constexpr int signupsPerClientPerHour = 5;
inline constexpr int signupsPerMailboxPer10Minutes = 1;
inline constexpr int signupsPerHour = 200;

// The plain-text bindings: the publication, the sender, double opt-in, the signup caps and,
// when known, the writer's AWS account (SNS notifications are accepted from its topics only).
QMap<QString, QString> vars(const SenderProfile& profile,
                            const std::optional<QString>& awsAccountID);

} // namespace WorkerDeployment

} // namespace quillmere
