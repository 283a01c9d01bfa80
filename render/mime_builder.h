#pragma once

#include "render/rendered_email.h"

#include <QByteArray>
#include <QDateTime>
#include <QUrl>

#include <optional>

namespace quillmere::MIMEBuilder {

// One reader's raw message: multipart/alternative with a base64 plain-text part and a base64
// HTML part, RFC 2047 encoded words for the subject and display name, and the RFC 8058 one-click
// unsubscribe headers. Everything that varies except the Message-ID is a parameter.
QByteArray build(const RenderedEmail& email, const QString& from, const QString& fromName,
                 const QString& to, const std::optional<QString>& replyTo,
                 const QUrl& unsubscribeURL, const std::optional<QString>& unsubscribeMailto,
                 const QDateTime& date, const std::optional<QString>& boundary);

// Header hygiene: "\r" is deleted and "\n" becomes one space, so no value can start a new line.
QString clean(QStringView value);

// The subject or a display name as it goes into a header: unchanged when plain printable ASCII
// without "=?" that fits a header line, otherwise UTF-8 encoded words of at most 45 bytes each
// (never splitting a character), folded onto continuation lines.
QString encodeHeader(QStringView value);

// "Name <address>", with the name quoted or encoded as needed; the bare address without a name.
QString formatAddress(QStringView name, QStringView email);

// "Tue, 04 Mar 2025 09:05:00 +0000": always in UTC.
QString formatDate(const QDateTime& date);

// "=_Postwick_" and a fresh random UUID in upper case.
QString generateBoundary();

// 1 to 70 characters that RFC 2046 allows in a boundary, not ending in a space.
bool isValidBoundary(QStringView boundary);

// Base64 in lines of 76 characters separated by CR LF (no line end after the last line).
QByteArray base64Lines(QByteArrayView data);

} // namespace quillmere::MIMEBuilder
