// A writer two years into a large list: 100,000 subscribers, 50 issues, 20 of them delivered
// to every reader. Saves and loads it through the store while the interface thread keeps a
// 5 ms timer running, and reports how long the timer was ever kept waiting.
#include "bench/support/bench_util.h"
#include "core/library_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <cstdio>

using namespace quillmere;

namespace {

Library largeLibrary(int subscribers, int issues, int deliveredIssues) {
    Library library;
    library.profile.publicationName = QStringLiteral("The Long Letter");
    library.profile.fromName = QStringLiteral("Ann Writer");
    library.profile.fromEmail = QStringLiteral("ann@longletter.example");
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    library.subscribers.reserve(subscribers);
    for (int i = 0; i < subscribers; ++i) {
        Subscriber s;
        s.id = QUuid::createUuid();
        s.email = QStringLiteral("reader%1@mail%2.example").arg(i).arg(i % 97);
        s.name = QStringLiteral("Reader Number %1").arg(i);
        s.status = i % 20 == 0 ? SubscriberStatus::unsubscribed : SubscriberStatus::active;
        s.source = i % 3 == 0 ? QStringLiteral("import:substack") : QStringLiteral("signup-form");
        s.createdAt = start.addSecs(i * 37);
        s.updatedAt = s.createdAt.addSecs(3600);
        library.subscribers.append(s);
    }
    QSet<QUuid> everyone;
    everyone.reserve(subscribers);
    for (const Subscriber& s : std::as_const(library.subscribers)) {
        everyone.insert(s.id);
    }
    for (int i = 0; i < issues; ++i) {
        Newsletter n;
        n.id = QUuid::createUuid();
        n.subject = QStringLiteral("Issue %1: notes from the workshop").arg(issues - i);
        n.previewText = QStringLiteral("What I learned this week, in five short parts.");
        n.markdown = QStringLiteral("# Hello {{name}}\n\n") + QString(3000, u'x');
        n.createdAt = start.addDays(i * 14);
        if (i < deliveredIssues) {
            n.status = CampaignStatus::sent;
            n.sentAt = n.createdAt.addDays(1);
            n.deliveredIDs = everyone; // shared until changed, as in the application
            n.stats.recipients = n.stats.sent = subscribers;
        }
        library.newsletters.append(n);
    }
    return library;
}

struct Stall {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    Stall() {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
    }
    void start() {
        clock.start();
        last = 0;
        worst = 0;
        timer.start();
    }
    qint64 stop() {
        timer.stop();
        return worst;
    }
};

QCoro::Task<void> run() {
    QTemporaryDir dir;
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KEEP"));
    std::printf("%s\n", qPrintable(dir.path()));
    const QString path = dir.filePath(QStringLiteral("Postwick/library.json"));
    LibraryStore store(path);

    QElapsedTimer t;
    t.start();
    const Library library = largeLibrary(100000, 50, 20);
    std::printf("built in memory: %lld ms, resident %.0f MiB\n", t.elapsed(),
                bench::residentMemoryMiB());
    const double baseline = bench::residentMemoryMiB();

    Stall stall;
    stall.start();
    t.start();
    co_await store.save(library);
    const qint64 saveMs = t.elapsed();
    const qint64 saveStall = stall.stop();
    const double sizeMiB = double(QFileInfo(path).size()) / (1024.0 * 1024.0);

    stall.start();
    t.start();
    const Library loaded = co_await store.load();
    const qint64 loadMs = t.elapsed();
    const qint64 loadStall = stall.stop();

    const bool equal = loaded == library;
    const double peak = bench::peakMemoryMiB();
    std::printf("file size:        %.1f MiB\n", sizeMiB);
    std::printf("save:             %lld ms (interface thread longest wait %lld ms)\n", saveMs,
                saveStall);
    std::printf("load:             %lld ms (interface thread longest wait %lld ms)\n", loadMs,
                loadStall);
    std::printf(
        "peak memory:      %.0f MiB (%.0f MiB above the library in memory, %.1fx file size)\n",
        peak, peak - baseline, (peak - baseline) / sizeMiB);
    std::printf("loaded equals saved: %s\n", equal ? "yes" : "NO");
    QCoreApplication::exit(equal ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto task = run();
    return app.exec();
}
