// The bulk sender with a fake monotonic clock and an instant sleep, so pacing is exact and the
// tests take no time; one case uses the real timer to show that cancel() cuts a sleep short.

#include "ses/bulk_sender.h"
#include "ses/ses_error.h"
#include "support/run_task.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <limits>

using namespace quillmere;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using State = SendProgress::State;
using Kind = State::Kind;

namespace {

QList<Subscriber> readers(int count) {
    QList<Subscriber> out;
    for (int i = 0; i < count; ++i) {
        Subscriber s;
        s.id = QUuid::createUuid();
        s.email = u"r%1@example.org"_s.arg(i);
        s.status = SubscriberStatus::active;
        out.append(s);
    }
    return out;
}

// A fake monotonic clock whose sleep advances it at once, and records of every callback.
struct Harness {
    std::chrono::steady_clock::time_point now{};
    QList<std::chrono::nanoseconds> sleeps;
    QList<double> deliveredAt; // seconds on the fake clock
    QStringList delivered;
    QList<SendProgress> reports;
    int statsCalls = 0;
    CampaignStats stats;
    std::function<void(const Subscriber&)> onDeliver; // runs inside each delivery

    BulkSender::Clock clock() {
        return [this] { return now; };
    }
    BulkSender::Sleep sleep() {
        return [this](std::chrono::nanoseconds d) -> QCoro::Task<void> {
            sleeps.append(d);
            now += d;
            co_return;
        };
    }
    BulkSender::Deliver deliver() {
        return [this](const Subscriber& s) -> QCoro::Task<void> {
            deliveredAt.append(std::chrono::duration<double>(now.time_since_epoch()).count());
            delivered.append(s.email);
            if (onDeliver) {
                onDeliver(s);
            }
            co_return;
        };
    }
    BulkSender::CurrentStats currentStats() {
        return [this]() -> QCoro::Task<CampaignStats> {
            ++statsCalls;
            co_return stats;
        };
    }
    BulkSender::OnProgress onProgress() {
        return [this](const SendProgress& p) -> QCoro::Task<void> {
            reports.append(p);
            co_return;
        };
    }
    QCoro::Task<SendProgress> run(BulkSender& sender, const QList<Subscriber>& recipients) {
        return sender.run(recipients, deliver(), currentStats(), onProgress());
    }
};

SendProgress progress(qint64 sent, qint64 failed, qint64 total, SendProgress::State state) {
    return {sent, failed, total, std::move(state)};
}

} // namespace

class TestBulkSender : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pacing();
    void rateFloorAndSlowCallers();
    void pauseAndResume();
    void cancelOrDestroyWhileParked();
    void bounceGuardHalts();
    void failedDeliveriesAreCounted();
    void failingStepsEndTheRunCancelled();
    void runsAgainAfterCancel();
    void cancelCutsARealSleepShort();
};

void TestBulkSender::pacing() {
    Harness h;
    BulkSender sender(2.0, BounceGuard{}, h.sleep(), h.clock());
    const SendProgress result = test::runTask(h.run(sender, readers(5)));

    QCOMPARE(result, progress(5, 0, 5, State::finished()));
    QCOMPARE(h.deliveredAt, (QList<double>{0.0, 0.5, 1.0, 1.5, 2.0}));
    QCOMPARE(h.sleeps, QList<std::chrono::nanoseconds>(4, 500ms));
    QCOMPARE(h.delivered.last(), u"r4@example.org"_s);
    // Once at the start, once per delivery, once at the end.
    QCOMPARE(h.reports.size(), 7);
    QCOMPARE(h.reports.first(), progress(0, 0, 5, State::running()));
    QCOMPARE(h.reports[3], progress(3, 0, 5, State::running()));
    QCOMPARE(h.reports.last(), result);
    QCOMPARE(h.statsCalls, 5); // the guard judges before every reader

    // An empty list starts and finishes, and asks nobody anything.
    Harness none;
    BulkSender idle(2.0, BounceGuard{}, none.sleep(), none.clock());
    QCOMPARE(test::runTask(none.run(idle, {})), progress(0, 0, 0, State::finished()));
    QCOMPARE(none.reports.size(), 2);
    QCOMPARE(none.statsCalls, 0);
}

void TestBulkSender::rateFloorAndSlowCallers() {
    for (const double rate : {0.0, -3.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        Harness h;
        BulkSender sender(rate, BounceGuard{}, h.sleep(), h.clock());
        QCOMPARE(sender.ratePerSecond(), 1.0);
        test::runTask(h.run(sender, readers(3)));
        QCOMPARE(h.deliveredAt, (QList<double>{0.0, 1.0, 2.0}));
    }

    // A caller slower than the rate is never made to wait: no fixed pause between sends.
    Harness slow;
    slow.onDeliver = [&slow](const Subscriber&) { slow.now += 700ms; };
    BulkSender sender(2.0, BounceGuard{}, slow.sleep(), slow.clock());
    test::runTask(slow.run(sender, readers(4)));
    QVERIFY(slow.sleeps.isEmpty());

    // Partial refills count: 0.3 s of work at 2 per second leaves 0.2 s to wait.
    Harness partial;
    partial.onDeliver = [&partial](const Subscriber&) { partial.now += 300ms; };
    BulkSender paced(2.0, BounceGuard{}, partial.sleep(), partial.clock());
    test::runTask(partial.run(paced, readers(3)));
    QCOMPARE(partial.sleeps, QList<std::chrono::nanoseconds>(2, 200ms));
    QCOMPARE(partial.deliveredAt, (QList<double>{0.0, 0.5, 1.0}));
}

void TestBulkSender::pauseAndResume() {
    Harness h;
    BulkSender sender(2.0, BounceGuard{}, h.sleep(), h.clock());
    h.onDeliver = [&](const Subscriber&) {
        if (h.delivered.size() == 2) {
            sender.pause(); // the delivery in flight completes
        }
    };
    QCoro::Task<SendProgress> run = h.run(sender, readers(5));
    QVERIFY(!run.isReady());
    QVERIFY(sender.isPaused());
    QCOMPARE(h.delivered.size(), 2);
    QCOMPARE(h.reports.last(), progress(2, 0, 5, State::paused()));

    // Time passes while paused; the bucket then holds a full token and the next goes at once.
    h.now += 10s;
    h.sleeps.clear();
    sender.resume();
    sender.resume(); // a second wake finds nobody parked
    QVERIFY(run.isReady());
    QCOMPARE(test::runTask(std::move(run)), progress(5, 0, 5, State::finished()));
    QCOMPARE(QSet<QString>(h.delivered.begin(), h.delivered.end()).size(), 5); // nobody twice
    QCOMPARE(h.deliveredAt[2], 10.5); // at once: 0.5 s, then 10 s paused
    QCOMPARE(h.sleeps.size(), 2);

    QList<Kind> kinds;
    for (const SendProgress& p : std::as_const(h.reports)) {
        kinds.append(p.state.kind);
    }
    QCOMPARE(kinds,
             (QList<Kind>{Kind::running, Kind::running, Kind::running, Kind::paused, Kind::running,
                          Kind::running, Kind::running, Kind::running, Kind::finished}));
    QVERIFY(!sender.isPaused());
}

void TestBulkSender::cancelOrDestroyWhileParked() {
    Harness h;
    auto sender = std::make_unique<BulkSender>(2.0, BounceGuard{}, h.sleep(), h.clock());
    BulkSender* raw = sender.get();
    h.onDeliver = [raw](const Subscriber&) { raw->pause(); };
    QCoro::Task<SendProgress> cancelled = h.run(*sender, readers(4));
    QVERIFY(!cancelled.isReady());
    sender->cancel();
    QVERIFY(cancelled.isReady());
    QCOMPARE(test::runTask(std::move(cancelled)), progress(1, 0, 4, State::cancelled()));
    QCOMPARE(h.reports[h.reports.size() - 2].state.kind, Kind::paused);
    QVERIFY(!sender->isCancelled() && !sender->isPaused());

    // A sender destroyed with a run parked ends that run instead of leaving it suspended.
    QCoro::Task<SendProgress> orphaned = h.run(*sender, readers(3));
    QVERIFY(!orphaned.isReady());
    sender.reset();
    QVERIFY(orphaned.isReady());
    QCOMPARE(test::runTask(std::move(orphaned)), progress(1, 0, 3, State::cancelled()));
}

void TestBulkSender::bounceGuardHalts() {
    // Three bounces arrive during the send; the guard judges from the 50th message on.
    Harness h;
    h.onDeliver = [&h](const Subscriber&) {
        h.stats.sent = h.delivered.size();
        h.stats.bounced = h.delivered.size() >= 30 ? 3 : 0;
    };
    BulkSender sender(1000.0, BounceGuard{0.05, 0.001, 50}, h.sleep(), h.clock());
    const SendProgress result = test::runTask(h.run(sender, readers(100)));
    const QString reason =
        u"Bounce rate 6.00% is above the 5.00% limit (3 of 50 sent). Sending paused to protect "
        "your SES reputation."_s;
    QCOMPARE(result, progress(50, 0, 100, State::halted(reason)));
    QCOMPARE(h.reports.last(), result);
    QCOMPARE(h.statsCalls, 51);
}

void TestBulkSender::failedDeliveriesAreCounted() {
    Harness h;
    BulkSender sender(5.0, BounceGuard{}, h.sleep(), h.clock());
    int call = 0;
    BulkSender::Deliver deliver = [&](const Subscriber&) -> QCoro::Task<void> {
        ++call;
        if (call == 2) {
            throw SESError::http(400, u"MessageRejected"_s, u"no"_s);
        }
        if (call == 5) {
            throw std::runtime_error("network");
        }
        if (call == 9) {
            throw 42; // not even an exception type
        }
        co_return;
    };
    const SendProgress result =
        test::runTask(sender.run(readers(10), deliver, h.currentStats(), h.onProgress()));
    QCOMPARE(result, progress(7, 3, 10, State::finished()));
    QCOMPARE(call, 10);
    QCOMPARE(h.reports[2], progress(1, 1, 10, State::running()));
    QCOMPARE(h.reports[5], progress(3, 2, 10, State::running()));
}

void TestBulkSender::failingStepsEndTheRunCancelled() {
    // A failing sleep ends the run as cancelled with the counts so far.
    Harness h;
    BulkSender::Sleep failingSleep = [](std::chrono::nanoseconds) -> QCoro::Task<void> {
        throw std::runtime_error("task cancelled");
        co_return;
    };
    BulkSender sender(2.0, BounceGuard{}, failingSleep, h.clock());
    QCOMPARE(test::runTask(h.run(sender, readers(3))), progress(1, 0, 3, State::cancelled()));

    // Without statistics the guard cannot judge: stop rather than send blind.
    Harness blind;
    BulkSender second(2.0, BounceGuard{}, blind.sleep(), blind.clock());
    BulkSender::CurrentStats failingStats = []() -> QCoro::Task<CampaignStats> {
        throw std::runtime_error("library gone");
        co_return CampaignStats{};
    };
    QCOMPARE(
        test::runTask(second.run(readers(3), blind.deliver(), failingStats, blind.onProgress())),
        progress(0, 0, 3, State::cancelled()));
    QVERIFY(blind.delivered.isEmpty());

    // A failing progress report is the caller's problem and does not stop the send.
    Harness noisy;
    BulkSender third(2.0, BounceGuard{}, noisy.sleep(), noisy.clock());
    BulkSender::OnProgress failingProgress = [](const SendProgress&) -> QCoro::Task<void> {
        throw std::runtime_error("screen gone");
        co_return;
    };
    QCOMPARE(test::runTask(
                 third.run(readers(3), noisy.deliver(), noisy.currentStats(), failingProgress)),
             progress(3, 0, 3, State::finished()));
}

void TestBulkSender::runsAgainAfterCancel() {
    Harness h;
    BulkSender sender(2.0, BounceGuard{}, h.sleep(), h.clock());
    h.onDeliver = [&](const Subscriber&) {
        if (h.delivered.size() == 2) {
            sender.cancel();
        }
    };
    QCOMPARE(test::runTask(h.run(sender, readers(5))), progress(2, 0, 5, State::cancelled()));
    QVERIFY(!sender.isCancelled() && !sender.isRunning());

    // A second run starts unpaused and uncancelled, and its first reader goes at once.
    h.onDeliver = nullptr;
    h.deliveredAt.clear();
    const double start = std::chrono::duration<double>(h.now.time_since_epoch()).count();
    QCOMPARE(test::runTask(h.run(sender, readers(3))), progress(3, 0, 3, State::finished()));
    QCOMPARE(h.deliveredAt, (QList<double>{start, start + 0.5, start + 1.0}));

    // One run at a time: a second call during a run returns at once, the first carries on.
    h.onDeliver = [&](const Subscriber&) { sender.pause(); };
    QCoro::Task<SendProgress> first = h.run(sender, readers(2));
    QVERIFY(!first.isReady());
    QCOMPARE(test::runTask(h.run(sender, readers(7))), progress(0, 0, 7, State::cancelled()));
    h.onDeliver = nullptr;
    sender.resume();
    QCOMPARE(test::runTask(std::move(first)), progress(2, 0, 2, State::finished()));
}

void TestBulkSender::cancelCutsARealSleepShort() {
    // The default sleep (a precise QTimer) and clock: 0.01 per second means a 100 s wait after
    // the first reader, which cancel() ends at once.
    Harness h;
    BulkSender sender(0.01, BounceGuard{});
    QTimer::singleShot(50ms, &sender, [&sender] { sender.cancel(); });
    QElapsedTimer elapsed;
    elapsed.start();
    QCOMPARE(test::runTask(h.run(sender, readers(3))), progress(1, 0, 3, State::cancelled()));
    QVERIFY2(elapsed.elapsed() < 20000, "cancel() must not wait for the sleep to run out");

    // And it really paces: two readers at 20 per second are 50 ms apart (a sleep may be cut by
    // a tenth to make up for earlier late wake-ups; the first one has none to make up).
    BulkSender quick(20.0, BounceGuard{});
    QElapsedTimer paced;
    paced.start();
    QCOMPARE(test::runTask(h.run(quick, readers(2))).sent, 2);
    QVERIFY(paced.elapsed() >= 50);
}

QTEST_GUILESS_MAIN(TestBulkSender)
#include "tst_bulk_sender.moc"
