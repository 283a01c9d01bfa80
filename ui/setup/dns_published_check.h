#pragma once

#include "ses/dns_record.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <optional>

class QDnsLookup;

namespace quillmere {

// Whether the SPF and DMARC records the writer was asked to publish can be seen in DNS yet: a
// TXT lookup at each record's name, matched on what matters (an SPF policy that includes the
// SES mail domain; a DMARC policy). DKIM is judged by SES itself, not here.
class DNSPublishedCheck : public QObject {
    Q_OBJECT

public:
    explicit DNSPublishedCheck(QObject* parent = nullptr);
    ~DNSPublishedCheck() override;

    // Looks up the SPF and DMARC records among these; answers for an earlier call are dropped.
    void check(const QList<DNSRecord>& records);
    // Forgets every answer and stops the lookups running.
    void clear();

    // Found, not found, or not known (never asked, or no answer yet).
    std::optional<bool> found(const DNSRecord& record) const;
    bool isChecking() const { return !m_pending.isEmpty(); }

    // Whether one TXT record's text satisfies the record of that purpose.
    static bool satisfies(const DNSRecord& record, const QString& published);
    static bool checks(const DNSRecord& record);

    // The name server asked: the address in QUILLMERE_DNS_SERVER when set, else the system's
    // resolver (a null address).
    static QHostAddress nameServer();

Q_SIGNALS:
    // An answer arrived, or the answers were cleared.
    void changed();

private:
    void finished(QDnsLookup* lookup, const DNSRecord& record);

    QHash<DNSRecord, bool> m_found;
    QList<QPointer<QDnsLookup>> m_pending;
};

} // namespace quillmere
