#include "ui/main_window.h"

#include "app/app_model.h"
#include "ui/issues/newsletters_view.h"
#include "ui/onboarding/onboarding_view.h"
#include "ui/setup/production_access_view.h"
#include "ui/setup/ses_setup_view.h"
#include "ui/setup/settings_window.h"
#include "ui/setup/worker_setup_view.h"
#include "ui/sidebar.h"
#include "ui/stats/stats_view.h"
#include "ui/subscribers/subscriber_export.h"
#include "ui/subscribers/subscribers_view.h"
#include "ui/widgets/app_links.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/toast.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QSplitter>
#include <QStackedWidget>
#include <qcoro/qcorotask.h>

namespace quillmere {

namespace {

constexpr QSize defaultSize{1360, 840};

QCoro::Task<void> startModel(AppModel& model, QPointer<MainWindow> window,
                             std::function<void()> done) {
    try {
        co_await model.start();
    } catch (const std::exception& error) {
        if (window) {
            model.showStatus(AppModel::errorText(error));
        }
    }
    if (window) {
        done();
    }
}

// The one local file a drag carries, when it is a list of readers we can import.
std::optional<QString> droppedListFile(const QMimeData* data) {
    if (!data || !data->hasUrls() || data->urls().size() != 1) {
        return std::nullopt;
    }
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile()) {
        return std::nullopt;
    }
    const QString suffix = QFileInfo(url.toLocalFile()).suffix().toLower();
    if (suffix != QStringLiteral("csv") && suffix != QStringLiteral("txt")) {
        return std::nullopt;
    }
    return url.toLocalFile();
}

} // namespace

MainWindow::MainWindow(AppModel& model, Options options, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_options(std::move(options))
    , m_content(new QStackedWidget(this))
    , m_workspace(new QSplitter(Qt::Horizontal, this))
    , m_sidebar(new Sidebar(model, this))
    , m_detail(new QStackedWidget(this))
    , m_noSection(new QWidget(this)) {
    if (!m_options.openURL) {
        m_options.openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    }
    setWindowTitle(QStringLiteral("Quillmere"));
    setWindowIcon(Icons::application());
    resize(defaultSize);
    setAcceptDrops(true);

    m_detail->addWidget(m_noSection);
    m_workspace->setObjectName(QStringLiteral("workspace"));
    m_workspace->setChildrenCollapsible(false);
    m_workspace->addWidget(m_sidebar);
    m_workspace->addWidget(m_detail);
    m_workspace->setStretchFactor(0, 0);
    m_workspace->setStretchFactor(1, 1);
    m_workspace->setSizes({220, defaultSize.width() - 220});
    m_content->addWidget(m_workspace);
    setCentralWidget(m_content);

    m_toast = new Toast(m_content, m_options.toastInterval);
    connect(m_toast, &Toast::dismissRequested, this,
            [this] { m_model.setStatusMessage(std::nullopt); });
    connect(&m_model, &AppModel::statusMessageChanged, this,
            [this] { m_toast->setMessage(m_model.statusMessage()); });
    m_toast->setMessage(m_model.statusMessage());

    buildMenus();
    connect(&m_model, &AppModel::onboardingDoneChanged, this, &MainWindow::showContent);
    connect(&m_model, &AppModel::selectionChanged, this, &MainWindow::showSection);
    showContent();
    showSection();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildMenus() {
    auto add = [this](QMenu* menu, const QString& text, auto slot) {
        QAction* action = menu->addAction(text);
        action->setObjectName(text);
        connect(action, &QAction::triggered, this, slot);
        m_commands.append(action);
        return action;
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    QAction* newIssue = add(file, QStringLiteral("New Newsletter"), [this] { m_model.newIssue(); });
    newIssue->setShortcut(QKeySequence::New);
    newIssue->setIcon(Icons::symbol(QStringLiteral("square.and.pencil")));
    add(file, QStringLiteral("Export Subscribers…"), &MainWindow::exportSubscribers);
    file->addSeparator();
    QAction* settings = add(file, QStringLiteral("Settings…"), &MainWindow::showSettings);
    settings->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    settings->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    QAction* quit = add(file, QStringLiteral("Quit"), &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    add(help, QStringLiteral("Guided Setup"), &MainWindow::reopenGuide);
    add(help, QStringLiteral("Quillmere Help"), [this] { m_options.openURL(AppLinks::help()); });
    add(help, QStringLiteral("Contact Support"),
        [this] { m_options.openURL(AppLinks::support()); });
    help->addSeparator();
    // No update framework runs on this platform: a configured feed opens in the browser, an
    // unconfigured build shows the command disabled.
    QAction* updates = add(help, QStringLiteral("Check for Updates…"), [this] {
        if (m_options.updates.canCheck()) {
            m_options.openURL(m_options.updates.feedURL());
        }
    });
    updates->setEnabled(m_options.updates.canCheck());
}

void MainWindow::exportSubscribers() {
    const auto* view = qobject_cast<SubscribersView*>(screen(AppSection::subscribers));
    const QList<Subscriber> chosen = SubscriberExport::chosen(m_model, view);
    const QString title =
        SubscriberExport::title(chosen.size(), m_model.library().subscribers.size());
    const QString suggested = QDir::home().filePath(QStringLiteral("subscribers.csv"));
    const QString path = m_options.chooseSaveFile
                             ? m_options.chooseSaveFile(title, suggested)
                             : QFileDialog::getSaveFileName(this, title, suggested,
                                                            QStringLiteral("CSV files (*.csv)"));
    SubscriberExport::write(m_model, chosen, path);
}

QAction* MainWindow::command(const QString& text) const {
    for (QAction* action : m_commands) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_startRequested) {
        m_startRequested = true;
        runStart();
    }
}

void MainWindow::runStart() {
    QPointer<MainWindow> self(this);
    auto done = [self] {
        self->m_started = true;
        Q_EMIT self->started();
    };
    startModel(m_model, self, std::move(done));
}

void MainWindow::showContent() {
    if (m_model.onboardingDone()) {
        if (m_onboarding) {
            m_content->removeWidget(m_onboarding);
            m_onboarding->deleteLater();
        }
        m_content->setCurrentWidget(m_workspace);
        return;
    }
    // The guide opens afresh each time, at the step the model names.
    if (m_onboarding) {
        m_content->removeWidget(m_onboarding);
        m_onboarding->deleteLater();
    }
    m_onboarding = new OnboardingView(m_model, m_content);
    m_onboarding->setObjectName(QStringLiteral("onboarding"));
    m_content->addWidget(m_onboarding);
    m_content->setCurrentWidget(m_onboarding);
    m_toast->raise();
}

void MainWindow::reopenGuide() {
    m_model.setOnboardingStartStep(m_model.firstIncompleteStep());
    m_model.setOnboardingDone(false);
}

QWidget* MainWindow::screen(AppSection section) const {
    const auto found = m_screens.find(section);
    return found == m_screens.end() ? nullptr : found->second;
}

QWidget* MainWindow::makeScreen(AppSection section) {
    switch (section) {
    case AppSection::newsletters:
        return new NewslettersView(m_model, m_detail);
    case AppSection::subscribers:
        return new SubscribersView(m_model, m_detail);
    case AppSection::stats:
        return new StatsView(m_model, m_detail);
    case AppSection::setup:
        return new SESSetupView(m_model, m_detail);
    case AppSection::worker:
        return new WorkerSetupView(m_model, m_detail);
    case AppSection::production:
        return new ProductionAccessView(m_model, m_detail);
    }
    return nullptr;
}

void MainWindow::showSection() {
    const auto section = m_model.selection();
    if (!section) {
        m_detail->setCurrentWidget(m_noSection);
        return;
    }
    // Screens are built when first shown, so start-up pays only for the first one.
    QWidget*& screen = m_screens[*section];
    if (!screen) {
        screen = makeScreen(*section);
        m_detail->addWidget(screen);
    }
    m_detail->setCurrentWidget(screen);
}

void MainWindow::showSettings() {
    if (!m_settings) {
        m_settings = new SettingsWindow(m_model, this);
        m_settings->setObjectName(QStringLiteral("settings"));
        m_settings->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
}

void MainWindow::importFile(const QString& path) {
    m_model.importCSV(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (m_content->currentWidget() == m_workspace && droppedListFile(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const auto path = droppedListFile(event->mimeData());
    if (!path || m_content->currentWidget() != m_workspace) {
        return;
    }
    event->acceptProposedAction();
    m_model.setSelection(AppSection::subscribers);
    importFile(*path);
}

} // namespace quillmere
