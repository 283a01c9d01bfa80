// Sync of a large list through the real worker: resources/worker.js in Miniflare with D1 on
// loopback. For each size: a first push of every reader (in the client's batches), a first
// pull of every page merged into an empty list as the application merges it, then a pull of
// the hundred readers changed since. Reports times, requests, the slowest request, the pages,
// and the client's peak memory.
//
//   build/bench/worker_sync/bench_worker_sync [readers ...]   (default 100000 1000000; needs node)

#include "app/worker_sync.h"
#include "bench/support/bench_util.h"
#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "worker/worker_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace quillmere;

namespace {

// Counts requests and keeps the slowest one's time.
class TimedTransport : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        QElapsedTimer timer;
        timer.start();
        HTTPResponse response = co_await m_inner.send(std::move(request));
        worstMs = std::max(worstMs, timer.elapsed());
        ++requests;
        co_return response;
    }

    void reset() {
        worstMs = 0;
        requests = 0;
    }

    qint64 worstMs = 0;
    qint64 requests = 0;

private:
    NetworkTransport m_inner;
};

QCoro::Task<qsizetype> pullAll(const WorkerClient& client, std::optional<QDateTime> since,
                               QList<Subscriber>& into, qint64& mergeMs, int& pages) {
    SubscriberMerge merge(into);
    std::optional<QString> next;
    do {
        WorkerPage page = co_await client.fetchPage(since, next);
        QElapsedTimer timer;
        timer.start();
        merge.apply(page.subscribers);
        mergeMs += timer.elapsed();
        ++pages;
        next = page.next;
    } while (next);
    co_return into.size();
}

bool run(int count) {
    const QString token = ReaderLinks::randomSecret();
    const QJsonObject bindings{{QStringLiteral("API_TOKEN"), token},
                               {QStringLiteral("SIGNING_SECRET"), ReaderLinks::randomSecret()},
                               {QStringLiteral("DOUBLE_OPT_IN"), QStringLiteral("false")}};
    test::NodePeer worker(
        QStringLiteral("worker_server.mjs"),
        {QString::fromUtf8(QJsonDocument(bindings).toJson(QJsonDocument::Compact))});
    auto transport = std::make_shared<TimedTransport>();
    const WorkerClient client(QUrl(worker.value(QStringLiteral("url"))), token, transport);

    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    QList<Subscriber> list;
    list.reserve(count);
    for (int i = 0; i < count; ++i) {
        list.append(Subscriber{
            QUuid::createUuid(), QStringLiteral("reader%1@mail%2.example").arg(i).arg(i % 97),
            QStringLiteral("Reader Number %1").arg(i), SubscriberStatus::active,
            QStringLiteral("import:substack"), start.addSecs(i), start.addSecs(i + 60)});
    }

    QElapsedTimer timer;
    timer.start();
    const qint64 upserted = test::runTask(client.upsertSubscribers(list), 7200000);
    const qint64 pushMs = timer.restart();
    std::printf("%d readers\n", count);
    std::printf("  push                  %7.1f s, %lld requests of %lld, slowest %lld ms, %.0f "
                "readers/s\n",
                pushMs / 1000.0, static_cast<long long>(transport->requests),
                static_cast<long long>(WorkerClient::pushBatchSize),
                static_cast<long long>(transport->worstMs),
                count * 1000.0 / std::max<qint64>(pushMs, 1));

    transport->reset();
    QList<Subscriber> pulled;
    qint64 mergeMs = 0;
    int pages = 0;
    timer.restart();
    test::runTask(pullAll(client, std::nullopt, pulled, mergeMs, pages), 7200000);
    const qint64 pullMs = timer.restart();
    std::printf("  first pull            %7.1f s, %d pages, slowest page %lld ms, merging %lld ms "
                "in all, %lld readers\n",
                pullMs / 1000.0, pages, static_cast<long long>(transport->worstMs),
                static_cast<long long>(mergeMs), static_cast<long long>(pulled.size()));

    QList<Subscriber> changed;
    for (int i = 0; i < 100; ++i) {
        Subscriber s = list[i * (count / 100)];
        s.status = SubscriberStatus::unsubscribed;
        s.updatedAt = QDateTime::currentDateTimeUtc();
        changed.append(s);
    }
    const WorkerPage first = test::runTask(client.fetchPage(std::nullopt));
    test::runTask(client.upsertSubscribers(changed));
    transport->reset();
    pages = 0;
    QList<Subscriber> since;
    timer.restart();
    test::runTask(pullAll(client, first.syncedAt, since, mergeMs, pages));
    std::printf("  pull since (100 new)  %7.0f ms, %d page, %lld readers\n",
                double(timer.elapsed()), pages, static_cast<long long>(since.size()));
    std::printf("  client peak memory    %7.0f MiB\n", bench::peakMemoryMiB());
    return upserted == count && pulled.size() == count && since.size() == 100;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.append(QString::fromLatin1(argv[i]).toInt());
    }
    if (sizes.isEmpty()) {
        sizes = {100000, 1000000};
    }
    bool ok = true;
    for (int size : sizes) {
        ok = run(size) && ok;
    }
    return ok ? 0 : 1;
}
