#pragma once

#include <QHashFunctions>
#include <QString>
#include <QUuid>

namespace quillmere {

// Progress of the current or last list send, as the send sheet shows it.
struct SendSession {
    QUuid newsletterID;
    qint64 sent = 0;
    qint64 failed = 0;
    qint64 total = 0;
    QString state; // "Sending", "Paused", "Finished", "Cancelled" or "Halted: " and the reason
    bool isPaused = false;
    bool isFinished = false;

    bool operator==(const SendSession&) const = default;
};

inline size_t qHash(const SendSession& s, size_t seed = 0) {
    return qHashMulti(seed, s.newsletterID, s.sent, s.failed, s.total, s.state, s.isPaused,
                      s.isFinished);
}

} // namespace quillmere
