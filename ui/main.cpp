#include "app/app_model.h"

#include <QCoreApplication>
#include <QTextStream>
#include <qcoro/qcorotask.h>

using namespace quillmere;

namespace {

QCoro::Task<void> run(AppModel& model) {
    co_await model.start();
    QTextStream out(stdout);
    const Library& library = model.library();
    out << "Quillmere" << (model.isDemo() ? " (sample data)" : "") << "\n";
    out << "Library: " << model.store().path() << "\n";
    out << "Publication: "
        << (library.profile.publicationName.isEmpty() ? QStringLiteral("(not named yet)")
                                                      : library.profile.publicationName)
        << "\n";
    out << "Subscribers: " << library.subscribers.size() << " ("
        << model.count(SubscriberStatus::active) << " active, "
        << model.count(SubscriberStatus::pending) << " pending)\n";
    out << "Issues: " << library.newsletters.size() << "\n";
    for (const Newsletter& issue : library.newsletters) {
        out << "  [" << rawValue(issue.status) << "] " << issue.subject << "\n";
    }
    out << "Setup: " << model.completedSteps().size() << " of 5 steps done\n";
    if (model.statusMessage()) {
        out << *model.statusMessage() << "\n";
    }
    out.flush();
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
    AppModel model;
    auto task = run(model);
    return app.exec();
}
