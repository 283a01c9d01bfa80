#include "ui/main_window.h"

#include "app/app_model.h"
#include "ui/edit_history.h"
#include "ui/issues/markdown_editor.h"
#include "ui/issues/newsletter_editor.h"
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
#include "ui/widgets/confirmation.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/keychain_wait_bar.h"
#include "ui/widgets/toast.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextEdit>
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
    setWindowTitle(tr("Quillmere"));
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
    // Nothing can change the library until it is read from disk: an edit made before would be
    // replaced by the library read, and its save would write a near-empty list over the file.
    // A blank page and no menus until then (disabling the screens instead would leave them
    // styled in the disabled palette's colours).
    auto* loading = new QWidget(m_content);
    loading->setObjectName(QStringLiteral("loading"));
    m_content->addWidget(loading);
    m_content->setCurrentWidget(loading);
    menuBar()->setEnabled(false);
    setCentralWidget(m_content);

    m_toast = new Toast(m_content, m_options.toastInterval);
    connect(m_toast, &Toast::dismissRequested, this,
            [this] { m_model.setStatusMessage(std::nullopt); });
    connect(&m_model, &AppModel::statusMessageChanged, this,
            [this] { m_toast->setMessage(m_model.statusMessage()); });
    m_toast->setMessage(m_model.statusMessage());
    new KeychainWaitBar(m_model, m_content);

    buildMenus();
    connect(&m_model, &AppModel::onboardingDoneChanged, this, [this] {
        if (m_started) {
            showContent();
        }
    });
    connect(&m_model, &AppModel::selectionChanged, this, &MainWindow::showSection);
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

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* newIssue = add(file, tr("New Newsletter"), [this] { m_model.newIssue(); });
    newIssue->setShortcut(QKeySequence::New);
    newIssue->setIcon(Icons::symbol(QStringLiteral("square.and.pencil")));
    add(file, tr("Export Subscribers…"), &MainWindow::exportSubscribers);
    file->addSeparator();
    QAction* settings = add(file, tr("Settings…"), &MainWindow::showSettings);
    settings->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    settings->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    QAction* quit = add(file, tr("Quit"), &QWidget::close);
    // Not every desktop's key set names one for Quit.
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);

    buildEditMenu();

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    add(help, tr("Guided Setup"), &MainWindow::reopenGuide);
    add(help, tr("Quillmere Help"), [this] { m_options.openURL(AppLinks::help()); });
    add(help, tr("Contact Support"), [this] { m_options.openURL(AppLinks::support()); });
    help->addSeparator();
    // No update framework runs on this platform: a configured feed opens in the browser, an
    // unconfigured build shows the command disabled.
    QAction* updates = add(help, tr("Check for Updates…"), [this] {
        if (m_options.updates.canCheck()) {
            m_options.openURL(m_options.updates.feedURL());
        }
    });
    updates->setEnabled(m_options.updates.canCheck());
}

void MainWindow::buildEditMenu() {
    QMenu* edit = menuBar()->addMenu(tr("&Edit"));
    auto add = [this, edit](const QString& text, const QList<QKeySequence>& keys, auto perform) {
        QAction* action = edit->addAction(text);
        action->setObjectName(text);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, perform);
        m_commands.append(action);
        return action;
    };
    EditHistory& history = EditHistory::of(m_model);
    add(tr("Undo"), QKeySequence::keyBindings(QKeySequence::Undo), [this, &history] {
        if (!sendToFocus("undo")) {
            history.undo();
        }
    });
    add(tr("Redo"), QKeySequence::keyBindings(QKeySequence::Redo), [this, &history] {
        if (!sendToFocus("redo")) {
            history.redo();
        }
    });
    edit->addSeparator();
    add(tr("Cut"), QKeySequence::keyBindings(QKeySequence::Cut), [this] { sendToFocus("cut"); });
    add(tr("Copy"), QKeySequence::keyBindings(QKeySequence::Copy), [this] { sendToFocus("copy"); });
    add(tr("Paste"), QKeySequence::keyBindings(QKeySequence::Paste),
        [this] { sendToFocus("paste"); });
    add(tr("Select All"), QKeySequence::keyBindings(QKeySequence::SelectAll),
        [this] { sendToFocus("selectAll"); });
    edit->addSeparator();
    // The untranslated label names the editor's tool.
    const struct {
        const char* label;
        QKeySequence key;
    } tools[] = {
        {QT_TR_NOOP("Bold"), QKeySequence::Bold},
        {QT_TR_NOOP("Italic"), QKeySequence::Italic},
        {QT_TR_NOOP("Link"), QKeySequence(Qt::CTRL | Qt::Key_K)},
    };
    QList<QAction*> formatting;
    for (const auto& tool : tools) {
        const QString label = QString::fromLatin1(tool.label);
        formatting.append(add(tr(tool.label), {tool.key}, [this, label] {
            if (QAction* action = markdownTool(label); action && action->isEnabled()) {
                action->trigger();
            }
        }));
    }
    // The menu shows what applies now; shortcuts stay live between openings, and their
    // handlers check again.
    connect(edit, &QMenu::aboutToShow, this, [this, formatting, &history] {
        const bool text = qobject_cast<QLineEdit*>(QApplication::focusWidget()) ||
                          qobject_cast<QPlainTextEdit*>(QApplication::focusWidget()) ||
                          qobject_cast<QTextEdit*>(QApplication::focusWidget());
        command(tr("Undo"))->setEnabled(text || history.canUndo());
        command(tr("Redo"))->setEnabled(text || history.canRedo());
        for (QAction* action : formatting) {
            QAction* tool = markdownTool(action->objectName());
            action->setEnabled(tool && tool->isEnabled());
        }
    });
    connect(edit, &QMenu::aboutToHide, this, [edit] {
        for (QAction* action : edit->actions()) {
            action->setEnabled(true);
        }
    });
}

bool MainWindow::sendToFocus(const char* slot) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) {
        return false;
    }
    const bool text = qobject_cast<QLineEdit*>(focus) || qobject_cast<QPlainTextEdit*>(focus) ||
                      qobject_cast<QTextEdit*>(focus);
    const QByteArray name(slot);
    if (!text && name != "selectAll") {
        return false;
    }
    if (focus->metaObject()->indexOfMethod(name + "()") < 0) {
        return false;
    }
    return QMetaObject::invokeMethod(focus, slot);
}

QAction* MainWindow::markdownTool(const QString& label) const {
    auto* issues = qobject_cast<NewslettersView*>(screen(AppSection::newsletters));
    if (!issues || !m_model.onboardingDone() || m_model.selection() != AppSection::newsletters ||
        !issues->editor()->isEnabled()) {
        return nullptr;
    }
    return issues->editor()->markdownEditor()->action(label);
}

void MainWindow::exportSubscribers() {
    const auto* view = qobject_cast<SubscribersView*>(screen(AppSection::subscribers));
    const QList<Subscriber> chosen = SubscriberExport::chosen(m_model, view);
    const QString title =
        SubscriberExport::title(chosen.size(), m_model.library().subscribers.size());
    const QString suggested = QDir::home().filePath(QStringLiteral("subscribers.csv"));
    const QString path =
        m_options.chooseSaveFile
            ? m_options.chooseSaveFile(title, suggested)
            : QFileDialog::getSaveFileName(this, title, suggested, tr("CSV files (*.csv)"));
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

void MainWindow::closeEvent(QCloseEvent* event) {
    const auto& session = m_model.sendSession();
    if (m_quitConfirmed || !session || session->isFinished || session->isPaused) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    // Asked once the close has run its course: a question opened inside it is closed with it.
    QMetaObject::invokeMethod(this, &MainWindow::askBeforeQuit, Qt::QueuedConnection);
}

void MainWindow::askBeforeQuit() {
    if (m_quitQuestion) {
        m_quitQuestion->raise();
        return;
    }
    m_quitQuestion = Confirmation::ask(
        this, tr("Quit while sending?"),
        tr("The send pauses. Send the issue again later to reach the readers who have not had "
           "it yet."),
        tr("Pause and Quit"), [this] { pauseAndQuit(); });
}

QCoro::Task<void> MainWindow::pauseAndQuit() {
    QPointer<MainWindow> self(this);
    co_await m_model.pauseSend();
    if (self) {
        m_quitConfirmed = true;
        close();
    }
}

void MainWindow::runStart() {
    QPointer<MainWindow> self(this);
    auto done = [self] {
        self->m_started = true;
        self->menuBar()->setEnabled(true);
        self->showContent();
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
