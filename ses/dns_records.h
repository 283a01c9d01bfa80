#pragma once

#include "ses/dns_record.h"

#include <QList>
#include <QStringList>

#include <optional>

namespace quillmere::DNSRecords {

// The domain under which SES sends and publishes DKIM keys.
inline constexpr QLatin1StringView sesMailDomain{"amazonses.com"};

// One CNAME per DKIM token, in token order: <token>._domainkey.<domain> pointing at
// <token>.dkim.amazonses.com.
QList<DNSRecord> dkim(const QString& domain, const QStringList& tokens);
// "v=spf1 include:amazonses.com ~all" on the domain itself.
DNSRecord spf(const QString& domain);
// A monitoring-only DMARC policy, with aggregate reports to `reportEmail` when one is given.
DNSRecord dmarc(const QString& domain, const std::optional<QString>& reportEmail = std::nullopt);

} // namespace quillmere::DNSRecords
