#pragma once

#include "core/campaign_stats.h"
#include "core/subscriber.h"
#include "ses/bounce_guard.h"
#include "ses/send_progress.h"

#include <QList>
#include <QObject>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

namespace quillmere {

// Sends one issue to a list, one reader at a time, paced by a one-token bucket below the SES
// send rate, pausable and cancellable from the interface, halted by the bounce guard. It knows
// nothing of SES or MIME: the caller's callbacks deliver, report statistics and take progress.
//
// Lives on the interface thread: run() suspends in callbacks, sleeps and pauses, and pause(),
// resume() and cancel() are plain calls between those suspensions, so nothing needs a lock.
class BulkSender : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // May throw; the run then ends cancelled.
    using Sleep = std::function<QCoro::Task<void>(std::chrono::nanoseconds)>;
    using Deliver = std::function<QCoro::Task<void>(const Subscriber&)>;
    using CurrentStats = std::function<QCoro::Task<CampaignStats>()>;
    using OnProgress = std::function<QCoro::Task<void>(const SendProgress&)>;

    // A rate not above 0 is taken as 1 per second. The default sleep awaits a precise QTimer
    // and is cut short by cancel(); the default clock is std::chrono::steady_clock.
    BulkSender(double ratePerSecond, BounceGuard bounceGuard, Sleep sleep = {}, Clock clock = {},
               QObject* parent = nullptr);
    // A run still suspended ends as cancelled when its current step returns.
    ~BulkSender() override;

    // Delivers to every recipient in order and returns the final progress; never throws.
    // Progress is reported once at the start, after every delivery, on entering and leaving a
    // pause, and once with the final state. One run at a time: a second call while a run is
    // under way returns cancelled at once and leaves the first alone.
    QCoro::Task<SendProgress> run(QList<Subscriber> recipients, Deliver deliver,
                                  CurrentStats currentStats, OnProgress onProgress);

    // Takes effect before the next recipient; a delivery in flight completes.
    void pause();
    void resume();
    void cancel();

    double ratePerSecond() const;
    const BounceGuard& bounceGuard() const;
    bool isPaused() const;
    bool isCancelled() const;
    bool isRunning() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace quillmere
