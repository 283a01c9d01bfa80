#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace quillmere::ReaderLinks {

// Links in every email that the deployed worker must trust without a database lookup: the
// token is the URL-safe Base64 of the normalised address, ".", and the hexadecimal
// HMAC-SHA-256 of purpose ":" address under the link-signing secret. The worker checks the
// same tokens.

inline const QString unsubscribePurpose = QStringLiteral("unsubscribe");
inline const QString confirmPurpose = QStringLiteral("confirm");

// Serves nothing; used while no worker is deployed, so previews and tests have real links.
inline const QString placeholderWorkerBase = QStringLiteral("https://postwick.example.workers.dev");
// Reserved, never-resolving host for links whose base does not form a URL.
inline const QString fallbackBase = QStringLiteral("https://unsubscribe.quillmere.invalid");
// The reader of anonymous renders (previews, the archive copy).
inline const QString placeholderReaderAddress = QStringLiteral("reader@example.com");

QString token(const QString& purpose, const QString& email, const QString& secret);
inline QString unsubscribeToken(const QString& email, const QString& secret) {
    return token(unsubscribePurpose, email, secret);
}
inline QString confirmToken(const QString& email, const QString& secret) {
    return token(confirmPurpose, email, secret);
}

// The address the token was made for, when it was made for `purpose` under `secret`.
std::optional<QString> verify(const QString& token, const QString& purpose, const QString& secret);

// Trimmed, without trailing slashes.
QString normalisedBase(const QString& base);
// The stored worker URL, or the placeholder while none is deployed (empty or blank).
QString linkBase(const QString& workerBaseURL);

// The base (normalised) with "/unsubscribe?t=" or "/confirm?t=" and the token. When that is no
// http(s) address with a host, the same path and query on the reserved fallback host: these
// links end up in href attributes and in the one-click List-Unsubscribe header, which must be a
// web address.
QUrl unsubscribeURL(const QString& base, const QString& email, const QString& secret);
QUrl confirmURL(const QString& base, const QString& email, const QString& secret);
// The normalised base, "/archive/" and the slug; none when the base is empty or the result is
// no http(s) address with a host.
std::optional<QUrl> archiveURL(const QString& base, const QString& slug);

// 32 random bytes from the system's cryptographic source, as 64 lower-case hex digits: the
// form of the signing secret and the worker API token.
QString randomSecret();

} // namespace quillmere::ReaderLinks
