#pragma once

#include "core/error.h"

#include <QStringList>

namespace quillmere {

// A failure reported by the Cloudflare API: `api` when Cloudflare said no (or answered outside
// 200-299) with the messages it gave, `decoding` when a successful answer did not have the
// expected shape.
class CloudflareError : public Error {
public:
    enum class Kind { api, decoding };

    static CloudflareError api(int status, const QStringList& messages);
    static CloudflareError decoding(const QString& text);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }                    // api only; 0 for decoding
    const QStringList& messages() const { return m_messages; } // api only
    const QString& text() const { return m_text; }             // decoding only

    bool operator==(const CloudflareError& other) const {
        return m_kind == other.m_kind && m_status == other.m_status &&
               m_messages == other.m_messages && m_text == other.m_text;
    }

private:
    CloudflareError(Kind kind, int status, QStringList messages, QString text, QString description);

    Kind m_kind;
    int m_status;
    QStringList m_messages;
    QString m_text;
};

} // namespace quillmere
