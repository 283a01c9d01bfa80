#include "cli/cli_command.h"
#include "core/iso_date.h"
#include "import/csv_importer.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillmere::cli {

namespace {

QJsonObject resultJson(const CSVImportResult& result) {
    QJsonArray subscribers;
    for (const Subscriber& s : result.subscribers) {
        subscribers.append(QJsonObject{
            {QLatin1String("email"), s.email},
            {QLatin1String("name"), s.name},
            {QLatin1String("status"), rawValue(s.status)},
            {QLatin1String("source"), s.source},
            {QLatin1String("createdAt"), IsoDate::format(s.createdAt)},
        });
    }
    QJsonArray skipped;
    for (const SkippedRow& row : result.skipped) {
        skipped.append(QJsonObject{
            {QLatin1String("line"), qint64(row.line)},
            {QLatin1String("reason"), row.reason},
        });
    }
    return QJsonObject{
        {QLatin1String("format"), rawValue(result.format)},
        {QLatin1String("subscribers"), subscribers},
        {QLatin1String("skipped"), skipped},
        {QLatin1String("duplicates"), qint64(result.duplicates)},
        {QLatin1String("confirmedElsewhere"), qint64(result.confirmedElsewhere)},
        {QLatin1String("assumedActive"), qint64(result.assumedActive)},
    };
}

} // namespace

int runImport(const QStringList& arguments) {
    Arguments args(arguments);
    const std::optional<QString> source = args.option(QStringLiteral("source"));
    const QStringList files = args.positional();
    if (files.size() != 1) {
        throw UsageError(QStringLiteral("expects one FILE (see --help)"));
    }
    const QString& path = files.first();
    const bool fromStdin = path == QLatin1String("-");
    const QByteArray bytes = readFileOrStdin(fromStdin ? std::nullopt : std::optional(path));
    // Like the application: the file's name without its extension labels the subscribers.
    const QString label =
        source.value_or(fromStdin ? QStringLiteral("import") : QFileInfo(path).completeBaseName());
    const CSVImportResult result = CSVImporter::importCSV(CSVImporter::decodeFile(bytes), label);
    writeOut(QJsonDocument(resultJson(result)).toJson(QJsonDocument::Indented));
    return exitSuccess;
}

} // namespace quillmere::cli
