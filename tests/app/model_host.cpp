// A real application process for the shutdown tests: opens the library given on the command
// line, makes one edit, prints "edited", and then either waits to be stopped by a signal or
// quits by itself after the given number of milliseconds.
#include "app/app_model.h"
#include "app/shutdown.h"
#include "core/memory_credential_store.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

using namespace quillmere;

namespace {

QCoro::Task<void> run(AppModel& model, int quitAfterMs) {
    co_await model.start();
    model.addSubscriber(QStringLiteral("edited@example.com"), QStringLiteral("Last Edit"));
    std::printf("edited\n");
    std::fflush(stdout);
    if (quitAfterMs >= 0) {
        QTimer::singleShot(quitAfterMs, qApp, &QCoreApplication::quit);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    AppModel::Dependencies d;
    d.store = std::make_shared<LibraryStore>(args.value(1));
    d.credentials = std::make_shared<MemoryCredentialStore>();
    d.settings =
        std::make_shared<QSettings>(args.value(1) + QStringLiteral(".ini"), QSettings::IniFormat);
    d.arguments = QStringList{QStringLiteral("model_host")};
    AppModel model(std::move(d));
    flushOnShutdown(app, model);
    auto task = run(model, args.value(2, QStringLiteral("-1")).toInt());
    return app.exec();
}
