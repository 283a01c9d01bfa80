#pragma once

#include <QDateTime>
#include <QString>

namespace quillmere::Formatting {

// A number in the locale's default decimal style: grouping, at most three fraction digits,
// no trailing zeros (14 × 0.8 reads "11.2", not "11.200000000000001").
QString decimal(double value);

// A whole number in the locale's integer style, with grouping ("1,200").
QString integer(qint64 value);

// A fraction as a percentage with exactly two fraction digits ("6.00%").
QString percent(double fraction);

// The date alone in the locale's abbreviated style ("Sep 21, 2026"), in local time.
QString abbreviatedDate(const QDateTime& time);

} // namespace quillmere::Formatting
