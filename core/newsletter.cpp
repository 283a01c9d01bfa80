#include "core/newsletter.h"

#include "core/iso_date.h"
#include "core/library_json_reader.h"
#include "core/uuid_text.h"

#include <QJsonArray>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace quillmere {

namespace {

bool isAsciiAlnum(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
}

} // namespace

QString Newsletter::slug() const {
    const QString lowered = subject.toLower();
    // Work on grapheme clusters: a letter with a combining mark, or CR-LF, is one character and
    // counts as a separator unless it is a single ASCII letter or digit.
    QString mapped;
    mapped.reserve(lowered.size());
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, lowered);
    qsizetype start = 0;
    while (start < lowered.size()) {
        finder.setPosition(start);
        qsizetype end = finder.toNextBoundary();
        if (end < 0 || end <= start) {
            end = lowered.size();
        }
        if (end - start == 1 && isAsciiAlnum(lowered[start])) {
            mapped += lowered[start];
        } else {
            mapped += u'-';
        }
        start = end;
    }
    const QStringList pieces = mapped.split(u'-', Qt::SkipEmptyParts);
    QString joined = pieces.join(u'-').left(80);
    while (joined.startsWith(u'-')) {
        joined.remove(0, 1);
    }
    while (joined.endsWith(u'-')) {
        joined.chop(1);
    }
    if (joined.isEmpty()) {
        joined = QStringLiteral("issue");
    }
    return joined + u'-' + uuidLower(id).left(6);
}

QStringList sortedUuidTexts(const QSet<QUuid>& ids) {
    std::vector<QUuid> ordered(ids.cbegin(), ids.cend());
    // Comparing the fields as unsigned numbers gives the order of the canonical texts, without
    // building them first.
    std::sort(ordered.begin(), ordered.end(), [](const QUuid& a, const QUuid& b) {
        if (a.data1 != b.data1) {
            return a.data1 < b.data1;
        }
        if (a.data2 != b.data2) {
            return a.data2 < b.data2;
        }
        if (a.data3 != b.data3) {
            return a.data3 < b.data3;
        }
        return std::lexicographical_compare(std::begin(a.data4), std::end(a.data4),
                                            std::begin(b.data4), std::end(b.data4));
    });
    QStringList texts;
    texts.reserve(qsizetype(ordered.size()));
    for (const QUuid& id : ordered) {
        texts.append(uuidUpper(id));
    }
    return texts;
}

QJsonObject Newsletter::toJson() const {
    QJsonObject o{
        {QLatin1String("id"), uuidUpper(id)},
        {QLatin1String("subject"), subject},
        {QLatin1String("previewText"), previewText},
        {QLatin1String("markdown"), markdown},
        {QLatin1String("template"), rawValue(emailTemplate)},
        {QLatin1String("status"), rawValue(status)},
        {QLatin1String("createdAt"), IsoDate::format(createdAt)},
        {QLatin1String("stats"), stats.toJson()},
        {QLatin1String("deliveredIDs"), QJsonArray::fromStringList(sortedUuidTexts(deliveredIDs))},
    };
    if (sentAt) {
        o.insert(QLatin1String("sentAt"), IsoDate::format(*sentAt));
    }
    if (!failedIDs.isEmpty()) {
        o.insert(QLatin1String("failedIDs"),
                 QJsonArray::fromStringList(sortedUuidTexts(failedIDs)));
    }
    if (!uncertainIDs.isEmpty()) {
        o.insert(QLatin1String("uncertainIDs"),
                 QJsonArray::fromStringList(sortedUuidTexts(uncertainIDs)));
    }
    return LibraryJSONReader::withOtherMembers(o, otherMembers);
}

Newsletter Newsletter::fromJson(const QJsonValue& value, const QString& path) {
    return LibraryJSONReader::readRecord<Newsletter>(LibraryJSONReader::compactJson(value), path);
}

} // namespace quillmere
