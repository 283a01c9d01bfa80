#include "import/csv_importer.h"

#include "core/iso_date.h"
#include "import/csv_scanner.h"
#include "import/csv_text_source.h"
#include "render/email_address.h"
#include "render/trim_spaces_and_tabs.h"

#include <QDate>
#include <QIODevice>
#include <QSet>
#include <QStringDecoder>
#include <QTime>
#include <QUuid>

#include <array>
#include <initializer_list>
#include <new>

namespace quillmere::CSVImporter {

namespace {

using Status = SubscriberStatus;

QStringList names(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* name : list) {
        out.append(QString::fromLatin1(name));
    }
    return out;
}

const QStringList emailColumns = names({"email", "e-mail", "email address", "email_address",
                                        "emailaddress", "e-mail address", "mail"});
const QStringList fullNameColumns =
    names({"name", "full name", "full_name", "fullname", "display name"});
const QStringList firstNameColumns = names({"first name", "first_name", "firstname", "fname"});
const QStringList lastNameColumns = names({"last name", "last_name", "lastname", "lname"});
const QStringList statusColumns = names({"status", "subscription_status", "member status"});
const QStringList createdColumns =
    names({"created_at", "created", "signup_date", "subscribed_at", "date added", "date_added",
           "confirm_time", "optin_time", "timestamp"});
const QStringList optOutColumns = names({"email_disabled"});
const QStringList unsubscribeTimeColumns = names({"unsub_time"});
const QStringList cleanTimeColumns = names({"clean_time", "clean_campaign_title"});

struct StatusWord {
    QLatin1StringView word;
    Status status;
};

constexpr std::array statusWords{
    StatusWord{QLatin1StringView("active"), Status::active},
    StatusWord{QLatin1StringView("subscribed"), Status::active},
    StatusWord{QLatin1StringView("confirmed"), Status::active},
    StatusWord{QLatin1StringView("opted in"), Status::active},
    StatusWord{QLatin1StringView("opt in"), Status::active},
    StatusWord{QLatin1StringView("yes"), Status::active},
    StatusWord{QLatin1StringView("true"), Status::active},
    StatusWord{QLatin1StringView("free"), Status::active},
    StatusWord{QLatin1StringView("paid"), Status::active},
    StatusWord{QLatin1StringView("member"), Status::active},
    StatusWord{QLatin1StringView("unsubscribed"), Status::unsubscribed},
    StatusWord{QLatin1StringView("inactive"), Status::unsubscribed},
    StatusWord{QLatin1StringView("opted out"), Status::unsubscribed},
    StatusWord{QLatin1StringView("opt out"), Status::unsubscribed},
    StatusWord{QLatin1StringView("unsub"), Status::unsubscribed},
    StatusWord{QLatin1StringView("no"), Status::unsubscribed},
    StatusWord{QLatin1StringView("false"), Status::unsubscribed},
    StatusWord{QLatin1StringView("archived"), Status::unsubscribed},
    StatusWord{QLatin1StringView("deleted"), Status::unsubscribed},
    StatusWord{QLatin1StringView("disabled"), Status::unsubscribed},
    StatusWord{QLatin1StringView("bounced"), Status::bounced},
    StatusWord{QLatin1StringView("cleaned"), Status::bounced},
    StatusWord{QLatin1StringView("invalid"), Status::bounced},
    StatusWord{QLatin1StringView("hard bounce"), Status::bounced},
    StatusWord{QLatin1StringView("hard bounced"), Status::bounced},
    StatusWord{QLatin1StringView("undeliverable"), Status::bounced},
    StatusWord{QLatin1StringView("complained"), Status::complained},
    StatusWord{QLatin1StringView("complaint"), Status::complained},
    StatusWord{QLatin1StringView("spam"), Status::complained},
    StatusWord{QLatin1StringView("spam complaint"), Status::complained},
    StatusWord{QLatin1StringView("abuse"), Status::complained},
    StatusWord{QLatin1StringView("pending"), Status::pending},
    StatusWord{QLatin1StringView("unconfirmed"), Status::pending},
    StatusWord{QLatin1StringView("validating"), Status::pending},
    StatusWord{QLatin1StringView("needs attention"), Status::pending},
    StatusWord{QLatin1StringView("transactional"), Status::pending},
    StatusWord{QLatin1StringView("awaiting confirmation"), Status::pending},
};

constexpr std::array truthyWords{QLatin1StringView("true"), QLatin1StringView("yes"),
                                 QLatin1StringView("1"), QLatin1StringView("y"),
                                 QLatin1StringView("t")};

// Records read before the list's size is estimated from their average length, and the least
// average length (in code units) the estimate is trusted for.
constexpr qsizetype sampleRecords = 1000;
constexpr double minimumSampledRecordLength = 16;

// Longer than every word of the tables above.
constexpr qsizetype maxWordLength = 32;

// Lower-cases a short value for comparison with the ASCII words of the tables, with "_" and "-"
// read as spaces when `dashesAsSpaces`. False when the value cannot equal any such word: too
// long, or holding a character whose lower case is not ASCII (only KELVIN SIGN lower-cases to
// an ASCII letter; U+0130 becomes "i" plus a combining dot).
bool foldWord(QStringView value, bool dashesAsSpaces, std::array<char, maxWordLength>& buffer,
              QLatin1StringView& out) {
    if (value.size() > maxWordLength) {
        return false;
    }
    for (qsizetype i = 0; i < value.size(); ++i) {
        char16_t c = value[i].unicode();
        if (c == u'\u212A') {
            c = u'k';
        }
        if (c > 0x7F) {
            return false;
        }
        if (c >= u'A' && c <= u'Z') {
            c = char16_t(c + (u'a' - u'A'));
        } else if (dashesAsSpaces && (c == u'_' || c == u'-')) {
            c = u' ';
        }
        buffer[size_t(i)] = char(c);
    }
    out = QLatin1StringView(buffer.data(), value.size());
    return true;
}

bool isTruthy(QStringView value) {
    std::array<char, maxWordLength> buffer;
    QLatin1StringView word;
    if (!foldWord(value, false, buffer, word)) {
        return false;
    }
    for (QLatin1StringView truthy : truthyWords) {
        if (word == truthy) {
            return true;
        }
    }
    return false;
}

QString normalisedName(QStringView name) {
    return name.trimmed().toString().toLower();
}

QStringList normalisedHeader(const QStringList& header) {
    QStringList out;
    out.reserve(header.size());
    for (const QString& name : header) {
        out.append(normalisedName(name));
    }
    return out;
}

// Valid addresses are ASCII, so ASCII lower case is the whole of lower-casing them.
QString lowerAscii(QStringView address) {
    QString out = address.toString();
    for (QChar& c : out) {
        if (c >= u'A' && c <= u'Z') {
            c = QChar(c.unicode() + (u'a' - u'A'));
        }
    }
    return out;
}

// A field's text. QString::fromUtf8 would drop a byte order mark at its start, which inside a
// file is part of the field.
QString fieldText(QByteArrayView utf8) {
    if (!utf8.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(utf8);
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(utf8);
}

bool isBlankRecord(const QVarLengthArray<QByteArrayView, 32>& fields) {
    for (QByteArrayView field : fields) {
        for (const char c : field) {
            if (c != ' ' && c != '\t') {
                return false;
            }
        }
    }
    return true;
}

// How often the importer reports progress and hears whether to stop.
constexpr qsizetype recordsPerProgress = 4096;

// Reads `count` ASCII digits exactly, or between 1 and `count` when `exact` is false.
bool readNumber(QStringView s, qsizetype& i, int count, bool exact, int& out) {
    int value = 0;
    int digits = 0;
    while (digits < count && i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
        value = value * 10 + (s[i].unicode() - u'0');
        ++digits;
        ++i;
    }
    out = value;
    return exact ? digits == count : digits > 0;
}

bool readChar(QStringView s, qsizetype& i, char16_t c) {
    if (i < s.size() && s[i] == c) {
        ++i;
        return true;
    }
    return false;
}

// The fixed date patterns, in UTC. Month, day, hour, minute and second take one or two digits,
// the year exactly four: a two-digit year would otherwise read as the first century.
std::optional<QDateTime> parseFixedPattern(QStringView s) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    qsizetype i = 0;
    if (readNumber(s, i, 4, true, year) && readChar(s, i, u'-')) {
        // yyyy-MM-dd, then nothing, " HH:mm", " HH:mm:ss", "'T'HH:mm:ss" or "'T'HH:mm:ss.SSS"
        if (!readNumber(s, i, 2, false, month) || !readChar(s, i, u'-') ||
            !readNumber(s, i, 2, false, day)) {
            return std::nullopt;
        }
        if (readChar(s, i, u' ')) {
            if (!readNumber(s, i, 2, false, hour) || !readChar(s, i, u':') ||
                !readNumber(s, i, 2, false, minute)) {
                return std::nullopt;
            }
            if (readChar(s, i, u':') && !readNumber(s, i, 2, false, second)) {
                return std::nullopt;
            }
        } else if (readChar(s, i, u'T')) {
            if (!readNumber(s, i, 2, false, hour) || !readChar(s, i, u':') ||
                !readNumber(s, i, 2, false, minute) || !readChar(s, i, u':') ||
                !readNumber(s, i, 2, false, second)) {
                return std::nullopt;
            }
            if (readChar(s, i, u'.')) {
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
        }
    } else {
        // MM/dd/yyyy, then nothing or " HH:mm"
        i = 0;
        if (!readNumber(s, i, 2, false, month) || !readChar(s, i, u'/') ||
            !readNumber(s, i, 2, false, day) || !readChar(s, i, u'/') ||
            !readNumber(s, i, 4, true, year)) {
            return std::nullopt;
        }
        if (readChar(s, i, u' ') && (!readNumber(s, i, 2, false, hour) || !readChar(s, i, u':') ||
                                     !readNumber(s, i, 2, false, minute))) {
            return std::nullopt;
        }
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    return QDateTime(date, QTime(hour, minute, second, msec), Qt::UTC);
}

std::optional<QDateTime> parseDateUnchecked(QStringView value) {
    QStringView s = trimSpacesAndTabs(value);
    if (s.isEmpty()) {
        return std::nullopt;
    }
    // ISO 8601: date, "T", time with optional fraction, and "Z" or an offset with or without
    // a colon.
    if (auto iso = IsoDate::parse(s)) {
        return iso;
    }
    for (QLatin1StringView suffix : {QLatin1StringView(" UTC"), QLatin1StringView(" GMT"),
                                     QLatin1StringView(" +0000"), QLatin1StringView("Z")}) {
        if (s.endsWith(suffix)) {
            s.chop(suffix.size());
            break;
        }
    }
    return parseFixedPattern(s);
}

} // namespace

std::optional<SubscriberStatus> mapStatus(QStringView value) {
    std::array<char, maxWordLength> buffer;
    QLatin1StringView word;
    if (!foldWord(trimSpacesAndTabs(value), true, buffer, word)) {
        return std::nullopt;
    }
    for (const StatusWord& entry : statusWords) {
        if (word == entry.word) {
            return entry.status;
        }
    }
    return std::nullopt;
}

std::optional<QDateTime> parseDate(QStringView value) {
    const std::optional<QDateTime> date = parseDateUnchecked(value);
    // The library writes four-digit years: an offset that carries a date past either end of
    // that range would be stored as text no load can read back.
    if (!date || date->date().year() < 1 || date->date().year() > 9999) {
        return std::nullopt;
    }
    return date;
}

std::optional<qsizetype> columnIndex(const QStringList& candidates, const QStringList& header) {
    const QStringList names = normalisedHeader(header);
    for (const QString& candidate : candidates) {
        const qsizetype index = names.indexOf(candidate);
        if (index >= 0) {
            return index;
        }
    }
    return std::nullopt;
}

CSVFormat detectFormat(const QStringList& header) {
    QSet<QString> names;
    names.reserve(header.size());
    for (const QString& name : header) {
        names.insert(normalisedName(name));
    }
    const auto has = [&](const char* name) { return names.contains(QString::fromLatin1(name)); };
    const auto hasAny = [&](std::initializer_list<const char*> list) {
        for (const char* name : list) {
            if (has(name)) {
                return true;
            }
        }
        return false;
    };
    if (has("email address") && hasAny({"optin_time", "confirm_time", "member_rating", "leid",
                                        "euid", "first name", "last_changed"})) {
        return CSVFormat::mailchimp;
    }
    if (has("email") &&
        (has("active_subscription") || has("email_disabled") || (has("expiry") && has("plan")))) {
        return CSVFormat::substack;
    }
    if (has("email") && has("status")) {
        return hasAny({"utm_source", "referring_site", "subscription_tier", "utm_medium",
                       "referral_code", "stripe_customer_id"})
                   ? CSVFormat::beehiiv
                   : CSVFormat::generic;
    }
    return CSVFormat::generic;
}

QList<Row> tokenize(QStringView text) {
    QList<Row> rows;
    CSVScanner scanner(text.toUtf8());
    while (scanner.next()) {
        if (scanner.unclosedQuoteLine()) {
            continue; // not a record
        }
        QStringList fields;
        fields.reserve(scanner.fields().size());
        for (QByteArrayView field : scanner.fields()) {
            fields.append(fieldText(field));
        }
        rows.append(Row{scanner.line(), std::move(fields)});
    }
    return rows;
}

QList<QStringList> parseRows(QStringView text) {
    QList<QStringList> rows;
    for (Row& row : tokenize(text)) {
        rows.append(std::move(row.fields));
    }
    return rows;
}

QByteArray skippedRowsCSV(const QList<SkippedRow>& rows) {
    QByteArray out = "line,reason\r\n";
    for (const SkippedRow& row : rows) {
        QByteArray reason = row.reason.toUtf8();
        reason.replace('"', "\"\"");
        out += QByteArray::number(row.line) + ",\"" + reason + "\"\r\n";
    }
    return out;
}

QString decodeFile(const QByteArray& bytes) {
    return CSVTextSource::decode(bytes);
}

namespace {

// The import of the records a scanner reads. `expectedSize` (bytes of text) sizes the lists;
// `progress` may stop it.
std::optional<CSVImportResult> importRecords(CSVScanner& scanner, const QString& source,
                                             const QDateTime& now, qint64 expectedSize,
                                             const std::function<bool()>& progress) {
    CSVImportResult result;
    const QString unclosedQuote = QStringLiteral("Quote opened on line %1 is never closed");
    // The header is the first record that could be read.
    bool hasHeader = false;
    while (!hasHeader && scanner.next()) {
        if (const auto quoteLine = scanner.unclosedQuoteLine()) {
            result.skipped.append(SkippedRow{scanner.line(), unclosedQuote.arg(*quoteLine)});
        } else {
            hasHeader = true;
        }
    }
    if (!hasHeader) {
        return result;
    }

    QStringList header;
    header.reserve(scanner.fields().size());
    for (QByteArrayView name : scanner.fields()) {
        header.append(normalisedName(fieldText(name)));
    }
    result.format = detectFormat(header);

    std::optional<qsizetype> emailColumn;
    {
        const QSet<QString> emailNames(emailColumns.cbegin(), emailColumns.cend());
        for (qsizetype i = 0; i < header.size(); ++i) {
            if (emailNames.contains(header[i])) {
                emailColumn = i;
                break;
            }
        }
    }
    if (!emailColumn) {
        result.skipped.append(
            SkippedRow{scanner.line(), QStringLiteral("No email column found in header")});
        return result;
    }
    const auto fullNameColumn = columnIndex(fullNameColumns, header);
    const auto firstNameColumn = columnIndex(firstNameColumns, header);
    const auto lastNameColumn = columnIndex(lastNameColumns, header);
    const auto statusColumn = columnIndex(statusColumns, header);
    const auto createdColumn = columnIndex(createdColumns, header);
    const auto optOutColumn = columnIndex(optOutColumns, header);
    const auto unsubscribeTimeColumn = columnIndex(unsubscribeTimeColumns, header);
    const auto cleanTimeColumn = columnIndex(cleanTimeColumns, header);

    const QString label = source == QLatin1String("import")
                              ? QStringLiteral("import:") + rawValue(result.format)
                              : source;
    const QDateTime importTime = now.toUTC();
    const QString missingEmail = QStringLiteral("Missing email");
    QSet<QString> seen;
    const qint64 dataStart = scanner.consumed();
    qsizetype records = 0;

    while (scanner.next()) {
        if (++records % recordsPerProgress == 0 && progress && !progress()) {
            return std::nullopt;
        }
        if (records == sampleRecords) {
            // Room for the whole list at once spares the list and the address set repeated
            // regrowth (each a fresh copy of everything so far). Capacity that stays unused is
            // never touched, so an estimate on the high side costs address space only; a sample
            // of records shorter than any real export's is no basis for one.
            const double perRecord = double(scanner.consumed() - dataStart) / double(records);
            if (perRecord >= minimumSampledRecordLength) {
                const auto expected =
                    qsizetype(double(expectedSize - scanner.consumed()) / perRecord * 1.25) +
                    records;
                try {
                    result.subscribers.reserve(std::max(expected, records));
                    seen.reserve(std::max(expected, records));
                } catch (const std::bad_alloc&) {
                    // Growing as the rows come works as well.
                }
            }
        }
        if (const auto quoteLine = scanner.unclosedQuoteLine()) {
            result.skipped.append(SkippedRow{scanner.line(), unclosedQuote.arg(*quoteLine)});
            continue;
        }
        const auto& fields = scanner.fields();
        if (isBlankRecord(fields)) {
            continue;
        }
        const auto value = [&fields](std::optional<qsizetype> column) {
            return column && *column < fields.size() ? QString::fromUtf8(fields[*column]).trimmed()
                                                     : QString();
        };

        const QString address = value(emailColumn);
        if (address.isEmpty()) {
            result.skipped.append(SkippedRow{scanner.line(), missingEmail});
            continue;
        }
        if (!EmailAddress::isValid(address)) {
            result.skipped.append(
                SkippedRow{scanner.line(), QStringLiteral("Invalid email: ") + address});
            continue;
        }
        QString email = lowerAscii(address);
        const qsizetype knownBefore = seen.size();
        seen.insert(email);
        if (seen.size() == knownBefore) {
            ++result.duplicates;
            continue;
        }

        QString name = value(fullNameColumn);
        if (name.isEmpty()) {
            const QString first = value(firstNameColumn);
            const QString last = value(lastNameColumn);
            if (!first.isEmpty() && !last.isEmpty()) {
                name.reserve(first.size() + 1 + last.size());
                name.append(first).append(u' ').append(last);
            } else {
                name = first.isEmpty() ? last : first;
            }
        }

        Status status = Status::active;
        switch (result.format) {
        case CSVFormat::substack:
            if (isTruthy(value(optOutColumn))) {
                status = Status::unsubscribed;
            } else {
                ++result.confirmedElsewhere;
            }
            break;
        case CSVFormat::beehiiv:
            status = mapStatus(value(statusColumn)).value_or(Status::pending);
            if (status == Status::active) {
                ++result.confirmedElsewhere;
            }
            break;
        case CSVFormat::mailchimp:
            if (const auto mapped = mapStatus(value(statusColumn))) {
                status = *mapped;
            } else if (!value(cleanTimeColumn).isEmpty()) {
                status = Status::bounced;
            } else if (!value(unsubscribeTimeColumn).isEmpty()) {
                status = Status::unsubscribed;
            }
            if (status == Status::active) {
                ++result.confirmedElsewhere;
            }
            break;
        case CSVFormat::generic:
            if (const QString word = value(statusColumn); word.isEmpty()) {
                ++result.assumedActive;
            } else {
                status = mapStatus(word).value_or(Status::pending);
                if (status == Status::active) {
                    ++result.confirmedElsewhere;
                }
            }
            break;
        }

        const QDateTime createdAt =
            createdColumn ? parseDate(value(createdColumn)).value_or(importTime) : importTime;
        result.subscribers.append(Subscriber{QUuid::createUuid(), std::move(email), std::move(name),
                                             status, label, createdAt, importTime});
    }
    return result;
}

} // namespace

CSVImportResult importCSV(QStringView text, const QString& source) {
    return importCSV(text, source, QDateTime::currentDateTimeUtc());
}

CSVImportResult importCSV(QStringView text, const QString& source, const QDateTime& now) {
    QByteArray utf8 = text.toUtf8();
    const qint64 size = utf8.size();
    CSVScanner scanner(std::move(utf8));
    return *importRecords(scanner, source, now, size, {});
}

std::optional<CSVImportResult> importFile(QIODevice& file, const QString& source,
                                          const QDateTime& now, const Progress& progress) {
    CSVTextSource text(file);
    const auto report = [&] { return !progress || progress(text.position(), text.size()); };
    if (!report()) {
        return std::nullopt;
    }
    CSVScanner scanner([&text](QByteArray& out) { return text.next(out); });
    std::optional<CSVImportResult> result =
        importRecords(scanner, source, now, text.size(), report);
    if (result && progress) {
        progress(text.size(), text.size());
    }
    return result;
}

} // namespace quillmere::CSVImporter
