#pragma once

#include "core/decoding_error.h"
#include "core/enum_traits.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QUuid>

#include <optional>

namespace quillmere {

// Strict access to the members of one stored JSON object. Every failure raises a DecodingError
// naming the record kind, the record's place in the document and the key.
class JsonReader {
public:
    JsonReader(const QJsonValue& value, QString kind, QString path);

    bool has(QLatin1String key) const { return m_object.contains(key); }

    QString string(QLatin1String key) const;
    bool boolean(QLatin1String key) const;
    qint64 integer(QLatin1String key) const;
    QDateTime date(QLatin1String key) const;
    std::optional<QDateTime> optionalDate(QLatin1String key) const;
    std::optional<QString> optionalString(QLatin1String key) const;
    QUuid uuid(QLatin1String key) const;
    QJsonValue value(QLatin1String key) const; // present, any type
    QJsonArray array(QLatin1String key) const;
    QUuid uuidElement(const QJsonValue& element, QLatin1String key, qsizetype index) const;

    template <class E>
    E enumeration(QLatin1String key) const {
        const QString raw = string(key);
        if (auto e = fromRaw<E>(raw)) {
            return *e;
        }
        fail(key, QStringLiteral("unknown value \"%1\"").arg(raw));
    }

    const QString& path() const { return m_path; }
    [[noreturn]] void fail(QLatin1String key, const QString& reason) const;

private:
    QJsonValue required(QLatin1String key) const;
    [[noreturn]] void wrongType(QLatin1String key, const char* expected, const QJsonValue& v) const;

    QJsonObject m_object;
    QString m_kind;
    QString m_path;
};

// Short human rendering of a JSON value for error messages ("number 12", "text \"x\"").
QString describeJsonValue(const QJsonValue& value);

} // namespace quillmere
