#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// One DNS record the writer publishes for their sending domain.
struct DNSRecord {
    QString type; // "CNAME" or "TXT"
    QString name; // fully qualified, no trailing dot
    QString value;
    QString purpose; // "DKIM", "SPF" or "DMARC"

    QString id() const { return type + QLatin1Char(' ') + name + QLatin1Char(' ') + value; }

    bool operator==(const DNSRecord&) const = default;
};

inline size_t qHash(const DNSRecord& r, size_t seed = 0) {
    return qHashMulti(seed, r.type, r.name, r.value, r.purpose);
}

} // namespace quillmere
