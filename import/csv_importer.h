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

#include <functional>
#include <optional>

class QIODevice;

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

// Reads an open file as it comes, in pieces, so that a list larger than memory still imports;
// its encoding is recognised as CSVTextSource says. `progress` hears the bytes read so far and
// the file's size every few thousand rows; returning false stops the import, and then there is
// no result.
using Progress = std::function<bool(qint64 read, qint64 size)>;
std::optional<CSVImportResult> importFile(QIODevice& file, const QString& source,
                                          const QDateTime& now, const Progress& progress = {});

// Skipped rows as a CSV file of their own ("line,reason"), for the writer to fix and import.
QByteArray skippedRowsCSV(const QList<SkippedRow>& rows);

// The whole text of a file's bytes, by the rules of importFile.
QString decodeFile(const QByteArray& bytes);

// The steps importCSV is built on.

// The records with their starting lines (a record whose quote is never closed is none).
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
