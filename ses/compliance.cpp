#include "ses/compliance.h"

#include "render/email_address.h"
#include "render/media_reference.h"

#include <QUrl>

namespace quillmere::Compliance {

QList<ComplianceIssue> check(const SenderProfile& profile, const Newsletter& newsletter) {
    QList<ComplianceIssue> issues;
    const auto add = [&issues](const char* id, QString message, bool blocking) {
        issues.append({QLatin1String(id), std::move(message), blocking});
    };

    if (profile.postalAddress.trimmed().isEmpty()) {
        add("postal-address",
            QStringLiteral("Add a physical postal address. CAN-SPAM requires it in every email "
                           "footer."),
            true);
    }

    const QString fromEmail = profile.fromEmail.trimmed();
    const QString sendingDomain = EmailAddress::normalisedDomain(profile.domain);
    if (fromEmail.isEmpty()) {
        add("from-email", QStringLiteral("Set a From email address."), true);
    } else if (!EmailAddress::isValid(fromEmail)) {
        add("from-email",
            QStringLiteral("The From email address \"") + fromEmail +
                QStringLiteral("\" is not valid."),
            true);
    } else if (sendingDomain.isEmpty()) {
        add("domain",
            QStringLiteral("No verified sending domain is set. Verify your domain in Amazon SES."),
            true);
    } else if (const auto fromDomain = EmailAddress::domain(fromEmail)) {
        // A From address on a subdomain of the verified domain passes.
        if (*fromDomain != sendingDomain &&
            !fromDomain->endsWith(QLatin1Char('.') + sendingDomain)) {
            add("from-domain",
                QStringLiteral("The From address uses ") + *fromDomain +
                    QStringLiteral(", but the verified domain is ") + sendingDomain +
                    QLatin1Char('.'),
                true);
        }
    }

    if (newsletter.subject.trimmed().isEmpty()) {
        add("subject", QStringLiteral("Write a subject line."), true);
    }
    if (newsletter.markdown.trimmed().isEmpty()) {
        add("body", QStringLiteral("The newsletter body is empty."), true);
    }

    const QString workerURL = profile.workerBaseURL.trimmed();
    const QUrl url(workerURL, QUrl::StrictMode);
    if (workerURL.isEmpty() || !url.isValid() || url.host().isEmpty()) {
        add("worker-url",
            QStringLiteral("Deploy the Cloudflare Worker first. Without it there is no "
                           "unsubscribe endpoint."),
            true);
    } else if (!workerURL.toLower().startsWith(QLatin1String("https://"))) {
        add("worker-https",
            QStringLiteral("The worker URL should use https so unsubscribe links are trusted."),
            false);
    }
    if (MediaReference::workerMediaBase(workerURL).isEmpty() &&
        !MediaReference::names(newsletter.markdown).isEmpty()) {
        add("media-worker", QStringLiteral("Deploy the signup worker to host this issue's images."),
            true);
    }

    if (profile.publicationName.trimmed().isEmpty()) {
        add("publication-name",
            QStringLiteral("Name your publication so readers recognize it in the footer."), false);
    }
    if (newsletter.previewText.trimmed().isEmpty()) {
        add("preview-text", QStringLiteral("Add preview text to control the inbox snippet."),
            false);
    }
    return issues;
}

} // namespace quillmere::Compliance
