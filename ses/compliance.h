#pragma once

#include "core/newsletter.h"
#include "core/sender_profile.h"
#include "ses/compliance_issue.h"

#include <QList>

namespace quillmere::Compliance {

// What stands between this issue and a lawful, deliverable list send, in rule order: the
// postal address, the From address and its domain, subject, body, the unsubscribe endpoint,
// then the advisory checks. Empty when everything is in order.
QList<ComplianceIssue> check(const SenderProfile& profile, const Newsletter& newsletter);

} // namespace quillmere::Compliance
