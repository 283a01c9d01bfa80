#include "ses/bulk_sender.h"

#include <QHash>
#include <QRandomGenerator>
#include <QTimer>

#include <cmath>
#include <coroutine>
#include <deque>
#include <limits>
#include <optional>

namespace quillmere {

namespace {

using std::chrono::nanoseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// Suspends the awaiting coroutine and leaves its handle in `slot` for whoever wakes it.
struct Park {
    std::coroutine_handle<>* slot;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { *slot = handle; }
    void await_resume() const noexcept {}
};

// Clears the slot before resuming, so a parked coroutine is woken at most once.
void wake(std::coroutine_handle<>& slot) {
    if (const std::coroutine_handle<> handle = std::exchange(slot, {})) {
        handle.resume();
    }
}

} // namespace

// Shared by the object, a running loop and its deliveries in flight, so that they still find
// their state when they resume after the sender is gone.
struct BulkSender::State {
    Options options;

    bool paused = false;
    bool cancelled = false;
    bool running = false;
    std::optional<QString> pauseReason; // the sender paused itself
    std::optional<QString> haltReason;  // the bounce guard halted the send
    std::coroutine_handle<> parked;     // the loop, waiting for something to change
    double tokens = 1.0;
    std::optional<TimePoint> lastRefill;

    // The default sleep: one precise timer, reused, whose sleeper cancel() can wake early.
    std::unique_ptr<QTimer> timer;
    std::coroutine_handle<> sleepContinuation;
    nanoseconds sleepDebt{0}; // how much longer than asked the sleeps so far have been

    // One run.
    struct Retry {
        Subscriber reader;
        TimePoint due;
    };
    std::deque<Subscriber> queue;
    std::vector<Retry> retries;
    QHash<QUuid, int> attempts;
    int inFlight = 0;
    int concurrency = 1;
    std::optional<double> latency; // seconds, smoothed
    int consecutiveFailures = 0;
    std::optional<TimePoint> holdUntil; // no new message before this (Retry-After)
    SendProgress counts;
    Callbacks callbacks;

    SendProgress::State current() const {
        if (haltReason) {
            return SendProgress::State::halted(*haltReason);
        }
        if (paused) {
            return SendProgress::State::paused(pauseReason.value_or(QString()));
        }
        return SendProgress::State::running();
    }

    void report(SendProgress::State state) {
        counts.state = std::move(state);
        counts.retrying = qint64(retries.size());
        if (callbacks.onProgress) {
            try {
                callbacks.onProgress(counts); // the caller's business: it must not stop the send
            } catch (...) {
            }
        }
    }

    bool stopped() const { return cancelled || paused || haltReason; }
};

namespace {

using State = BulkSender::State;

QCoro::Task<void> timerSleep(std::weak_ptr<State> weak, nanoseconds duration) {
    const std::shared_ptr<State> state = weak.lock();
    if (!state || state->cancelled || duration <= nanoseconds(0)) {
        co_return;
    }
    // Timers wake late (scheduling, more so on a busy machine) and count whole milliseconds, and
    // the bucket never credits a sleep that ran long, so every late wake-up would slow the send
    // for good: at 80 per second, 8 ms late each time makes 49. The lateness of earlier sleeps
    // is therefore taken off this one, all of it if need be: on average the sleeps are as long
    // as asked, so the rate holds, and at most one interval is ever made up (two sends may then
    // go together, never more). Waits beyond what a timer holds (weeks) are clamped.
    const nanoseconds target =
        std::min<nanoseconds>(duration - std::clamp(state->sleepDebt, -duration, duration),
                              std::chrono::milliseconds(std::numeric_limits<int>::max()));
    const auto started = std::chrono::steady_clock::now();
    state->timer->start(std::max(std::chrono::round<std::chrono::milliseconds>(target),
                                 std::chrono::milliseconds(0)));
    co_await Park{&state->sleepContinuation};
    if (!state->cancelled) {
        const nanoseconds late = std::chrono::steady_clock::now() - started - duration;
        // A long stall (a suspended laptop) is not paid back with a burst: at most one sleep is
        // carried.
        state->sleepDebt = std::clamp(state->sleepDebt + late, -duration, duration);
    }
}

// The throttle: a bucket of one token, so no burst; sends are 1/rate apart on average.
QCoro::Task<void> acquireToken(std::shared_ptr<State> state) {
    const double rate = state->options.ratePerSecond;
    const TimePoint now = state->options.clock();
    if (state->lastRefill) {
        const double elapsed = std::chrono::duration<double>(now - *state->lastRefill).count();
        state->tokens = std::min(state->tokens + rate * elapsed, 1.0);
    }
    state->lastRefill = now;
    if (state->tokens >= 1.0) {
        state->tokens -= 1.0;
        co_return;
    }
    // Clamped to about 30 years, so that an absurdly small rate cannot overflow the count.
    const double waitNanoseconds = std::ceil((1.0 - state->tokens) / rate * 1e9);
    const auto wait = nanoseconds(static_cast<nanoseconds::rep>(std::min(waitNanoseconds, 1e18)));
    co_await state->options.sleep(wait);
    state->tokens = 1.0;
    state->lastRefill = state->options.clock();
    state->tokens -= 1.0;
}

// Enough messages in flight to hold the rate at the latency seen so far, with room to spare.
void adaptConcurrency(State& s, nanoseconds took) {
    const double seconds = std::chrono::duration<double>(took).count();
    s.latency = s.latency ? 0.8 * *s.latency + 0.2 * seconds : seconds;
    const double needed = std::ceil(s.options.ratePerSecond * *s.latency * 1.5) + 1.0;
    s.concurrency = int(std::clamp(needed, 1.0, double(s.options.maxInFlight)));
}

// The reader is tried again later: 1 s after its first failure, doubling up to a minute, with
// jitter so that many readers failing together do not come back together. A Retry-After from
// the service holds back the whole send, as asked.
void backOff(State& s, const Subscriber& reader, const DeliveryResult& result, TimePoint now) {
    nanoseconds wait;
    if (result.waitFor) {
        wait = std::clamp<nanoseconds>(*result.waitFor, nanoseconds(0), std::chrono::minutes(15));
        s.holdUntil = std::max(s.holdUntil.value_or(now), now + wait);
    } else {
        const int doublings = std::clamp(s.attempts.value(reader.id) - 1, 0, 16);
        const nanoseconds base = std::min<nanoseconds>(
            BulkSender::firstBackOff * (1LL << doublings), BulkSender::longestBackOff);
        const double jitter = 0.5 + 0.5 * std::clamp(s.options.random(), 0.0, 1.0);
        wait = nanoseconds(nanoseconds::rep(double(base.count()) * jitter));
    }
    s.retries.push_back({reader, now + wait});
}

QCoro::Task<void> deliverOne(std::shared_ptr<State> s, Subscriber reader) {
    const TimePoint started = s->options.clock();
    ++s->inFlight;
    DeliveryResult result;
    try {
        result = co_await s->callbacks.deliver(reader);
    } catch (const std::exception& error) {
        result =
            DeliveryResult::of(DeliveryResult::Kind::rejected, QString::fromUtf8(error.what()));
    } catch (...) {
        result = DeliveryResult::of(DeliveryResult::Kind::rejected,
                                    QStringLiteral("The message could not be sent."));
    }
    --s->inFlight;
    const TimePoint now = s->options.clock();
    adaptConcurrency(*s, now - started);

    using Kind = DeliveryResult::Kind;
    if (result.kind == Kind::retry && ++s->attempts[reader.id] >= BulkSender::attemptsPerReader) {
        result.kind = Kind::rejected; // a mail server gives up in the end too
    }
    switch (result.kind) {
    case Kind::delivered:
        ++s->counts.sent;
        s->consecutiveFailures = 0;
        break;
    case Kind::rejected:
        ++s->counts.failed;
        break;
    case Kind::uncertain:
        ++s->counts.uncertain;
        break;
    case Kind::retry:
        backOff(*s, reader, result, now);
        break;
    case Kind::quotaExhausted:
        s->queue.push_front(reader); // not tried: first in line when the send resumes
        s->paused = true;
        s->pauseReason = result.reason;
        break;
    }
    if (result.kind != Kind::delivered && result.kind != Kind::quotaExhausted &&
        ++s->consecutiveFailures >= BulkSender::consecutiveFailuresToPause && !s->paused) {
        s->consecutiveFailures = 0;
        s->paused = true;
        s->pauseReason = QStringLiteral("Amazon SES is refusing messages: ") + result.reason;
    }
    if ((result.kind == Kind::delivered || result.kind == Kind::rejected ||
         result.kind == Kind::uncertain) &&
        s->callbacks.settled) {
        try {
            s->callbacks.settled(reader, result);
        } catch (...) {
        }
    }
    s->report(s->current());
    wake(s->parked);
}

// What to send next, if anything is due now: a retry whose time has come, else the next reader.
std::optional<std::pair<bool, std::size_t>> nextDue(const State& s, TimePoint now) {
    std::optional<std::size_t> earliest;
    for (std::size_t i = 0; i < s.retries.size(); ++i) {
        if (s.retries[i].due <= now && (!earliest || s.retries[i].due < s.retries[*earliest].due)) {
            earliest = i;
        }
    }
    if (earliest) {
        return std::pair{true, *earliest};
    }
    if (!s.queue.empty()) {
        return std::pair{false, std::size_t(0)};
    }
    return std::nullopt;
}

QCoro::Task<SendProgress> sendLoop(std::shared_ptr<State> s, QList<Subscriber> recipients,
                                   BulkSender::Callbacks callbacks) {
    s->running = true;
    s->tokens = 1.0;
    s->lastRefill.reset();
    s->sleepDebt = nanoseconds(0);
    s->queue = std::deque<Subscriber>(recipients.cbegin(), recipients.cend());
    s->retries.clear();
    s->attempts.clear();
    s->consecutiveFailures = 0;
    s->holdUntil.reset();
    s->counts = SendProgress{0, 0, 0, qint64(recipients.size()), 0, {}};
    s->callbacks = std::move(callbacks);
    s->report(SendProgress::State::running());

    bool failedStep = false; // a sleep or the statistics failed: stop rather than send blind
    while (!s->cancelled && !failedStep) {
        if (s->paused || s->haltReason) {
            while (s->inFlight > 0 && !s->cancelled && (s->paused || s->haltReason)) {
                co_await Park{&s->parked};
            }
            if (s->cancelled || !(s->paused || s->haltReason)) {
                continue;
            }
            s->report(s->current());
            while ((s->paused || s->haltReason) && !s->cancelled) {
                co_await Park{&s->parked};
            }
            if (!s->cancelled) {
                s->report(SendProgress::State::running());
            }
            continue;
        }
        if (s->queue.empty() && s->retries.empty()) {
            if (s->inFlight == 0) {
                break;
            }
            co_await Park{&s->parked}; // a delivery in flight may still come back for a retry
            continue;
        }
        if (s->inFlight >= s->concurrency) {
            co_await Park{&s->parked};
            continue;
        }
        TimePoint now = s->options.clock();
        std::optional<TimePoint> waitUntil;
        if (s->holdUntil && *s->holdUntil > now) {
            waitUntil = s->holdUntil;
        } else if (!nextDue(*s, now)) {
            waitUntil = std::min_element(s->retries.cbegin(), s->retries.cend(),
                                         [](const auto& a, const auto& b) { return a.due < b.due; })
                            ->due;
        }
        if (waitUntil) {
            if (s->inFlight > 0) {
                co_await Park{&s->parked}; // what comes back may change the plan
                continue;
            }
            try {
                co_await s->options.sleep(*waitUntil - now);
            } catch (...) {
                failedStep = true;
            }
            continue;
        }

        std::optional<CampaignStats> stats;
        try {
            stats = s->callbacks.currentStats();
        } catch (...) {
        }
        if (!stats) {
            failedStep = true;
            continue;
        }
        if (std::optional<QString> reason = s->options.bounceGuard.shouldHalt(*stats)) {
            s->haltReason = std::move(reason);
            continue;
        }
        try {
            co_await acquireToken(s);
        } catch (...) {
            failedStep = true;
            continue;
        }
        if (s->stopped()) {
            continue;
        }
        now = s->options.clock();
        const auto next = nextDue(*s, now);
        if (!next) {
            continue;
        }
        Subscriber reader;
        if (next->first) {
            reader = s->retries[next->second].reader;
            s->retries.erase(s->retries.begin() + std::ptrdiff_t(next->second));
        } else {
            reader = s->queue.front();
            s->queue.pop_front();
        }
        deliverOne(s, std::move(reader));
    }

    // Messages in flight complete and are counted, whatever ended the run.
    while (s->inFlight > 0) {
        co_await Park{&s->parked};
    }
    const bool finished = !s->cancelled && !failedStep && s->queue.empty() && s->retries.empty();
    s->paused = false;
    s->cancelled = false;
    s->running = false;
    s->pauseReason.reset();
    s->haltReason.reset();
    s->report(finished ? SendProgress::State::finished() : SendProgress::State::cancelled());
    const SendProgress result = s->counts;
    s->callbacks = {};
    co_return result;
}

QCoro::Task<SendProgress> refuseSecondRun(qint64 total) {
    co_return SendProgress{0, 0, 0, total, 0, SendProgress::State::cancelled()};
}

} // namespace

BulkSender::BulkSender(Options options, QObject* parent)
    : QObject(parent)
    , m_state(std::make_shared<State>()) {
    State& s = *m_state;
    s.options = std::move(options);
    // Not above 0, or not a number at all (NaN, infinity): one per second.
    if (!(s.options.ratePerSecond > 0 && std::isfinite(s.options.ratePerSecond))) {
        s.options.ratePerSecond = 1.0;
    }
    s.options.maxInFlight = std::max(1, s.options.maxInFlight);
    if (!s.options.clock) {
        s.options.clock = [] { return std::chrono::steady_clock::now(); };
    }
    if (!s.options.random) {
        s.options.random = [] { return QRandomGenerator::global()->generateDouble(); };
    }
    if (!s.options.sleep) {
        s.timer = std::make_unique<QTimer>();
        s.timer->setSingleShot(true);
        s.timer->setTimerType(Qt::PreciseTimer);
        State* raw = m_state.get();
        QObject::connect(s.timer.get(), &QTimer::timeout, s.timer.get(),
                         [raw] { wake(raw->sleepContinuation); });
        std::weak_ptr<State> weak = m_state;
        s.options.sleep = [weak](nanoseconds duration) { return timerSleep(weak, duration); };
    }
}

BulkSender::~BulkSender() {
    cancel();
}

QCoro::Task<SendProgress> BulkSender::run(QList<Subscriber> recipients, Callbacks callbacks) {
    if (m_state->running) {
        return refuseSecondRun(recipients.size());
    }
    return sendLoop(m_state, std::move(recipients), std::move(callbacks));
}

void BulkSender::pause() {
    m_state->paused = true;
}

void BulkSender::resume() {
    const std::shared_ptr<State> state = m_state;
    state->paused = false;
    state->pauseReason.reset();
    state->haltReason.reset();
    wake(state->parked);
}

void BulkSender::cancel() {
    // Keep the state alive while the woken loop runs, even if it drops the last other owner.
    const std::shared_ptr<State> state = m_state;
    state->cancelled = true;
    wake(state->parked);
    if (state->timer) {
        state->timer->stop();
    }
    wake(state->sleepContinuation);
}

double BulkSender::ratePerSecond() const {
    return m_state->options.ratePerSecond;
}

const BounceGuard& BulkSender::bounceGuard() const {
    return m_state->options.bounceGuard;
}

bool BulkSender::isPaused() const {
    return m_state->paused || m_state->haltReason;
}

bool BulkSender::isCancelled() const {
    return m_state->cancelled;
}

bool BulkSender::isRunning() const {
    return m_state->running;
}

int BulkSender::inFlight() const {
    return m_state->inFlight;
}

int BulkSender::concurrency() const {
    return m_state->concurrency;
}

} // namespace quillmere
