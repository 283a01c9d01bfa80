#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// Where a list send stands: the counts so far and the loop's state.
struct SendProgress {
    struct State {
        // halted and paused park the run until resume() or cancel(); finished and cancelled end
        // it. A pause carries a reason when the sender paused itself (SES refusing messages,
        // the daily quota used up); a halt carries the bounce guard's sentence.
        enum class Kind { halted, running, paused, finished, cancelled };

        Kind kind = Kind::running;
        QString reason;

        static State halted(QString reason) { return {Kind::halted, std::move(reason)}; }
        static State running() { return {Kind::running, {}}; }
        static State paused(QString reason = {}) { return {Kind::paused, std::move(reason)}; }
        static State finished() { return {Kind::finished, {}}; }
        static State cancelled() { return {Kind::cancelled, {}}; }

        bool isFinal() const { return kind == Kind::finished || kind == Kind::cancelled; }

        bool operator==(const State&) const = default;
    };

    qint64 sent = 0;      // accepted by SES
    qint64 failed = 0;    // refused for good
    qint64 uncertain = 0; // the connection broke after the request went out: maybe received
    qint64 total = 0;
    qint64 retrying = 0; // waiting to be tried again later in this run
    State state;

    bool operator==(const SendProgress&) const = default;
};

inline size_t qHash(const SendProgress::State& s, size_t seed = 0) {
    return qHashMulti(seed, int(s.kind), s.reason);
}

inline size_t qHash(const SendProgress& p, size_t seed = 0) {
    return qHashMulti(seed, p.sent, p.failed, p.uncertain, p.total, p.retrying, p.state);
}

} // namespace quillmere
