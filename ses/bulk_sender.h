#pragma once

#include "core/campaign_stats.h"
#include "core/subscriber.h"
#include "ses/bounce_guard.h"
#include "ses/delivery_result.h"
#include "ses/send_progress.h"

#include <QList>
#include <QObject>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

namespace quillmere {

// Sends one issue to a list, paced by a one-token bucket below the SES send rate, with up to K
// messages in flight (K follows the measured latency: as many as the rate needs, at most
// `maxInFlight`). Pausable and cancellable from the interface; halted by the bounce guard. It
// knows nothing of MIME or the library: the caller's callbacks deliver, report statistics and
// take progress.
//
// Failures are handled as a mail server would: after throttling, a server error or no
// connection the reader is tried again later in the same run (exponential back-off with jitter;
// a Retry-After holds back the whole send), never above the rate; a refusal fails that reader;
// a message that may have arrived is never sent again. Twenty failures in a row, or the daily
// quota, pause the send with the reason.
//
// Lives on the interface thread: run() suspends in callbacks, sleeps and pauses, and pause(),
// resume() and cancel() are plain calls between those suspensions, so nothing needs a lock.
class BulkSender : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // May throw; the run then ends cancelled.
    using Sleep = std::function<QCoro::Task<void>(std::chrono::nanoseconds)>;
    // Should not throw: a throw counts as a refusal with the exception's text.
    using Deliver = std::function<QCoro::Task<DeliveryResult>(const Subscriber&)>;
    using CurrentStats = std::function<CampaignStats()>;
    using OnProgress = std::function<void(const SendProgress&)>;
    // A reader's fate is known: delivered, rejected or uncertain (after any retries).
    using Settled = std::function<void(const Subscriber&, const DeliveryResult&)>;
    using Random = std::function<double()>; // uniform in [0, 1)

    static constexpr int consecutiveFailuresToPause = 20;
    static constexpr int attemptsPerReader = 10;
    static constexpr std::chrono::milliseconds firstBackOff{1000};
    static constexpr std::chrono::milliseconds longestBackOff{60000};

    struct Options {
        double ratePerSecond = 1.0; // not above 0 (or not a number): 1 per second
        BounceGuard bounceGuard;
        int maxInFlight = 16;
        Sleep sleep;   // default: a precise QTimer, cut short by cancel()
        Clock clock;   // default: std::chrono::steady_clock
        Random random; // default: QRandomGenerator
    };

    explicit BulkSender(Options options, QObject* parent = nullptr);
    // A run still suspended ends as cancelled once its deliveries in flight complete.
    ~BulkSender() override;

    // Delivers to every recipient and returns the final progress; never throws. Progress is
    // reported once at the start, after every delivery, on entering and leaving a pause or a
    // halt (entering only once the messages in flight have completed), and once at the end.
    // One run at a time: a second call while a run is under way returns cancelled at once.
    struct Callbacks {
        Deliver deliver;
        CurrentStats currentStats;
        OnProgress onProgress;
        Settled settled;
    };
    QCoro::Task<SendProgress> run(QList<Subscriber> recipients, Callbacks callbacks);

    // Start nothing new; messages in flight complete. resume() also ends a halt or a pause the
    // sender made itself: the caller asks the writer first.
    void pause();
    void resume();
    void cancel();

    double ratePerSecond() const;
    const BounceGuard& bounceGuard() const;
    bool isPaused() const;
    bool isCancelled() const;
    bool isRunning() const;
    // Messages in flight now, and how many may be at the current latency.
    int inFlight() const;
    int concurrency() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace quillmere
