#pragma once

// One application window over a model with everything injected: a library file in a temporary
// folder, in-memory secrets, throw-away settings, chosen launch arguments. Interface tests
// drive it with real key and mouse events.

#include "app/app_model.h"
#include "core/library_store.h"
#include "core/memory_credential_store.h"
#include "support/node_peer.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"
#include "ui/main_window.h"
#include "ui/setup/dns_record_list.h"
#include "ui/setup/dns_record_row.h"
#include "ui/translations.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QScrollArea>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace quillmere::test {

using namespace Qt::StringLiterals;

class UIFixture {
public:
    QTemporaryDir dir;
    std::shared_ptr<MemoryCredentialStore> credentials = std::make_shared<MemoryCredentialStore>();
    std::shared_ptr<QSettings> settings;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<MainWindow> window;
    QList<QUrl> opened; // addresses the window asked the desktop to open
    // Every network call of the model; the real NetworkTransport when left empty.
    std::shared_ptr<HTTPTransport> transport;

    UIFixture()
        : settings(
              std::make_shared<QSettings>(dir.filePath(u"settings.ini"_s), QSettings::IniFormat)) {}

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

    // Builds the model and the window, shows it and waits for the model's start-up.
    MainWindow& open(const QStringList& arguments = {}, MainWindowOptions options = {}) {
        close();
        AppModel::Dependencies d;
        d.store = std::make_shared<LibraryStore>(libraryPath());
        d.credentials = credentials;
        d.settings = settings;
        d.arguments = QStringList{u"quillmere"_s} + arguments;
        d.transport = transport;
        model = std::make_unique<AppModel>(std::move(d));
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

inline Subscriber reader(SubscriberStatus status, const QString& email = {}) {
    Subscriber s;
    s.id = QUuid::createUuid();
    s.email = email.isEmpty() ? s.id.toString(QUuid::WithoutBraces) + u"@example.com"_s : email;
    s.status = status;
    return s;
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

// "purpose symbol" for each row of a DNS record list, in order.
inline QStringList statusSymbols(const DNSRecordList* list) {
    QStringList out;
    for (const DNSRecordRow* row : list->rows()) {
        out.append(row->record().purpose + QLatin1Char(' ') + row->statusSymbol());
    }
    return out;
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

// Opens the context menu of a widget at a point, as a right click does, and clicks the menu
// item with that text once the menu shows.
inline void chooseFromContextMenu(QWidget* widget, const QPoint& at, const QString& item) {
    bool chosen = false;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu) {
            return;
        }
        for (QAction* action : menu->actions()) {
            if (action->text() == item) {
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
                chosen = true;
                return;
            }
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

inline void type(QWidget* field, const QString& text) {
    field->setFocus();
    QTest::keyClicks(field, text);
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
