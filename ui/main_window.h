#pragma once

#include "app/app_section.h"
#include "ui/onboarding/onboarding_view.h"
#include "ui/setup/settings_window.h"
#include "ui/setup/update_settings.h"

#include <QMainWindow>
#include <QPointer>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <map>

class QAction;
class QSplitter;
class QStackedWidget;

namespace quillmere {

class AppModel;
class Sidebar;
class Toast;

// What varies between the application and its tests.
struct MainWindowOptions {
    std::chrono::milliseconds toastInterval = std::chrono::seconds(6);
    UpdateSettings updates;
    // Opens a web address or a new e-mail in the desktop's applications; tests replace it.
    std::function<void(const QUrl&)> openURL;
    // Asks where to save a file (dialog title, suggested name); empty: cancelled.
    std::function<QString(const QString&, const QString&)> chooseSaveFile;
};

// The application's window: the guided setup until onboarding is done, then the sidebar
// workspace; the menu commands; the toast showing the model's status message.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    using Options = MainWindowOptions;

    explicit MainWindow(AppModel& model, Options options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    AppModel& model() const { return m_model; }
    Sidebar* sidebar() const { return m_sidebar; }
    Toast* toast() const { return m_toast; }
    OnboardingView* onboarding() const { return m_onboarding; }
    SettingsWindow* settingsWindow() const { return m_settings; }
    // The detail screen of a section (created when first shown), or null.
    QWidget* screen(AppSection section) const;
    // The menu command with that text.
    QAction* command(const QString& text) const;
    // Whether the model's start-up has finished.
    bool isStarted() const { return m_started; }

public Q_SLOTS:
    void showSettings();
    // Hands a CSV file to the model's import.
    void importFile(const QString& path);

Q_SIGNALS:
    // The model's start-up has finished.
    void started();

protected:
    void showEvent(QShowEvent* event) override;
    // Quitting while a list send runs asks first; a confirmed quit pauses the send, then quits.
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildMenus();
    void buildEditMenu();
    // The Edit menu's text commands go to the focused field (or list); Undo and Redo to the
    // session's history when no text field has the focus.
    bool sendToFocus(const char* slot);
    QAction* markdownTool(const QString& label) const;
    void askBeforeQuit();
    QCoro::Task<void> pauseAndQuit();
    void showContent();
    void showSection();
    void reopenGuide();
    void exportSubscribers();
    QWidget* makeScreen(AppSection section);
    void runStart();

    AppModel& m_model;
    Options m_options;
    QStackedWidget* m_content;
    QSplitter* m_workspace;
    Sidebar* m_sidebar;
    QStackedWidget* m_detail;
    QWidget* m_noSection;
    QPointer<OnboardingView> m_onboarding;
    QPointer<SettingsWindow> m_settings;
    std::map<AppSection, QWidget*> m_screens;
    Toast* m_toast;
    QList<QAction*> m_commands;
    bool m_startRequested = false;
    bool m_started = false;
    bool m_quitConfirmed = false;
    QPointer<QWidget> m_quitQuestion;
};

} // namespace quillmere
