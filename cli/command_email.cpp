#include "cli/cli_command.h"
#include "core/error.h"
#include "core/iso_date.h"
#include "core/library_file.h"
#include "render/email_address.h"
#include "render/mime_builder.h"
#include "render/reader_message.h"
#include "render/template_renderer.h"

#include <QFileInfo>

namespace quillmere::cli {

// Signs the links of previews made from the command line; real sends use the secret in the
// credential store.
const QString previewSecret = QStringLiteral("quillmere-preview-only");

namespace {

Subscriber findReader(const Library& library, const QString& address) {
    const QString wanted = EmailAddress::normalised(address);
    for (const Subscriber& s : library.subscribers) {
        if (EmailAddress::normalised(s.email) == wanted) {
            return s;
        }
    }
    throw UsageError(QStringLiteral("no subscriber with address %1 in the library").arg(address));
}

} // namespace

int runEmail(const QStringList& arguments) {
    Arguments args(arguments);
    const QString libraryPath = args.required(QStringLiteral("library"));
    const QString issueID = args.required(QStringLiteral("issue"));
    const std::optional<QString> to = args.option(QStringLiteral("to"));
    const QString secret = args.option(QStringLiteral("secret")).value_or(previewSecret);
    const QString part = args.option(QStringLiteral("part")).value_or(QStringLiteral("mime"));
    const std::optional<QString> dateText = args.option(QStringLiteral("date"));
    const std::optional<QString> boundary = args.option(QStringLiteral("boundary"));
    const QStringList rest = args.positional();
    if (!rest.isEmpty()) {
        throw UsageError(QStringLiteral("unexpected argument %1").arg(rest.first()));
    }
    static const QStringList parts = {QStringLiteral("subject"), QStringLiteral("html"),
                                      QStringLiteral("text"), QStringLiteral("mime")};
    if (!parts.contains(part)) {
        throw UsageError(
            QStringLiteral("--part must be subject, html, text or mime, not \"%1\"").arg(part));
    }
    QDateTime date = QDateTime::currentDateTimeUtc();
    if (dateText) {
        const auto parsed = IsoDate::parse(*dateText);
        if (!parsed) {
            throw UsageError(QStringLiteral("--date must be an ISO 8601 date and time such as "
                                            "2025-03-04T09:05:00Z, not \"%1\"")
                                 .arg(*dateText));
        }
        date = *parsed;
    }
    if (boundary && !MIMEBuilder::isValidBoundary(*boundary)) {
        throw UsageError(QStringLiteral("--boundary must be 1 to 70 letters, digits or "
                                        "'()+_,-./:=? characters, not ending in a space"));
    }

    const Library library = readLibrary(libraryPath);
    const Newsletter& issue = findIssue(library, issueID);
    const Subscriber reader = to ? findReader(library, *to)
                                 : ReaderMessage::previewReader(QDateTime::currentDateTimeUtc());

    if (part == QLatin1String("mime")) {
        writeOut(ReaderMessage::build(issue, library.profile, reader, secret, date, boundary));
        return exitSuccess;
    }
    const RenderedEmail email =
        TemplateRenderer::render(ReaderMessage::context(issue, library.profile, reader, secret));
    if (part == QLatin1String("subject")) {
        writeOut(email.subject);
    } else if (part == QLatin1String("html")) {
        writeOut(email.html);
    } else {
        writeOut(email.text);
    }
    return exitSuccess;
}

} // namespace quillmere::cli
