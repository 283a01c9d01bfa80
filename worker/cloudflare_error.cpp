#include "worker/cloudflare_error.h"

namespace quillmere {

CloudflareError::CloudflareError(Kind kind, int status, QStringList messages, QString text,
                                 QString description)
    : Error(std::move(description))
    , m_kind(kind)
    , m_status(status)
    , m_messages(std::move(messages))
    , m_text(std::move(text)) {}

CloudflareError CloudflareError::api(int status, const QStringList& messages) {
    const QString head = QStringLiteral("Cloudflare API error %1").arg(status);
    const QString joined = messages.join(QStringLiteral("; "));
    return CloudflareError(Kind::api, status, messages, {},
                           joined.isEmpty() ? head : head + QStringLiteral(": ") + joined);
}

CloudflareError CloudflareError::decoding(const QString& text) {
    return CloudflareError(Kind::decoding, 0, {}, text, text);
}

} // namespace quillmere
