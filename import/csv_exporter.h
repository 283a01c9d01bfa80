#pragma once

#include "core/subscriber.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The list as a CSV file a writer can take anywhere: the header
// email,name,status,source,created_at,updated_at, one reader a line, RFC 4180 quoting (CRLF line
// ends), UTF-8, dates in ISO 8601 UTC with milliseconds. Reading the file back with the importer
// gives the same addresses, names, statuses and creation dates.
namespace quillmere::CSVExporter {

QByteArray header();
// One reader's line, line end included.
QByteArray line(const Subscriber& subscriber);
QByteArray exportCSV(const QList<Subscriber>& subscribers);

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a line break.
QString field(const QString& value);

} // namespace quillmere::CSVExporter
