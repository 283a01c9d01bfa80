#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace quillmere::IsoDate {

// The instant records hold until they are given a date of their own.
inline QDateTime epoch() {
    return QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
}

// The date brought into the range the four-digit form can hold (years 1 to 9999), in UTC;
// an unset date becomes the epoch. Every written date goes through this, so every file reads
// back whatever odd instant a peer or an import produced.
QDateTime writable(const QDateTime& date);

// "2025-03-14T09:26:53.589Z": ISO 8601 extended form in UTC with milliseconds.
QString format(const QDateTime& date);

// Reads the form `format` writes, and the same without fractional seconds; any zone designator
// ("Z" or an offset) is accepted and the result is in UTC. Anything else gives none.
std::optional<QDateTime> parse(QStringView text);

// Whole seconds in UTC ("2025-03-01T09:30:00Z"), the form of the worker's wire.
QString formatSeconds(const QDateTime& date);

} // namespace quillmere::IsoDate
