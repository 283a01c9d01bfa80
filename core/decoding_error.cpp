#include "core/decoding_error.h"

namespace quillmere {

namespace {
QString describe(const QString& kind, const QString& path, const QString& key,
                 const QString& reason) {
    QString where = kind;
    if (!path.isEmpty()) {
        where += QStringLiteral(" at ") + path;
    }
    if (!key.isEmpty()) {
        where += QStringLiteral(", key \"") + key + QLatin1Char('"');
    }
    return where.isEmpty() ? reason : where + QStringLiteral(": ") + reason;
}
} // namespace

DecodingError::DecodingError(QString kind, QString path, QString key, QString reason)
    : Error(describe(kind, path, key, reason))
    , m_kind(std::move(kind))
    , m_path(std::move(path))
    , m_key(std::move(key))
    , m_reason(std::move(reason)) {}

} // namespace quillmere
