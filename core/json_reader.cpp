#include "core/json_reader.h"

#include "core/iso_date.h"

#include <QJsonDocument>

namespace quillmere {

QString describeJsonValue(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QStringLiteral("number ") + QString::number(value.toDouble(), 'g', 17);
    case QJsonValue::String: {
        QString s = value.toString();
        if (s.size() > 60) {
            s = s.left(57) + QStringLiteral("...");
        }
        return QStringLiteral("text \"") + s + QLatin1Char('"');
    }
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

JsonReader::JsonReader(const QJsonValue& value, QString kind, QString path)
    : m_kind(std::move(kind))
    , m_path(std::move(path)) {
    if (!value.isObject()) {
        throw DecodingError(m_kind, m_path, {},
                            QStringLiteral("expected an object, found ") +
                                describeJsonValue(value));
    }
    m_object = value.toObject();
}

void JsonReader::fail(QLatin1String key, const QString& reason) const {
    throw DecodingError(m_kind, m_path, QString(key), reason);
}

void JsonReader::wrongType(QLatin1String key, const char* expected, const QJsonValue& v) const {
    fail(
        key,
        QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), describeJsonValue(v)));
}

QJsonValue JsonReader::required(QLatin1String key) const {
    const auto it = m_object.constFind(key);
    if (it == m_object.constEnd()) {
        fail(key, QStringLiteral("missing"));
    }
    return *it;
}

QJsonValue JsonReader::value(QLatin1String key) const {
    return required(key);
}

QString JsonReader::string(QLatin1String key) const {
    const QJsonValue v = required(key);
    if (!v.isString()) {
        wrongType(key, "text", v);
    }
    return v.toString();
}

std::optional<QString> JsonReader::optionalString(QLatin1String key) const {
    if (!m_object.contains(key)) {
        return std::nullopt;
    }
    return string(key);
}

bool JsonReader::boolean(QLatin1String key) const {
    const QJsonValue v = required(key);
    if (!v.isBool()) {
        wrongType(key, "true or false", v);
    }
    return v.toBool();
}

qint64 JsonReader::integer(QLatin1String key) const {
    const QJsonValue v = required(key);
    // toInteger() gives the default for anything that is not an exact integer; two different
    // defaults tell a stored value apart from a fallback.
    const qint64 a = v.toInteger(0);
    const qint64 b = v.toInteger(1);
    if (!v.isDouble() || a != b) {
        wrongType(key, "a whole number", v);
    }
    return a;
}

QDateTime JsonReader::date(QLatin1String key) const {
    const QJsonValue v = required(key);
    if (!v.isString()) {
        wrongType(key, "a date", v);
    }
    const QString text = v.toString();
    if (auto d = IsoDate::parse(text)) {
        return *d;
    }
    fail(key, QStringLiteral("Invalid ISO8601 date: ") + text);
}

std::optional<QDateTime> JsonReader::optionalDate(QLatin1String key) const {
    if (!m_object.contains(key)) {
        return std::nullopt;
    }
    return date(key);
}

QUuid JsonReader::uuid(QLatin1String key) const {
    const QString text = string(key);
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000")) {
        fail(key, QStringLiteral("not a UUID: \"%1\"").arg(text));
    }
    return id;
}

QUuid JsonReader::uuidElement(const QJsonValue& element, QLatin1String key, qsizetype index) const {
    const QString text = element.toString();
    const QUuid id = QUuid::fromString(text);
    if (!element.isString() ||
        (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))) {
        fail(key, QStringLiteral("element %1 is not a UUID: %2")
                      .arg(index)
                      .arg(describeJsonValue(element)));
    }
    return id;
}

QJsonArray JsonReader::array(QLatin1String key) const {
    const QJsonValue v = required(key);
    if (!v.isArray()) {
        wrongType(key, "a list", v);
    }
    return v.toArray();
}

} // namespace quillmere
