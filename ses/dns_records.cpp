#include "ses/dns_records.h"

#include "render/trim_spaces_and_tabs.h"

namespace quillmere::DNSRecords {

QList<DNSRecord> dkim(const QString& domain, const QStringList& tokens) {
    QList<DNSRecord> records;
    records.reserve(tokens.size());
    for (const QString& token : tokens) {
        records.append({QStringLiteral("CNAME"), token + QStringLiteral("._domainkey.") + domain,
                        token + QStringLiteral(".dkim.") + sesMailDomain, QStringLiteral("DKIM")});
    }
    return records;
}

DNSRecord spf(const QString& domain) {
    return {QStringLiteral("TXT"), domain,
            QStringLiteral("v=spf1 include:") + sesMailDomain + QStringLiteral(" ~all"),
            QStringLiteral("SPF")};
}

DNSRecord dmarc(const QString& domain, const std::optional<QString>& reportEmail) {
    QString value = QStringLiteral("v=DMARC1; p=none;");
    const QString address = reportEmail ? trimSpacesAndTabs(*reportEmail).toString() : QString();
    if (!address.isEmpty()) {
        value += QStringLiteral(" rua=mailto:") + address + QLatin1Char(';');
    }
    return {QStringLiteral("TXT"), QStringLiteral("_dmarc.") + domain, value,
            QStringLiteral("DMARC")};
}

} // namespace quillmere::DNSRecords
