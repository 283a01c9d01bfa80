#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// Where a list send stands: the counts so far and the loop's state.
struct SendProgress {
    struct State {
        enum class Kind { halted, running, paused, finished, cancelled };

        Kind kind = Kind::running;
        QString reason; // the bounce guard's sentence when halted; empty otherwise

        static State halted(QString reason) { return {Kind::halted, std::move(reason)}; }
        static State running() { return {Kind::running, {}}; }
        static State paused() { return {Kind::paused, {}}; }
        static State finished() { return {Kind::finished, {}}; }
        static State cancelled() { return {Kind::cancelled, {}}; }

        // finished, cancelled and halted end a run.
        bool isFinal() const { return kind != Kind::running && kind != Kind::paused; }

        bool operator==(const State&) const = default;
    };

    qint64 sent = 0;
    qint64 failed = 0;
    qint64 total = 0;
    State state;

    bool operator==(const SendProgress&) const = default;
};

inline size_t qHash(const SendProgress::State& s, size_t seed = 0) {
    return qHashMulti(seed, int(s.kind), s.reason);
}

inline size_t qHash(const SendProgress& p, size_t seed = 0) {
    return qHashMulti(seed, p.sent, p.failed, p.total, p.state);
}

} // namespace quillmere
