#include "cli/cli_command.h"
#include "import/csv_exporter.h"

namespace quillmere::cli {

int runExport(const QStringList& arguments) {
    Arguments args(arguments);
    const QString libraryPath = args.required(QStringLiteral("library"));
    const std::optional<QString> statusText = args.option(QStringLiteral("status"));
    const QStringList rest = args.positional();
    if (!rest.isEmpty()) {
        throw UsageError(QStringLiteral("unexpected argument %1").arg(rest.first()));
    }
    std::optional<SubscriberStatus> status;
    if (statusText) {
        status = fromRaw<SubscriberStatus>(statusText->trimmed().toLower());
        if (!status) {
            throw UsageError(QStringLiteral("--status must be pending, active, unsubscribed, "
                                            "bounced or complained, not \"%1\"")
                                 .arg(*statusText));
        }
    }
    const Library library = readLibrary(libraryPath);
    QList<Subscriber> chosen;
    for (const Subscriber& s : library.subscribers) {
        if (!status || s.status == *status) {
            chosen.append(s);
        }
    }
    writeOut(CSVExporter::exportCSV(chosen));
    return exitSuccess;
}

} // namespace quillmere::cli
