#include "core/iso_date.h"

#include <algorithm>

namespace quillmere::IsoDate {

namespace {

bool digits(QStringView s, qsizetype from, qsizetype count, int& out) {
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9') {
            return false;
        }
        value = value * 10 + (c - u'0');
    }
    out = value;
    return true;
}

void appendPadded(QString& out, int value, int width) {
    QChar buffer[4];
    for (int i = width - 1; i >= 0; --i) {
        buffer[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
    out.append(buffer, width);
}

QString formatImpl(const QDateTime& date, bool withMilliseconds) {
    const QDateTime utc = writable(date);
    const QDate d = utc.date();
    const QTime t = utc.time();
    QString out;
    out.reserve(24);
    appendPadded(out, d.year(), 4);
    out += u'-';
    appendPadded(out, d.month(), 2);
    out += u'-';
    appendPadded(out, d.day(), 2);
    out += u'T';
    appendPadded(out, t.hour(), 2);
    out += u':';
    appendPadded(out, t.minute(), 2);
    out += u':';
    appendPadded(out, t.second(), 2);
    if (withMilliseconds) {
        out += u'.';
        appendPadded(out, t.msec(), 3);
    }
    out += u'Z';
    return out;
}

} // namespace

QDateTime writable(const QDateTime& date) {
    if (!date.isValid()) {
        return epoch();
    }
    static const QDateTime first(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
    static const QDateTime last(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    return std::clamp(date.toUTC(), first, last);
}

QString format(const QDateTime& date) {
    return formatImpl(date, true);
}

QString formatSeconds(const QDateTime& date) {
    return formatImpl(date, false);
}

std::optional<QDateTime> parse(QStringView s) {
    // Shape: YYYY-MM-DDTHH:MM:SS[.fraction](Z|+HH:MM|-HH:MM|+HHMM|-HHMM)
    int year, month, day, hour, minute, second;
    if (s.size() < 20 || !digits(s, 0, 4, year) || s[4] != u'-' || !digits(s, 5, 2, month) ||
        s[7] != u'-' || !digits(s, 8, 2, day) || s[10] != u'T' || !digits(s, 11, 2, hour) ||
        s[13] != u':' || !digits(s, 14, 2, minute) || s[16] != u':' || !digits(s, 17, 2, second)) {
        return std::nullopt;
    }
    qsizetype i = 19;
    int msec = 0;
    if (s[i] == u'.') {
        ++i;
        const qsizetype start = i;
        int scale = 100;
        while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
            msec += (s[i].unicode() - u'0') * scale;
            scale /= 10;
            ++i;
        }
        if (i == start) {
            return std::nullopt;
        }
    }
    if (i >= s.size()) {
        return std::nullopt;
    }
    int offsetSeconds = 0;
    if (s[i] == u'Z') {
        ++i;
    } else if (s[i] == u'+' || s[i] == u'-') {
        const int sign = s[i] == u'-' ? -1 : 1;
        int oh, om;
        const QStringView rest = s.mid(i + 1);
        if (rest.size() == 5 && digits(rest, 0, 2, oh) && rest[2] == u':' &&
            digits(rest, 3, 2, om)) {
            i += 6;
        } else if (rest.size() == 4 && digits(rest, 0, 2, oh) && digits(rest, 2, 2, om)) {
            i += 5;
        } else {
            return std::nullopt;
        }
        if (oh > 23 || om > 59) {
            return std::nullopt;
        }
        offsetSeconds = sign * (oh * 3600 + om * 60);
    } else {
        return std::nullopt;
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    QDateTime result(date, QTime(hour, minute, second, msec), Qt::UTC);
    return result.addSecs(-offsetSeconds);
}

} // namespace quillmere::IsoDate
