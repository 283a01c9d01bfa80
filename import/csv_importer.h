#pragma once

#include "core/subscriber_status.h"
#include "import/csv_format.h"
#include "import/csv_import_result.h"

#include <QByteArray>
#include <QDateTime>
#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Turns the CSV export of another newsletter service (Substack, Beehiiv, Mailchimp) or any file
// with an email column into subscribers. Pure functions of the text: the importer never fails,
// every rejected row is reported in the result.
namespace quillmere::CSVImporter {

// One record of the file.
struct Row {
    qsizetype line = 0; // physical line (from 1) on which the record starts
    QStringList fields;

    bool operator==(const Row&) const = default;
};

inline size_t qHash(const Row& row, size_t seed = 0) {
    return qHashMulti(seed, row.line, row.fields);
}

// The whole import. `source` labels every subscriber; the text "import" becomes "import:" and
// the detected format ("import:mailchimp"). The first overload takes the import time from the
// clock, once; `now` becomes every subscriber's updatedAt and the createdAt of rows without a
// readable date.
CSVImportResult importCSV(QStringView text, const QString& source);
CSVImportResult importCSV(QStringView text, const QString& source, const QDateTime& now);

// Every record's fields, header included.
QList<QStringList> parseRows(QStringView text);

// The export a header row belongs to; names are compared trimmed and lower-cased.
CSVFormat detectFormat(const QStringList& header);

// The text of a file's bytes: UTF-8 when they are valid UTF-8, else ISO Latin-1 (what older
// spreadsheet exports write).
QString decodeFile(const QByteArray& bytes);

// The steps importCSV is built on.

// The records with their starting lines.
QList<Row> tokenize(QStringView text);

// Position of the first candidate present in the header (candidates in priority order, each at
// its first position); header names are compared trimmed and lower-cased.
std::optional<qsizetype> columnIndex(const QStringList& candidates, const QStringList& header);

// A service's status word ("Subscribed", "opted-in", "cleaned", ...) as a status, if known.
std::optional<SubscriberStatus> mapStatus(QStringView value);

// A created date in one of the forms exports write: ISO 8601 with a zone, or "yyyy-MM-dd
// HH:mm:ss", "yyyy-MM-dd'T'HH:mm:ss[.SSS]", "yyyy-MM-dd HH:mm", "yyyy-MM-dd", "MM/dd/yyyy
// HH:mm", "MM/dd/yyyy" in UTC, optionally followed by " UTC", " GMT", " +0000" or "Z".
std::optional<QDateTime> parseDate(QStringView value);

} // namespace quillmere::CSVImporter
