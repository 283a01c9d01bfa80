// The bulk sender with a fake monotonic clock and an instant sleep, so pacing is exact and the
// tests take no time; one case uses the real timer to show that cancel() cuts a sleep short.
// Deliveries either answer at once or wait on a fake network the test answers.

#include "ses/bulk_sender.h"
#include "ses/send_failure.h"
#include "ses/ses_error.h"
#include "ses/transport_error.h"
#include "support/run_task.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <coroutine>
#include <deque>
#include <limits>

using namespace quillmere;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using State = SendProgress::State;
using Kind = State::Kind;
using Result = DeliveryResult;

namespace {

QList<Subscriber> readers(int count) {
    QList<Subscriber> out;
    for (int i = 0; i < count; ++i) {
        out.append({.id = QUuid::createUuid(),
                    .email = u"r%1@example.org"_s.arg(i),
                    .status = SubscriberStatus::active});
    }
    return out;
}

// A fake clock whose sleeps advance it at once, a scripted answer per attempt, and records of
// every callback. With `network`, deliveries wait until answer() is called.
struct Harness {
    std::chrono::steady_clock::time_point now{};
    QList<std::chrono::nanoseconds> sleeps;
    QList<double> startedAt; // seconds on the fake clock
    QStringList attempts;
    QList<SendProgress> reports;
    QList<std::pair<QString, Result::Kind>> settled;
    CampaignStats stats;
    std::function<Result(const Subscriber&)> answerFor = [](const Subscriber&) { return Result{}; };
    bool network = false;
    // With a latency, every answer comes that long after its request, sleeps included.
    std::optional<std::chrono::nanoseconds> latency;
    struct Pending {
        std::coroutine_handle<> handle;
        std::chrono::steady_clock::time_point due;
    };
    std::deque<Pending> waiting;
    int mostInFlight = 0;
    BulkSender* sender = nullptr;

    BulkSender::Options options(double rate, int maxInFlight = 16) {
        return {.ratePerSecond = rate,
                .maxInFlight = maxInFlight,
                .sleep = [this](std::chrono::nanoseconds d) -> QCoro::Task<void> {
                    sleeps.append(d);
                    const auto until = now + d;
                    while (latency && !waiting.empty() && waiting.front().due <= until) {
                        answer();
                    }
                    now = until;
                    co_return;
                },
                .clock = [this] { return now; },
                .random = [] { return 1.0; }};
    }

    struct Wait {
        Harness* h;
        bool await_ready() const noexcept { return !h->network; }
        void await_suspend(std::coroutine_handle<> handle) {
            h->waiting.push_back({handle, h->now + h->latency.value_or(0ns)});
        }
        void await_resume() const noexcept {}
    };

    static QCoro::Task<Result> deliverOne(Harness* h, Subscriber s) {
        h->startedAt.append(std::chrono::duration<double>(h->now.time_since_epoch()).count());
        h->attempts.append(s.email);
        h->mostInFlight = std::max(h->mostInFlight, h->sender ? h->sender->inFlight() : 0);
        Result result = h->answerFor(s);
        co_await Wait{h};
        co_return result;
    }

    // The oldest delivery in flight gets its answer, `after` from now or when it is due.
    void answer(std::chrono::nanoseconds after = 0ns) {
        const Pending next = waiting.front();
        waiting.pop_front();
        now = std::max(now + after, next.due);
        next.handle.resume();
    }

    QCoro::Task<SendProgress> run(BulkSender& s, const QList<Subscriber>& recipients) {
        sender = &s;
        return s.run(recipients,
                     {.deliver = [this](const Subscriber& r) { return deliverOne(this, r); },
                      .currentStats = [this] { return stats; },
                      .onProgress = [this](const SendProgress& p) { reports.append(p); },
                      .settled =
                          [this](const Subscriber& r, const Result& d) {
                              settled.append({r.email, d.kind});
                          }});
    }
};

SendProgress progress(qint64 sent, qint64 failed, qint64 uncertain, qint64 total, State state) {
    return {sent, failed, uncertain, total, 0, std::move(state)};
}

} // namespace

class TestBulkSender : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pacing();
    void pauseResumeAndCancel();
    void concurrencyFollowsLatencyWithinTheRate();
    void failuresHandledLikeAMailServer();
    void refusalsAndTheQuotaPause();
    void bounceGuardHaltsUntilResumed();
    void classify();
    void cancelCutsARealSleepShort();
};

void TestBulkSender::pacing() {
    Harness h;
    BulkSender sender(h.options(2.0));
    const SendProgress result = test::runTask(h.run(sender, readers(5)));
    QCOMPARE(result, progress(5, 0, 0, 5, State::finished()));
    QCOMPARE(h.startedAt, (QList<double>{0.0, 0.5, 1.0, 1.5, 2.0}));
    QCOMPARE(h.sleeps, QList<std::chrono::nanoseconds>(4, 500ms));
    QCOMPARE(h.reports.size(), 7); // the start, one per delivery, the end
    QCOMPARE(h.reports[3], progress(3, 0, 0, 5, State::running()));
    QCOMPARE(h.settled.size(), 5);

    // Not a rate at all: one per second. An empty list starts, ends and asks nobody anything.
    for (const double rate : {0.0, -3.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        Harness f;
        BulkSender floor(f.options(rate));
        QCOMPARE(floor.ratePerSecond(), 1.0);
        QCOMPARE(test::runTask(f.run(floor, readers(0))), progress(0, 0, 0, 0, State::finished()));
        QCOMPARE(f.reports.size(), 2);
    }
}

void TestBulkSender::pauseResumeAndCancel() {
    Harness h;
    h.network = true;
    BulkSender sender(h.options(2.0, 1));
    QCoro::Task<SendProgress> run = h.run(sender, readers(5));
    h.answer();
    sender.pause(); // the second message is in flight: it completes, nothing new starts
    QCOMPARE(h.waiting.size(), 1u);
    QCOMPARE(h.reports.last().state.kind, Kind::running);
    h.answer();
    QCOMPARE(h.reports.last(), progress(2, 0, 0, 5, State::paused()));
    QVERIFY(h.waiting.empty());
    h.now += 10s;
    sender.resume();
    QCOMPARE(h.startedAt.last(), 10.5); // a full bucket after the pause: at once
    h.answer();
    sender.cancel(); // the next one is in flight and is still counted
    QVERIFY(!run.isReady());
    h.answer();
    QCOMPARE(test::runTask(std::move(run)), progress(4, 0, 0, 5, State::cancelled()));
    QCOMPARE(QSet<QString>(h.attempts.cbegin(), h.attempts.cend()).size(), 4); // nobody twice

    // It runs again, unpaused; a second run during a run is refused and leaves it alone.
    QCoro::Task<SendProgress> again = h.run(sender, readers(2));
    QCOMPARE(test::runTask(h.run(sender, readers(7))).state.kind, Kind::cancelled);
    h.answer();
    h.answer();
    QCOMPARE(test::runTask(std::move(again)), progress(2, 0, 0, 2, State::finished()));
    h.network = false;

    // A sender destroyed while a run is parked ends that run.
    auto doomed = std::make_unique<BulkSender>(h.options(2.0));
    h.answerFor = [&doomed](const Subscriber&) {
        doomed->pause();
        return Result{};
    };
    QCoro::Task<SendProgress> orphaned = h.run(*doomed, readers(3));
    QVERIFY(!orphaned.isReady());
    doomed.reset();
    QCOMPARE(test::runTask(std::move(orphaned)), progress(1, 0, 0, 3, State::cancelled()));
}

void TestBulkSender::concurrencyFollowsLatencyWithinTheRate() {
    // Every answer takes 200 ms; 20 per second then needs at least 4 in flight.
    const auto send = [](int maxInFlight) {
        auto h = std::make_unique<Harness>();
        h->network = true;
        h->latency = 200ms;
        BulkSender sender(h->options(20.0, maxInFlight));
        QCoro::Task<SendProgress> run = h->run(sender, readers(60));
        while (!run.isReady() && !h->waiting.empty()) {
            h->answer();
        }
        return std::pair{std::move(h), test::runTask(std::move(run)).sent};
    };
    const auto [h, sent] = send(16);
    QCOMPARE(sent, 60);
    QVERIFY2(h->mostInFlight >= 4 && h->mostInFlight <= 7,
             qPrintable(QString::number(h->mostInFlight)));
    for (int i = 1; i < h->startedAt.size(); ++i) {
        QVERIFY2(h->startedAt[i] - h->startedAt[i - 1] >= 0.05 - 1e-9, "above the rate");
    }
    // The first answer sets the pace; from then on the rate holds: 59 more in 2.9 s.
    QCOMPARE(h->startedAt.last(), 0.2 + 58 * 0.05);

    for (const int cap : {1, 3}) {
        const auto [capped, all] = send(cap);
        QCOMPARE(all, 60);
        QCOMPARE(capped->mostInFlight, cap);
    }
}

void TestBulkSender::failuresHandledLikeAMailServer() {
    // r1 is throttled twice (the second time with Retry-After), r2 refused, r3 uncertain, r4
    // fails for good after ten attempts; nobody is sent to above the rate.
    Harness h;
    QHash<QString, int> tries;
    const QHash<QString, Result> always{
        {u"r2@example.org"_s, Result::of(Result::Kind::rejected, u"SES 400 MessageRejected: no"_s)},
        {u"r3@example.org"_s, Result::of(Result::Kind::uncertain, u"Connection closed"_s)},
        {u"r4@example.org"_s, Result::of(Result::Kind::retry, u"SES 503 ServiceUnavailable: x"_s)}};
    h.answerFor = [&tries, &always](const Subscriber& s) {
        const int n = ++tries[s.email];
        if (s.email == u"r1@example.org"_s && n <= 2) {
            return Result::of(Result::Kind::retry, u"SES 429 Throttling: slow down"_s,
                              n == 2 ? std::optional(5000ms) : std::nullopt);
        }
        return always.value(s.email);
    };
    BulkSender sender(h.options(10.0));
    const SendProgress result = test::runTask(h.run(sender, readers(6)));
    QCOMPARE(result, progress(3, 2, 1, 6, State::finished()));
    // r3 may have arrived: never again.
    QCOMPARE((QList{tries[u"r1@example.org"_s], tries[u"r2@example.org"_s],
                    tries[u"r3@example.org"_s], tries[u"r4@example.org"_s]}),
             (QList{3, 1, 1, BulkSender::attemptsPerReader}));
    // The reader's back-off starts at 1 s (jitter at its top here); Retry-After holds them all.
    const int second = int(h.attempts.indexOf(u"r1@example.org"_s, 2));
    QCOMPARE(h.startedAt[second] - h.startedAt[1], 1.0);
    const int third = int(h.attempts.indexOf(u"r1@example.org"_s, second + 1));
    QVERIFY(h.startedAt[third] - h.startedAt[second] >= 5.0 - 1e-9);
    for (int i = 1; i < h.startedAt.size(); ++i) {
        QVERIFY(h.startedAt[i] - h.startedAt[i - 1] >= 0.1 - 1e-9);
    }
    // Each reader's fate is told once, when it is final.
    QCOMPARE(h.settled.size(), 6);
    QVERIFY(h.settled.contains(std::pair{u"r2@example.org"_s, Result::Kind::rejected}));
    QVERIFY(h.settled.contains(std::pair{u"r3@example.org"_s, Result::Kind::uncertain}));
    QVERIFY(h.settled.contains(std::pair{u"r4@example.org"_s, Result::Kind::rejected}));
}

void TestBulkSender::refusalsAndTheQuotaPause() {
    // Twenty failures in a row pause the send with SES's words; resuming carries on.
    Harness h;
    int calls = 0;
    h.answerFor = [&calls](const Subscriber&) {
        return ++calls <= 20 ? Result::of(Result::Kind::rejected, u"SES 403 AccessDenied: no"_s)
                             : Result{};
    };
    BulkSender sender(h.options(100.0));
    QCoro::Task<SendProgress> run = h.run(sender, readers(25));
    QCOMPARE(
        h.reports.last(),
        progress(0, 20, 0, 25,
                 State::paused(u"Amazon SES is refusing messages: SES 403 AccessDenied: no"_s)));
    sender.resume();
    QCOMPARE(test::runTask(std::move(run)), progress(5, 20, 0, 25, State::finished()));

    // The daily quota pauses at once, and the reader it refused goes first on resume.
    Harness q;
    int sent = 0;
    q.answerFor = [&sent](const Subscriber&) {
        return ++sent == 3 ? Result::of(Result::Kind::quotaExhausted, u"quota used up"_s)
                           : Result{};
    };
    BulkSender quota(q.options(100.0));
    QCoro::Task<SendProgress> limited = q.run(quota, readers(4));
    QCOMPARE(q.reports.last(), progress(2, 0, 0, 4, State::paused(u"quota used up"_s)));
    quota.resume();
    QCOMPARE(test::runTask(std::move(limited)), progress(4, 0, 0, 4, State::finished()));
    QCOMPARE(q.attempts.mid(2),
             (QStringList{u"r2@example.org"_s, u"r2@example.org"_s, u"r3@example.org"_s}));
}

void TestBulkSender::bounceGuardHaltsUntilResumed() {
    Harness h;
    h.answerFor = [&h](const Subscriber&) {
        h.stats.sent += 1;
        h.stats.bounced = h.stats.sent >= 30 ? 3 : 0;
        return Result{};
    };
    BulkSender sender(h.options(1000.0, 1));
    QCoro::Task<SendProgress> run = h.run(sender, readers(100));
    const QString reason = u"Bounce rate 6.00% is above the 5.00% limit (3 of 50 sent). Sending "
                           "paused to protect your SES reputation."_s;
    QCOMPARE(h.reports.last(), progress(50, 0, 0, 100, State::halted(reason)));
    QVERIFY(sender.isPaused());
    h.stats = {}; // the caller judges afresh after the writer's confirmation
    h.answerFor = [](const Subscriber&) { return Result{}; };
    sender.resume();
    QCOMPARE(test::runTask(std::move(run)), progress(100, 0, 0, 100, State::finished()));
}

void TestBulkSender::classify() {
    // Only what the fault proxy in front of the SES emulator cannot provoke (tst_list_send sends
    // through 5xx, the daily quota, refusals and drops after sending).
    const auto ses = [](int status, const QString& type, const QString& message,
                        std::optional<std::chrono::milliseconds> wait = {}) {
        SESError e = SESError::http(status, type, message);
        e.setRetryAfter(wait);
        return SendFailure::classify(e);
    };
    using K = Result::Kind;
    const std::pair<Result, std::pair<K, qint64>> rows[] = {
        {ses(429, u"TooManyRequestsException"_s, u"x"_s, 3000ms), {K::retry, 3000}},
        {ses(400, u"Throttling"_s, u"Maximum sending rate exceeded."_s), {K::retry, -1}},
        {SendFailure::classify(SESError::decoding(u"2xx without an id"_s)), {K::uncertain, -1}},
        {SendFailure::classify(
             TransportError(u"refused"_s, QNetworkReply::ConnectionRefusedError, false)),
         {K::retry, -1}},
    };
    for (const auto& [result, expected] : rows) {
        QCOMPARE(std::pair(result.kind, qint64(result.waitFor.value_or(-1ms).count())), expected);
        QVERIFY(!result.reason.isEmpty());
    }
}

void TestBulkSender::cancelCutsARealSleepShort() {
    // The default sleep (a precise QTimer) and clock: 0.01 per second means a 100 s wait after
    // the first reader, which cancel() ends at once.
    Harness h;
    BulkSender sender({.ratePerSecond = 0.01});
    QTimer::singleShot(50ms, &sender, [&sender] { sender.cancel(); });
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(test::runTask(h.run(sender, readers(3))), progress(1, 0, 0, 3, State::cancelled()));
    QVERIFY2(elapsed.elapsed() < 20000, "cancel() must not wait for the sleep to run out");

    // And it really paces: two readers at 20 per second are 50 ms apart.
    BulkSender quick({.ratePerSecond = 20.0});
    elapsed.restart();
    QCOMPARE(test::runTask(h.run(quick, readers(2))).sent, 2);
    QVERIFY(elapsed.elapsed() >= 50);
}

QTEST_GUILESS_MAIN(TestBulkSender)
#include "tst_bulk_sender.moc"
