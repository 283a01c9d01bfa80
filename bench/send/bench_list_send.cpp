// A list send to 100,000 readers through the whole pipeline (render, MIME, SigV4, the SES
// request) against a transport that answers at once, with the pacing switched off: how many
// messages per second the model sends, and whether its memory stays flat with the list size.
#include "app/app_model.h"
#include "bench/support/bench_util.h"
#include "core/library_file.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <qcoro/qcorotimer.h>

#include <cstdio>

using namespace quillmere;

namespace {

// Answers every request at once, but after a turn of the event loop, as a network would.
class InstantSES : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        bytes += request.body.size();
        ++requests;
        QTimer turn;
        turn.setSingleShot(true);
        turn.start(0);
        co_await turn;
        co_return HTTPResponse{200, {}, QByteArrayLiteral("{\"MessageId\":\"0100018c1234abcd\"}")};
    }
    qint64 requests = 0;
    qint64 bytes = 0;
};

QCoro::Task<void> noPause(std::chrono::nanoseconds) {
    co_return;
}

QCoro::Task<void> run(int readers) {
    QTemporaryDir dir;
    auto credentials = std::make_shared<MemoryCredentialStore>();
    credentials->set(QStringLiteral("AKIDBENCH"), CredentialStore::Key::awsAccessKeyID);
    credentials->set(QStringLiteral("bench-secret"), CredentialStore::Key::awsSecretAccessKey);
    credentials->set(QString(64, u'a'), CredentialStore::Key::workerSigningSecret);
    auto ses = std::make_shared<InstantSES>();
    AppModel::Dependencies d;
    d.store = std::make_shared<LibraryStore>(dir.filePath(QStringLiteral("library.json")));
    d.credentials = credentials;
    d.settings =
        std::make_shared<QSettings>(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    d.arguments = QStringList{QStringLiteral("bench")};
    d.transport = ses;
    d.sleep = noPause;
    AppModel model(std::move(d));

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
    LibraryFile::write(dir.filePath(QStringLiteral("library.json")), library);
    co_await model.start();
    const Newsletter issue = model.library().newsletters[2]; // the longest sample issue

    const double idle = bench::residentMemoryMiB();
    double peak = idle;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { peak = std::max(peak, bench::residentMemoryMiB()); });
    sampler.start(50);

    QElapsedTimer clock;
    clock.start();
    model.sendToList(issue);
    if (!model.sendSession()) {
        std::printf("the send did not start: %s\n",
                    qPrintable(model.statusMessage().value_or(QString())));
        QCoreApplication::exit(1);
        co_return;
    }
    while (!(model.sendSession() && model.sendSession()->isFinished)) {
        QTimer tick;
        tick.setSingleShot(true);
        tick.start(20);
        co_await tick;
    }
    const double seconds = double(clock.elapsed()) / 1000.0;
    sampler.stop();
    model.flushPendingSave();

    std::printf("readers:            %d\n", readers);
    std::printf("sent:               %lld (%s)\n", model.sendSession()->sent,
                qPrintable(model.sendSession()->state));
    std::printf("time:               %.1f s\n", seconds);
    std::printf("messages per second: %.0f\n", double(model.sendSession()->sent) / seconds);
    std::printf("request bytes:      %.0f MiB in all, %.1f KiB each\n",
                double(ses->bytes) / 1048576.0,
                double(ses->bytes) / double(std::max<qint64>(1, ses->requests)) / 1024.0);
    std::printf("memory:             idle %.0f MiB, peak during the send %.0f MiB (+%.0f MiB)\n",
                idle, peak, peak - idle);
    QCoreApplication::exit(model.sendSession()->sent == readers ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int readers = argc > 1 ? std::atoi(argv[1]) : 100000;
    auto task = run(readers);
    return app.exec();
}
