#pragma once

#include <QUrl>

namespace quillmere::SetupLinks {

// Where the guide sends the writer to create their keys and tokens.
inline QUrl awsIAMUsers() {
    return QUrl(QStringLiteral("https://console.aws.amazon.com/iam/home#/users"));
}

inline QUrl cloudflareAPITokens() {
    return QUrl(QStringLiteral("https://dash.cloudflare.com/profile/api-tokens"));
}

} // namespace quillmere::SetupLinks
