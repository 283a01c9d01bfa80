#pragma once

#include "core/aws_credentials.h"
#include "ses/http_request.h"

#include <QDateTime>

#include <utility>

namespace quillmere {

// AWS Signature Version 4. A pure function of the request, the credentials, region, service and
// the date handed in: no clock, no I/O. Every step is public so it can be checked on its own.
struct SigV4Signer {
    static constexpr QLatin1StringView algorithm{"AWS4-HMAC-SHA256"};

    AWSCredentials credentials;
    QString region;
    QString service;
    bool addContentSHA256 = false; // adds "X-Amz-Content-Sha256"; SES does not want it

    SigV4Signer() = default;
    SigV4Signer(AWSCredentials credentials, QString region, QString service,
                bool addContentSHA256 = false);

    // The signed copy: old signature headers removed, X-Amz-Date (and the session token) set,
    // Authorization added. The input is left as it is.
    HTTPRequest sign(const HTTPRequest& request, const QDateTime& date) const;

    // YYYYMMDDThhmmssZ in UTC.
    static QString amzDate(const QDateTime& date);
    static QString hexSHA256(const QByteArray& bytes);
    // Percent-encodes every UTF-8 byte except A-Z a-z 0-9 - . _ ~ with upper-case hex digits.
    static QString uriEncode(QStringView text);
    static QString canonicalURI(const QUrl& url);
    static QString canonicalQuery(const QUrl& url);

    // The canonical header block (every line ending in "\n") and the signed-header list.
    std::pair<QString, QString> canonicalHeaders(const HTTPRequest& request,
                                                 const QString& amzDate) const;
    QString canonicalRequest(const HTTPRequest& request, const QString& amzDate) const;
    QString credentialScope(const QString& dateStamp) const;
    QString stringToSign(const QString& canonicalRequest, const QString& amzDate) const;
    QByteArray signingKey(const QString& dateStamp) const;
    QString signature(const QString& stringToSign, const QString& dateStamp) const;
    QString authorizationHeader(const HTTPRequest& request, const QString& amzDate) const;

    bool operator==(const SigV4Signer&) const = default;
};

} // namespace quillmere
