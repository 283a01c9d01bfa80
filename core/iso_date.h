#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quillmere::IsoDate {

// The instant records hold until they are given a date of their own.
inline QDateTime epoch() {
    return QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
}

// "2025-03-14T09:26:53.589Z": ISO 8601 extended form in UTC with milliseconds.
QString format(const QDateTime& date);

// Reads the form `format` writes, and the same without fractional seconds; any zone designator
// ("Z" or an offset) is accepted and the result is in UTC. Anything else gives none.
std::optional<QDateTime> parse(QStringView text);

// Whole seconds in UTC ("2025-03-01T09:30:00Z"), the form of the worker's wire.
QString formatSeconds(const QDateTime& date);

} // namespace quillmere::IsoDate
