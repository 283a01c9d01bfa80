#pragma once

// One application window over a model with everything injected: a library file in a temporary
// folder, in-memory secrets, throw-away settings, chosen launch arguments. Interface tests
// drive it with real key and mouse events; every screen, page and widget they reach is
// declared here.

#include "app/app_model.h"
#include "core/library_store.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/scripted_transport.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"
#include "ui/issues/html_preview.h"
#include "ui/issues/markdown_editor.h"
#include "ui/issues/markdown_highlighter.h"
#include "ui/issues/markdown_text_area.h"
#include "ui/issues/newsletter_editor.h"
#include "ui/issues/newsletter_list.h"
#include "ui/issues/newsletters_view.h"
#include "ui/issues/send_sheet.h"
#include "ui/issues/spell_checker.h"
#include "ui/issues/spelling_language_picker.h"
#include "ui/main_window.h"
#include "ui/onboarding/amazon_page.h"
#include "ui/onboarding/domain_page.h"
#include "ui/onboarding/done_page.h"
#include "ui/onboarding/feature.h"
#include "ui/onboarding/onboarding_view.h"
#include "ui/onboarding/page_header.h"
#include "ui/onboarding/readers_page.h"
#include "ui/onboarding/sender_page.h"
#include "ui/onboarding/setup_step.h"
#include "ui/onboarding/signup_page.h"
#include "ui/onboarding/step_rail.h"
#include "ui/onboarding/welcome_page.h"
#include "ui/setup/dns_record_list.h"
#include "ui/setup/dns_record_row.h"
#include "ui/setup/postal_address_field.h"
#include "ui/setup/production_access_view.h"
#include "ui/setup/region_picker.h"
#include "ui/setup/sender_details_form.h"
#include "ui/setup/ses_error_label.h"
#include "ui/setup/ses_setup_view.h"
#include "ui/setup/settings_window.h"
#include "ui/setup/worker_deploy_card.h"
#include "ui/setup/worker_setup_view.h"
#include "ui/sidebar.h"
#include "ui/sidebar_card.h"
#include "ui/stats/stat_tile.h"
#include "ui/stats/stats_view.h"
#include "ui/subscribers/add_subscriber_sheet.h"
#include "ui/subscribers/csv_drop_area.h"
#include "ui/subscribers/filter_chip.h"
#include "ui/subscribers/import_panel.h"
#include "ui/subscribers/subscriber_table_model.h"
#include "ui/subscribers/subscribers_view.h"
#include "ui/translations.h"
#include "ui/widgets/color_scheme.h"
#include "ui/widgets/empty_state.h"
#include "ui/widgets/result_line.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/toast.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCollator>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QGraphicsTextItem>
#include <QGridLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>

namespace quillmere::test {

using namespace Qt::StringLiterals;

class UIFixture {
public:
    QTemporaryDir dir;
    std::shared_ptr<MemoryCredentialStore> credentials = std::make_shared<MemoryCredentialStore>();
    std::shared_ptr<QSettings> settings =
        std::make_shared<QSettings>(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    std::unique_ptr<AppModel> model;
    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened; // addresses the window asked the desktop to open
    // Every network call of the model; the real NetworkTransport when left empty.
    std::shared_ptr<HTTPTransport> transport;

    ~UIFixture() { close(); }

    QString libraryPath() const { return dir.filePath(u"Postwick/library.json"_s); }

    void writeLibrary(const Library& library) { LibraryStore(libraryPath()).saveNow(library); }

    // Writes a file of that name in the test's folder and returns its path.
    QString writeFile(const QString& name, const QByteArray& content) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            qFatal("cannot write %s", qPrintable(file.fileName()));
        }
        return file.fileName();
    }

    // Marks the guided setup as done, as a returning writer's settings would.
    void onboarded() {
        settings->setValue(u"onboardingDone"_s, true);
        settings->sync();
    }

    // What the model is given: this test's library file, secrets, settings and transport.
    AppModel::Dependencies dependencies(const QStringList& arguments = {}) const {
        return {.store = std::make_shared<LibraryStore>(libraryPath()),
                .credentials = credentials,
                .settings = settings,
                .arguments = QStringList{u"quillmere"_s} + arguments,
                .transport = transport};
    }

    // Builds the model and the window, shows it and waits for the model's start-up.
    MainWindow& open(const QStringList& arguments = {}, MainWindowOptions options = {}) {
        close();
        model = std::make_unique<AppModel>(dependencies(arguments));
        if (!options.openURL) {
            options.openURL = [this](const QUrl& url) { opened.append(url); };
        }
        window = std::make_unique<MainWindow>(*model, std::move(options));
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            qWarning("window not exposed");
        }
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get(), 1000)) {
            // Xvfb has no window manager to hand over the focus every time; shortcuts only
            // need Qt to see the window as the active one.
            QApplication::setActiveWindow(window.get());
        }
        if (!QTest::qWaitFor([this] { return window->isStarted(); }, 10000)) {
            qWarning("the model did not finish starting");
        }
        return *window;
    }

    // A returning writer's window over that library.
    MainWindow& openWith(const Library& library, const QStringList& arguments = {},
                         MainWindowOptions options = {}) {
        onboarded();
        writeLibrary(library);
        return open(arguments, std::move(options));
    }

    template <class Screen>
    Screen* screen(AppSection section) const {
        return qobject_cast<Screen*>(window->screen(section));
    }

    QSet<QUuid> everyone() const {
        QSet<QUuid> ids;
        for (const Subscriber& s : model->library().subscribers) {
            ids.insert(s.id);
        }
        return ids;
    }

    void storeAWSKeys() {
        credentials->set(u"AKIAUITESTS"_s, CredentialStore::Key::awsAccessKeyID);
        credentials->set(u"ui-tests-secret"_s, CredentialStore::Key::awsSecretAccessKey);
    }

    void close() {
        window.reset();
        model.reset();
    }
};

inline Subscriber reader(SubscriberStatus status) {
    const QUuid id = QUuid::createUuid();
    return {
        .id = id, .email = id.toString(QUuid::WithoutBraces) + u"@example.com"_s, .status = status};
}

// The SES emulator answering with that account; the model's SES client is sent to it.
inline std::unique_ptr<SESEmulator> startSES(const QJsonObject& account) {
    auto ses = std::make_unique<SESEmulator>(QJsonDocument(account).toJson(QJsonDocument::Compact));
    if (ses->isRunning()) {
        qputenv("AWS_ENDPOINT_URL_SESV2", ses->url().toString().toUtf8());
    }
    return ses;
}

// The fake Cloudflare API (with Miniflare behind it) that knows one good token and account; the
// model's Cloudflare client is sent to it.
inline std::unique_ptr<NodePeer> startCloudflare(const QString& token, const QString& accountID,
                                                 const QString& accountName,
                                                 const QString& subdomain,
                                                 const QJsonObject& limitedTokens) {
    const QJsonObject config{{"token", token},
                             {"accountId", accountID},
                             {"accountName", accountName},
                             {"subdomain", subdomain},
                             {"limitedTokens", limitedTokens}};
    auto peer = std::make_unique<NodePeer>(
        u"fake_cloudflare.mjs"_s,
        QStringList{QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact))});
    qputenv("CLOUDFLARE_API_BASE_URL", peer->value(u"api"_s).toUtf8());
    return peer;
}

// A GetEmailIdentity answer for a domain.
inline QByteArray sesIdentity(bool verified, const QString& dkim,
                              const QJsonArray& tokens = {"aaaatoken", "bbbbtoken", "cccctoken"}) {
    return QJsonDocument(
               QJsonObject{{"IdentityType", "DOMAIN"},
                           {"VerifiedForSendingStatus", verified},
                           {"DkimAttributes", QJsonObject{{"Status", dkim}, {"Tokens", tokens}}}})
        .toJson();
}

// A widget's text as the writer sees it: none while it is hidden.
template <class Widget>
QString shownText(const Widget* widget) {
    return widget->isVisible() ? widget->text() : u"(hidden)"_s;
}

// What `text` reads from each item, in order.
template <class Items, class Read>
QStringList textsOf(const Items& items, Read text) {
    QStringList out;
    for (const auto& item : items) {
        out.append(std::invoke(text, item));
    }
    return out;
}

// The texts of one column of an item model (a table's, a list's or a picker's), by row.
inline QStringList columnTexts(const QAbstractItemModel* model, int column = 0) {
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts << model->index(row, column).data().toString();
    }
    return texts;
}

// "purpose symbol" for each row of a DNS record list, in order.
inline QStringList statusSymbols(const DNSRecordList* list) {
    return textsOf(list->rows(), [](const DNSRecordRow* row) {
        return row->record().purpose + QLatin1Char(' ') + row->statusSymbol();
    });
}

// Drags a file from outside the application onto a widget and, if `drop` and the widget takes
// it, drops it there. Whether the widget took the drag.
inline bool dragFile(QWidget* target, const QString& path, QPoint at, bool drop = true) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    if (drop && enter.isAccepted()) {
        QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(target, &dropped);
    }
    return enter.isAccepted();
}

// Finds a child by object name and type, or fails the test.
template <class T>
T* child(QObject* parent, const QString& name = {}) {
    T* found = parent->findChild<T*>(name);
    if (!found) {
        qFatal("no %s named '%s'", T::staticMetaObject.className(), qPrintable(name));
    }
    return found;
}

// Where a click on a row of a list or table lands (in its viewport).
inline QPoint rowCentre(const QAbstractItemView* view, int row) {
    return view->visualRect(view->model()->index(row, 0)).center();
}

// The item of a menu with that text, or none.
inline QAction* actionOf(const QWidget* menu, const QString& text) {
    const QList<QAction*> actions = menu->actions();
    const auto found = std::ranges::find(actions, text, &QAction::text);
    return found == actions.end() ? nullptr : *found;
}

// Opens the context menu of a widget at a point, as a right click does, and clicks the menu
// item with that text once the menu shows.
inline void chooseFromContextMenu(QWidget* widget, const QPoint& at, const QString& item) {
    bool chosen = false;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        if (QAction* action = actionOf(menu, item)) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            chosen = true;
            return;
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, widget->mapToGlobal(at));
    QApplication::sendEvent(widget, &event);
    QTest::qWait(20);
    QVERIFY2(chosen, qPrintable(u"no menu item '%1'"_s.arg(item)));
}

// Clicks as a person would: the button must be visible and enabled, and is scrolled into view.
inline void click(QAbstractButton* button) {
    QVERIFY2(button->isVisible(), qPrintable(button->text() + u" is not visible"_s));
    QVERIFY2(button->isEnabled(), qPrintable(button->text() + u" is disabled"_s));
    // A row added a moment ago gets its size when the layout next runs.
    QTRY_VERIFY(!button->size().isEmpty());
    // Mouse events go to whatever is at that point of the window: scroll the button in first.
    for (QWidget* up = button->parentWidget(); up; up = up->parentWidget()) {
        if (auto* scroller = qobject_cast<QScrollArea*>(up)) {
            scroller->ensureWidgetVisible(button);
        }
    }
    // A toggle takes clicks on its box and label, not on the empty width of its row.
    const QPoint at = qobject_cast<QCheckBox*>(button) ? QPoint(8, button->height() / 2)
                                                       : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

// Answers the open confirmation question: its action button, or Cancel.
inline void answer(bool confirm) {
    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())));
    QAbstractButton* button =
        confirm ? box->findChild<QAbstractButton*>(u"confirm"_s) : box->button(QMessageBox::Cancel);
    QVERIFY(button);
    QWidget* owner = box->parentWidget() ? box->parentWidget()->window() : nullptr;
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY(!QApplication::activeModalWidget());
    // Xvfb has no window manager to hand the focus back to the window below.
    if (owner && owner->isVisible()) {
        QApplication::setActiveWindow(owner);
    }
}

// Presses a key in a widget, which takes the keyboard focus first.
inline void pressKey(QWidget* widget, Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
    widget->setFocus();
    QTest::keyClick(widget, key, modifiers);
}

inline void type(QWidget* field, const QString& text) {
    field->setFocus();
    QTest::keyClicks(field, text);
}

// Replaces the whole text of an editor by typing it, Return between lines.
inline void retype(QPlainTextEdit* area, const QString& text) {
    pressKey(area, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(area, Qt::Key_Delete);
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            QTest::keyClick(area, Qt::Key_Return);
        }
        QTest::keyClicks(area, lines[i]);
    }
}

// Connects a worker screen or card with a Cloudflare token and waits for the answer.
template <class Screen>
void connectWith(Screen* screen, const QString& token) {
    screen->tokenField()->clear();
    type(screen->tokenField(), token);
    click(screen->connectButton());
    QTRY_VERIFY(!screen->isConnecting());
}

} // namespace quillmere::test

// Every interface test reads the product's and the fixture's names unqualified.
using namespace quillmere;
using namespace quillmere::test;

// Interface tests need a QApplication made after the attribute that the email preview's
// browser requires, and a fixed locale so dates and numbers read the same everywhere.
#define QUILLMERE_UI_TEST_MAIN(TestClass)                                                          \
    int main(int argc, char** argv) {                                                              \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                \
        QApplication application(argc, argv);                                                      \
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));                     \
        quillmere::installTranslations();                                                          \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
