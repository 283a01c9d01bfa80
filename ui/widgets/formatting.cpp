#include "ui/widgets/formatting.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace quillmere::Formatting {

QString decimal(double value) {
    const double rounded = std::round(value * 1000.0) / 1000.0;
    return QLocale().toString(rounded, 'f', QLocale::FloatingPointShortest);
}

QString integer(qint64 value) {
    return QLocale().toString(value);
}

QString percent(double fraction) {
    const QLocale locale;
    return locale.toString(fraction * 100.0, 'f', 2) + locale.percent();
}

QString abbreviatedDate(const QDateTime& time) {
    const QLocale locale;
    // The locale's long date without the weekday and with the short month name: "MMM d, yyyy"
    // in the United States, "d MMM yyyy" in Britain, "d. MMM yyyy" in Germany.
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{4}[^dMy]*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    static const QRegularExpression trailing(QStringLiteral("[\\s,;]+$"));
    format.remove(trailing);
    format = format.trimmed();
    return locale.toString(time.toLocalTime().date(), format);
}

} // namespace quillmere::Formatting
