#include "ses/ses_error.h"

namespace quillmere {

namespace {

QString describe(SESError::Kind kind, int status, const QString& type, const QString& message,
                 const QString& text) {
    if (kind == SESError::Kind::decoding) {
        return text;
    }
    return QStringLiteral("SES %1 %2: %3").arg(QString::number(status), type, message);
}

} // namespace

SESError::SESError(Kind kind, int status, QString type, QString message, QString text)
    : Error(describe(kind, status, type, message, text))
    , m_kind(kind)
    , m_status(status)
    , m_type(std::move(type))
    , m_message(std::move(message))
    , m_text(std::move(text)) {}

SESError SESError::http(int status, QString type, QString message) {
    return SESError(Kind::http, status, std::move(type), std::move(message), QString());
}

SESError SESError::decoding(QString text) {
    return SESError(Kind::decoding, 0, QString(), QString(), std::move(text));
}

bool SESError::operator==(const SESError& other) const {
    return m_kind == other.m_kind && m_status == other.m_status && m_type == other.m_type &&
           m_message == other.m_message && m_text == other.m_text &&
           m_retryAfter == other.m_retryAfter;
}

} // namespace quillmere
