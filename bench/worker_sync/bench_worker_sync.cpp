// A first sync of a large list through the real worker: resources/worker.js in Miniflare with
// D1 on loopback. Pushes every subscriber (in the client's batches), pulls them all back, then
// pulls the few changed since. Reports times and the client's peak memory.
//
//   build/bench/worker_sync/bench_worker_sync [subscribers]   (default 100000; needs node)

#include "bench/support/bench_util.h"
#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/run_task.h"
#include "support/node_peer.h"
#include "worker/worker_client.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace quillmere;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 100000;
    const QString token = ReaderLinks::randomSecret();
    const QJsonObject bindings{{QStringLiteral("API_TOKEN"), token},
                               {QStringLiteral("SIGNING_SECRET"), ReaderLinks::randomSecret()},
                               {QStringLiteral("DOUBLE_OPT_IN"), QStringLiteral("false")}};
    test::NodePeer worker(
        QStringLiteral("worker_server.mjs"),
        {QString::fromUtf8(QJsonDocument(bindings).toJson(QJsonDocument::Compact))});
    const WorkerClient client(QUrl(worker.value(QStringLiteral("url"))), token,
                              std::make_shared<NetworkTransport>());

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
    const qint64 upserted = test::runTask(client.upsertSubscribers(list), 3600000);
    const qint64 pushMs = timer.restart();
    const QList<Subscriber> pulled = test::runTask(client.fetchSubscribers(std::nullopt), 3600000);
    const qint64 pullMs = timer.restart();

    QList<Subscriber> changed;
    for (int i = 0; i < 100; ++i) {
        Subscriber s = list[i * (count / 100)];
        s.status = SubscriberStatus::unsubscribed;
        s.updatedAt = QDateTime::currentDateTimeUtc().addSecs(10);
        changed.append(s);
    }
    const QDateTime lastSync = QDateTime::currentDateTimeUtc();
    test::runTask(client.upsertSubscribers(changed));
    timer.restart();
    const QList<Subscriber> since = test::runTask(client.fetchSubscribers(lastSync));
    const qint64 sinceMs = timer.elapsed();

    std::printf("subscribers            %d\n", count);
    std::printf("push (batches of %lld)  %lld ms, %lld upserted, %.0f per second\n",
                static_cast<long long>(WorkerClient::pushBatchSize), static_cast<long long>(pushMs),
                static_cast<long long>(upserted), count * 1000.0 / std::max<qint64>(pushMs, 1));
    std::printf("pull everything        %lld ms, %lld records\n", static_cast<long long>(pullMs),
                static_cast<long long>(pulled.size()));
    std::printf("pull since (100 new)   %lld ms, %lld records\n", static_cast<long long>(sinceMs),
                static_cast<long long>(since.size()));
    std::printf("client peak memory     %.0f MiB\n", bench::peakMemoryMiB());
    return pulled.size() == count && since.size() == 100 ? 0 : 1;
}
