#include "ses/bulk_sender.h"

#include <QTimer>

#include <cmath>
#include <coroutine>
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

// Shared by the object and a running loop, so a loop suspended while its sender is destroyed
// still finds its state when it resumes.
struct BulkSender::State {
    double ratePerSecond = 1.0;
    BounceGuard bounceGuard;
    Sleep sleep;
    Clock clock;

    bool paused = false;
    bool cancelled = false;
    bool running = false;
    std::coroutine_handle<> resumeContinuation; // the loop parked in waitWhilePaused
    double tokens = 1.0;
    std::optional<TimePoint> lastRefill;

    // The default sleep: one precise timer, reused, whose sleeper cancel() can wake early.
    std::unique_ptr<QTimer> timer;
    std::coroutine_handle<> sleepContinuation;
    nanoseconds sleepDebt{0}; // how much longer than asked the sleeps so far have been
};

namespace {

using State = BulkSender::State;

QCoro::Task<void> timerSleep(std::weak_ptr<State> weak, nanoseconds duration) {
    const std::shared_ptr<State> state = weak.lock();
    if (!state || state->cancelled || duration <= nanoseconds(0)) {
        co_return;
    }
    // Timers wake late (scheduling) and count whole milliseconds, and the bucket never credits
    // a sleep that ran long, so every late wake-up would slow the send for good. The lateness
    // of earlier sleeps is therefore taken off this one, at most a tenth of it: on average the
    // sleeps are as long as asked, and no two sends come more than a tenth closer than the
    // rate allows. Waits beyond what a timer holds (weeks) are clamped.
    const nanoseconds allowance = duration / 10;
    const nanoseconds target =
        std::min<nanoseconds>(duration - std::clamp(state->sleepDebt, -allowance, allowance),
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

QCoro::Task<void> waitWhilePaused(std::shared_ptr<State> state) {
    while (state->paused && !state->cancelled) {
        co_await Park{&state->resumeContinuation};
    }
}

// The throttle: a bucket of one token, so no burst; sends are 1/rate apart on average.
QCoro::Task<void> acquireToken(std::shared_ptr<State> state) {
    const TimePoint now = state->clock();
    if (state->lastRefill) {
        const double elapsed = std::chrono::duration<double>(now - *state->lastRefill).count();
        state->tokens = std::min(state->tokens + state->ratePerSecond * elapsed, 1.0);
    }
    state->lastRefill = now;
    if (state->tokens >= 1.0) {
        state->tokens -= 1.0;
        co_return;
    }
    // Clamped to about 30 years, so that an absurdly small rate cannot overflow the count.
    const double waitNanoseconds = std::ceil((1.0 - state->tokens) / state->ratePerSecond * 1e9);
    const auto wait = nanoseconds(static_cast<nanoseconds::rep>(std::min(waitNanoseconds, 1e18)));
    co_await state->sleep(wait);
    state->tokens = 1.0;
    state->lastRefill = state->clock();
    state->tokens -= 1.0;
}

// Progress is the caller's business: a failing report must not stop or fail the send.
QCoro::Task<void> report(const BulkSender::OnProgress& onProgress, SendProgress progress) {
    if (!onProgress) {
        co_return;
    }
    try {
        co_await onProgress(progress);
    } catch (...) {
    }
}

QCoro::Task<SendProgress> sendLoop(std::shared_ptr<State> state, QList<Subscriber> recipients,
                                   BulkSender::Deliver deliver,
                                   BulkSender::CurrentStats currentStats,
                                   BulkSender::OnProgress onProgress) {
    qint64 sent = 0;
    qint64 failed = 0;
    const qint64 total = recipients.size();
    state->running = true;
    state->tokens = 1.0;
    state->lastRefill.reset();
    state->sleepDebt = nanoseconds(0);
    SendProgress::State end = SendProgress::State::finished();

    const SendProgress start{0, 0, total, SendProgress::State::running()};
    co_await report(onProgress, start);

    for (const Subscriber& recipient : std::as_const(recipients)) {
        if (state->paused && !state->cancelled) {
            const SendProgress pausedAt{sent, failed, total, SendProgress::State::paused()};
            co_await report(onProgress, pausedAt);
            co_await waitWhilePaused(state);
            if (state->cancelled) {
                end = SendProgress::State::cancelled();
                break;
            }
            const SendProgress resumedAt{sent, failed, total, SendProgress::State::running()};
            co_await report(onProgress, resumedAt);
        }
        // QCoro tasks have no cancellation of their own; cancel() is the only way to stop.
        if (state->cancelled) {
            end = SendProgress::State::cancelled();
            break;
        }

        // Without statistics the guard cannot judge, and sending blind is not safe.
        std::optional<CampaignStats> stats;
        try {
            stats = co_await currentStats();
        } catch (...) {
        }
        if (!stats) {
            end = SendProgress::State::cancelled();
            break;
        }
        if (std::optional<QString> reason = state->bounceGuard.shouldHalt(*stats)) {
            end = SendProgress::State::halted(std::move(*reason));
            break;
        }

        bool throttled = false;
        try {
            co_await acquireToken(state);
            throttled = true;
        } catch (...) {
        }
        if (!throttled || state->cancelled) {
            end = SendProgress::State::cancelled();
            break;
        }

        // No retry and no back-off: a throttled or rejected message simply counts as failed.
        bool delivered = false;
        try {
            co_await deliver(recipient);
            delivered = true;
        } catch (...) {
        }
        if (delivered) {
            ++sent;
        } else {
            ++failed;
        }

        const SendProgress afterDelivery{sent, failed, total, SendProgress::State::running()};
        co_await report(onProgress, afterDelivery);
    }

    // The flags are cleared at every end, so the same object can run again.
    state->paused = false;
    state->cancelled = false;
    state->running = false;
    const SendProgress result{sent, failed, total, std::move(end)};
    co_await report(onProgress, result);
    co_return result;
}

QCoro::Task<SendProgress> refuseSecondRun(qint64 total) {
    co_return SendProgress{0, 0, total, SendProgress::State::cancelled()};
}

} // namespace

BulkSender::BulkSender(double ratePerSecond, BounceGuard bounceGuard, Sleep sleep, Clock clock,
                       QObject* parent)
    : QObject(parent)
    , m_state(std::make_shared<State>()) {
    // Not above 0, or not a number at all (NaN, infinity): one per second.
    m_state->ratePerSecond =
        ratePerSecond > 0 && std::isfinite(ratePerSecond) ? ratePerSecond : 1.0;
    m_state->bounceGuard = bounceGuard;
    m_state->clock =
        clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); });
    if (sleep) {
        m_state->sleep = std::move(sleep);
    } else {
        m_state->timer = std::make_unique<QTimer>();
        m_state->timer->setSingleShot(true);
        m_state->timer->setTimerType(Qt::PreciseTimer);
        State* raw = m_state.get();
        QObject::connect(m_state->timer.get(), &QTimer::timeout, m_state->timer.get(),
                         [raw] { wake(raw->sleepContinuation); });
        std::weak_ptr<State> weak = m_state;
        m_state->sleep = [weak](nanoseconds duration) { return timerSleep(weak, duration); };
    }
}

BulkSender::~BulkSender() {
    cancel();
}

QCoro::Task<SendProgress> BulkSender::run(QList<Subscriber> recipients, Deliver deliver,
                                          CurrentStats currentStats, OnProgress onProgress) {
    if (m_state->running) {
        return refuseSecondRun(recipients.size());
    }
    return sendLoop(m_state, std::move(recipients), std::move(deliver), std::move(currentStats),
                    std::move(onProgress));
}

void BulkSender::pause() {
    m_state->paused = true;
}

void BulkSender::resume() {
    m_state->paused = false;
    wake(m_state->resumeContinuation);
}

void BulkSender::cancel() {
    // Keep the state alive while the woken loop runs, even if it drops the last other owner.
    const std::shared_ptr<State> state = m_state;
    state->cancelled = true;
    wake(state->resumeContinuation);
    if (state->timer) {
        state->timer->stop();
    }
    wake(state->sleepContinuation);
}

double BulkSender::ratePerSecond() const {
    return m_state->ratePerSecond;
}

const BounceGuard& BulkSender::bounceGuard() const {
    return m_state->bounceGuard;
}

bool BulkSender::isPaused() const {
    return m_state->paused;
}

bool BulkSender::isCancelled() const {
    return m_state->cancelled;
}

bool BulkSender::isRunning() const {
    return m_state->running;
}

} // namespace quillmere
