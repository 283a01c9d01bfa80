#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// The SES account's status and quota as GetAccount reports them.
struct SESAccount {
    bool productionAccessEnabled = false;
    bool sendingEnabled = false;
    double max24HourSend = 0;
    double maxSendRate = 0; // messages per second
    double sentLast24Hours = 0;
    QString enforcementStatus;

    bool operator==(const SESAccount&) const = default;
};

inline size_t qHash(const SESAccount& a, size_t seed = 0) {
    return qHashMulti(seed, a.productionAccessEnabled, a.sendingEnabled, a.max24HourSend,
                      a.maxSendRate, a.sentLast24Hours, a.enforcementStatus);
}

} // namespace quillmere
