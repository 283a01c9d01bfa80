#pragma once

#include "core/sender_profile.h"

namespace quillmere::ProductionAccess {

inline const QString defaultListSource =
    QStringLiteral("people who signed up on my website through a double opt-in form");
inline const QString defaultVolume = QStringLiteral("about 2,000 emails per month");

// The use-case description for Amazon's production-access request: the specifics AWS looks for
// (consent, unsubscribes, bounce handling, postal address, an archive sample), filled in from
// the profile and three answers. Values are used as typed.
QString requestText(const SenderProfile& profile, const QString& website, const QString& listSource,
                    const QString& volume);

} // namespace quillmere::ProductionAccess
