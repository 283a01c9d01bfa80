#include "app/production_access.h"

namespace quillmere::ProductionAccess {

QString requestText(const SenderProfile& profile, const QString& website, const QString& listSource,
                    const QString& volume) {
    const QString name = profile.publicationName.isEmpty() ? QStringLiteral("my newsletter")
                                                           : profile.publicationName;
    QString site = website;
    if (site.isEmpty()) {
        site = profile.domain.isEmpty() ? QStringLiteral("my website")
                                        : QStringLiteral("https://") + profile.domain;
    }
    return QStringLiteral("I publish ") + name + QStringLiteral(", an editorial newsletter at ") +
           site + QStringLiteral(". I send one issue per week to subscribers, ") + volume +
           QStringLiteral(".\n\nHow recipients join: the list is made only of ") + listSource +
           QStringLiteral(
               ". Every new signup receives a confirmation email and is added only after "
               "clicking the confirmation link. I never buy, rent or scrape addresses.\n\n"
               "Unsubscribes: every email contains a visible unsubscribe link and RFC 8058 "
               "List-Unsubscribe and List-Unsubscribe-Post headers, so recipients can leave in "
               "one click. Unsubscribes are processed immediately and those addresses are never "
               "mailed again.\n\nBounces and complaints: SES bounce and complaint notifications "
               "are delivered through Amazon SNS to my webhook. Hard bounces and complaints are "
               "suppressed automatically, and my sending tool pauses a campaign if the bounce "
               "rate passes 5% or the complaint rate passes 0.1%.\n\nContent: original articles "
               "written by me. Every email includes my physical postal address. A sample issue "
               "is available at ") +
           site + QStringLiteral("/archive.");
}

} // namespace quillmere::ProductionAccess
