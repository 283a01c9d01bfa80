#include "app/app_model.h"
#include "app/shutdown.h"
#include "ui/main_window.h"
#include "ui/setup/update_settings.h"
#include "ui/translations.h"
#include "ui/widgets/color_scheme.h"
#include "ui/widgets/icons.h"

#include <QApplication>
#include <QSettings>

using namespace quillmere;

int main(int argc, char** argv) {
    // The email preview's browser shares its graphics context with the window.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setOrganizationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quillmere"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quillmere"));
    QApplication::setWindowIcon(Icons::application());
    installTranslations();
    // Before any window, so every screen is built in the desktop's light or dark palette.
    ColorScheme scheme;

    AppModel model;
    flushOnShutdown(application, model);

    QSettings settings(QStringLiteral("Quillmere"), QStringLiteral("Quillmere"));
    MainWindow::Options options;
    options.updates = UpdateSettings::read(settings);
    MainWindow window(model, std::move(options));
    window.show();
    return application.exec();
}
