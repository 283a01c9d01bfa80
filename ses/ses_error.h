#pragma once

#include "core/error.h"

#include <chrono>
#include <optional>

namespace quillmere {

// A failed SES call: `http` when SES answered with a status outside 200-299, `decoding` when a
// successful answer could not be read. Described as "SES 400 MessageRejected: Email address is
// not verified." or as the decoding text itself.
class SESError : public Error {
public:
    enum class Kind { http, decoding };

    static SESError http(int status, QString type, QString message);
    static SESError decoding(QString text);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }              // http
    const QString& type() const { return m_type; }       // http
    const QString& message() const { return m_message; } // http
    const QString& text() const { return m_text; }       // decoding
    // http: how long the service asked to wait before trying again ("Retry-After").
    const std::optional<std::chrono::milliseconds>& retryAfter() const { return m_retryAfter; }
    void setRetryAfter(std::optional<std::chrono::milliseconds> wait) { m_retryAfter = wait; }

    bool operator==(const SESError& other) const;

private:
    SESError(Kind kind, int status, QString type, QString message, QString text);

    Kind m_kind;
    int m_status = 0;
    QString m_type;
    QString m_message;
    QString m_text;
    std::optional<std::chrono::milliseconds> m_retryAfter;
};

} // namespace quillmere
