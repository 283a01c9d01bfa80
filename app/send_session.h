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
    // "Sending", "Paused", "Paused: " and why the sender paused itself, "Halted: " and the
    // bounce guard's reason, "Finished" or "Cancelled".
    QString state;
    bool isPaused = false; // paused or halted: waiting for the writer
    bool isFinished = false;
    qint64 uncertain = 0; // may or may not have received it
    qint64 retrying = 0;  // waiting to be tried again in this run
    bool isHalted = false;

    bool operator==(const SendSession&) const = default;
};

inline size_t qHash(const SendSession& s, size_t seed = 0) {
    return qHashMulti(seed, s.newsletterID, s.sent, s.failed, s.total, s.state, s.isPaused,
                      s.isFinished, s.uncertain, s.retrying, s.isHalted);
}

} // namespace quillmere
