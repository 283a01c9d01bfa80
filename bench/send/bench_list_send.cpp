// The whole list send of the app (render, MIME, SigV4, libcurl, journal, pacing), the longest
// sample issue (~20 KB a request):
//   1. against the SES emulator behind the fault proxy, at 80 per second with 0, 50 and 150 ms
//      added to every answer, and at 14 per second: the achieved rate against the configured
//      one, and how many messages were in flight (K) at the end;
//   2. 10,000 readers against a transport that answers at once (paced at 1,000 per second): the
//      bytes written to disk during the send besides its final save, and the peak memory.
//   build-release/bench/send/bench_list_send [--quick]
#include "app/app_model.h"
#include "bench/support/bench_util.h"
#include "core/library_file.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"
#include "ses/curl_transport.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotimer.h>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace quillmere;

namespace {

// Answers every request at once, but after a turn of the event loop, as a network would.
class InstantSES : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest) override {
        QTimer turn;
        turn.setSingleShot(true);
        turn.start(0);
        co_await turn;
        co_return HTTPResponse{200, {}, QByteArrayLiteral("{\"MessageId\":\"0100018c1234abcd\"}")};
    }
};

// Bytes this process has handed to write() so far (all threads).
qint64 bytesWritten() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : io.readAll().split('\n')) {
        if (line.startsWith("wchar:")) {
            return line.mid(6).trimmed().toLongLong();
        }
    }
    return -1;
}

// CPU seconds a process has used so far (user and system), from /proc.
double cpuSecondsOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

double loadAverage() {
    QFile load(QStringLiteral("/proc/loadavg"));
    return load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').first().toDouble() : -1;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Outcome {
    double cpuPerMessage = 0; // this process's CPU time per message, in ms
    qint64 sent = 0;
    double achieved = 0; // messages per second between the first and the last delivery
    int concurrency = 0;
    qint64 written = 0;
    qint64 librarySize = 0;
};

Outcome send(int readers, double rate, std::shared_ptr<HTTPTransport> transport) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("library.json"));
    auto credentials = std::make_shared<MemoryCredentialStore>();
    credentials->set(QStringLiteral("AKIDBENCH"), CredentialStore::Key::awsAccessKeyID);
    credentials->set(QStringLiteral("bench-secret"), CredentialStore::Key::awsSecretAccessKey);
    credentials->set(QString(64, u'a'), CredentialStore::Key::workerSigningSecret);
    Library library = SampleData::library();
    library.subscribers.clear();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < readers; ++i) {
        Subscriber s;
        s.id = QUuid::createUuid();
        s.email = QStringLiteral("reader%1@mail%2.example").arg(i).arg(i % 97);
        s.name = QStringLiteral("Reader %1").arg(i);
        s.status = SubscriberStatus::active;
        s.source = QStringLiteral("signup-form");
        s.createdAt = s.updatedAt = now;
        library.subscribers.append(s);
    }
    // The worker URL stays (unsubscribe links need it); without its API token in the
    // credential store nothing is published or pulled.
    LibraryFile::write(path, library);
    AppModel::Dependencies d;
    d.store = std::make_shared<LibraryStore>(path);
    d.credentials = credentials;
    d.settings =
        std::make_shared<QSettings>(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    d.arguments = QStringList{QStringLiteral("bench")};
    d.sendTransport = std::move(transport);
    AppModel model(std::move(d));
    test::runTask(model.start());
    const Newsletter issue = model.library().newsletters[2]; // the longest sample issue

    std::optional<QElapsedTimer> first;
    double last = 0;
    QObject::connect(&model, &AppModel::sendSessionChanged, [&] {
        const auto& session = model.sendSession();
        if (session && session->sent == 1 && !first) {
            first.emplace();
            first->start();
        }
        if (first && session && !session->isFinished) {
            last = double(first->nsecsElapsed()) / 1e9;
        }
    });
    const qint64 before = bytesWritten();
    const double cpuBefore = cpuSeconds();
    model.sendToList(issue, false, rate);
    if (!QTest::qWaitFor([&] { return model.sendSession() && model.sendSession()->isFinished; },
                         3600000)) {
        std::printf("the send did not finish\n");
    }
    test::runTask(qCoro(&model, &AppModel::sendEnded), 600000);
    model.store().waitForIdle();
    Outcome outcome;
    outcome.sent = model.sendSession()->sent;
    outcome.cpuPerMessage =
        (cpuSeconds() - cpuBefore) * 1000.0 / double(std::max<qint64>(1, outcome.sent));
    outcome.achieved = last > 0 ? double(outcome.sent - 1) / last : 0;
    outcome.concurrency = model.listSend()->concurrency();
    outcome.written = bytesWritten() - before;
    outcome.librarySize = QFileInfo(path).size();
    return outcome;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const bool quick = app.arguments().contains(QStringLiteral("--quick"));

    test::SESEmulator ses(test::sesAccountJSON(true, 100, 10000000, 0));
    if (!ses.isRunning()) {
        std::printf("%s\n", qPrintable(ses.error()));
        return 1;
    }
    test::NodePeer proxy(QStringLiteral("fault_proxy.mjs"), {ses.url().toString()});
    const QString proxyURL = proxy.value(QStringLiteral("url"));
    qputenv("AWS_ENDPOINT_URL_SESV2", proxyURL.toUtf8());
    NetworkTransport control;
    const struct {
        double rate;
        int latency;
    } cases[] = {{80, 0}, {80, 50}, {80, 150}, {14, 0}};
    for (const auto& c : cases) {
        const HTTPRequest plan{QStringLiteral("PUT"),
                               QUrl(proxyURL + QStringLiteral("/__faults")),
                               {},
                               QStringLiteral("{\"latencyMs\":%1}").arg(c.latency).toUtf8()};
        test::runTask(control.send(plan));
        const int readers = int(c.rate * (quick ? 5 : 15));
        const double emulatorBefore = cpuSecondsOf(ses.processId());
        const Outcome o = send(readers, c.rate, std::make_shared<CurlTransport>());
        const double emulator = (cpuSecondsOf(ses.processId()) - emulatorBefore) * 1000.0 /
                                double(std::max<qint64>(1, o.sent));
        std::printf("rate %2.0f/s, +%3d ms: %lld sent, %.2f/s achieved = %.3f of the rate, K %d; "
                    "CPU per message: %.1f ms here, %.1f ms in the emulator; load %.1f\n",
                    c.rate, c.latency, o.sent, o.achieved, o.achieved / c.rate, o.concurrency,
                    o.cpuPerMessage, emulator, loadAverage());
    }

    const int readers = quick ? 2000 : 10000;
    const double idle = bench::residentMemoryMiB();
    const Outcome o = send(readers, 1000, std::make_shared<InstantSES>());
    std::printf("%d readers: %.2f MB written in all, of which the final library %.2f MB: %.2f MB "
                "besides the final save; peak memory %.0f MiB (%.0f MiB before)\n",
                readers, double(o.written) / 1e6, double(o.librarySize) / 1e6,
                double(o.written - o.librarySize) / 1e6, bench::peakMemoryMiB(), idle);
    return o.sent == readers ? 0 : 1;
}
