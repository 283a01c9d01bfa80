// A writer two years into a large list: 100,000 subscribers, 50 issues, 20 of them delivered
// to every reader (2,000,000 delivered ids). Saves and loads it through the store while the
// interface thread keeps a 5 ms timer running, and reports how long the timer was ever kept
// waiting; then times the file's writer and reader against QJsonDocument (best of three).
#include "bench/support/bench_util.h"
#include "bench/support/large_library.h"
#include "core/library_json_reader.h"
#include "core/library_json_writer.h"
#include "core/library_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <cstdio>
#include <limits>

using namespace quillmere;

namespace {

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
    const Library library = bench::largeLibrary(100000, 50, 20);
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

    const auto best = [](auto work) {
        qint64 fastest = std::numeric_limits<qint64>::max();
        for (int i = 0; i < 3; ++i) {
            QElapsedTimer timer;
            timer.start();
            work();
            fastest = std::min(fastest, timer.elapsed());
        }
        return fastest;
    };
    QByteArray bytes;
    const qint64 write = best([&] { bytes = LibraryJSONWriter::write(library); });
    const qint64 qtWrite =
        best([&] { QJsonDocument(library.toJson()).toJson(QJsonDocument::Indented); });
    const qint64 read = best([&] { LibraryJSONReader::read(bytes); });
    const qint64 qtRead = best([&] { QJsonDocument::fromJson(bytes); });
    std::printf("write:            %lld ms (QJsonDocument from toJson(): %lld ms)\n", write,
                qtWrite);
    std::printf("read:             %lld ms (QJsonDocument::fromJson alone: %lld ms)\n", read,
                qtRead);
    QCoreApplication::exit(equal ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    auto task = run();
    return app.exec();
}
