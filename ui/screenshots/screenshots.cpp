// Opens each screen of the application on the sample library and writes a PNG of it:
//   quillmere-screenshots [--dark] [--size=WIDTHxHEIGHT] OUTPUT_FOLDER [NAME...]
// Run under a display (scripts/screenshots uses Xvfb). Nothing is saved or sent: the sample
// library of demo mode, in-memory secrets and throw-away settings.
#include "app/app_model.h"
#include "core/memory_credential_store.h"
#include "core/sample_data.h"
#include "imaging/image_import.h"
#include "ui/issues/html_preview.h"
#include "ui/issues/markdown_editor.h"
#include "ui/issues/markdown_text_area.h"
#include "ui/issues/newsletter_editor.h"
#include "ui/issues/newsletters_view.h"
#include "ui/issues/send_sheet.h"
#include "ui/main_window.h"
#include "ui/setup/settings_window.h"
#include "ui/subscribers/add_subscriber_sheet.h"
#include "ui/subscribers/subscribers_view.h"
#include "ui/translations.h"
#include "ui/widgets/color_scheme.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>

#include <cstdio>
#include <functional>

using namespace quillmere;

namespace {

struct Shot {
    QString name;
    QStringList arguments;
    // Brings the window into the state to capture; returns an extra window (a sheet) to draw
    // over it, if any.
    std::function<QWidget*(MainWindow&)> prepare;
    // The extra window is pictured on its own rather than over the main window.
    bool standalone = false;
};

Shot guidePage(const QString& step, bool demo = true) {
    QStringList arguments{QStringLiteral("-onboarding"), step};
    if (demo) {
        arguments.prepend(QStringLiteral("-demo"));
    }
    return {QStringLiteral("guide-") + step, arguments,
            [](MainWindow&) -> QWidget* { return nullptr; }};
}

Shot section(const QString& name, const QString& section) {
    return {name,
            {QStringLiteral("-demo"), QStringLiteral("-section"), section},
            [](MainWindow&) -> QWidget* { return nullptr; }};
}

Shot settingsTab(const QString& name, int tab) {
    return {name,
            {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("newsletters")},
            [tab](MainWindow& window) -> QWidget* {
                window.showSettings();
                window.settingsWindow()->tabs()->setCurrentIndex(tab);
                return window.settingsWindow();
            },
            true};
}

void settle(int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(10);
    }
}

// Waits until the email preview shows something other than blank white.
void waitForPreview(MainWindow& window) {
    auto* view = qobject_cast<NewslettersView*>(window.screen(AppSection::newsletters));
    if (!view) {
        return;
    }
    QWebEngineView* web = view->editor()->preview()->view();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 8000) {
        settle(200);
        const QImage image = web->grab().toImage();
        const QRgb corner = image.pixel(image.width() / 2, image.height() / 4);
        bool painted = false;
        for (int y = 0; y < image.height() && !painted; y += 7) {
            for (int x = 0; x < image.width() && !painted; x += 7) {
                painted = image.pixel(x, y) != corner;
            }
        }
        if (painted) {
            settle(300);
            return;
        }
    }
}

// A picture for the issue with an image: a harbour at dawn, drawn rather than shipped.
QImage harbour() {
    QImage image(1800, 900, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 620);
    sky.setColorAt(0, QColor(0x2b, 0x3a, 0x67));
    sky.setColorAt(0.6, QColor(0xe8, 0x8d, 0x67));
    sky.setColorAt(1, QColor(0xf6, 0xd2, 0x8b));
    p.fillRect(QRect(0, 0, 1800, 620), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xfb, 0xe3, 0xa3));
    p.drawEllipse(QPointF(1250, 600), 110, 110);
    QLinearGradient sea(0, 620, 0, 900);
    sea.setColorAt(0, QColor(0x3d, 0x5a, 0x80));
    sea.setColorAt(1, QColor(0x1b, 0x26, 0x3b));
    p.fillRect(QRect(0, 620, 1800, 280), sea);
    p.setBrush(QColor(0x1b, 0x1f, 0x2a));
    p.drawPolygon(QPolygonF({QPointF(0, 640), QPointF(260, 520), QPointF(520, 600),
                             QPointF(760, 540), QPointF(980, 640)}));
    p.drawRect(QRectF(1400, 560, 260, 50));
    p.drawPolygon(QPolygonF({QPointF(1480, 560), QPointF(1480, 380), QPointF(1600, 560)}));
    return image;
}

// Puts a line at the very top of the draft, as if typed there (a sent issue is read-only).
QPlainTextEdit* prepend(MainWindow& window, const QString& line) {
    window.model().setSelectedNewsletterID(SampleData::sampleID(103));
    auto* view = qobject_cast<NewslettersView*>(window.screen(AppSection::newsletters));
    QPlainTextEdit* area = view->editor()->markdownEditor()->textArea();
    QTextCursor top(area->document());
    top.insertText(line + QStringLiteral("\n\n"));
    return area;
}

QImage capture(MainWindow& window, QWidget* sheet) {
    QImage image = window.grab().toImage();
    if (!sheet) {
        return image;
    }
    if (qobject_cast<QMenu*>(sheet)) {
        // A context menu is drawn where it opened, over the undimmed window.
        QPainter painter(&image);
        painter.drawImage(sheet->mapToGlobal(QPoint()) - window.mapToGlobal(QPoint()),
                          sheet->grab().toImage());
        return image;
    }
    // A sheet drops from the top of its window over a dimmed content.
    QPainter painter(&image);
    const int menu = window.menuWidget() ? window.menuWidget()->height() : 0;
    painter.fillRect(QRect(0, menu, image.width(), image.height() - menu), QColor(0, 0, 0, 60));
    const QImage front = sheet->grab().toImage();
    const QPoint at((image.width() - front.width()) / 2, menu + 24);
    painter.setPen(QColor(0, 0, 0, 70));
    painter.drawRect(QRect(at, front.size()).adjusted(-1, -1, 0, 0));
    painter.drawImage(at, front);
    return image;
}

// Answers as a new SES account in the sandbox would, with a domain whose DKIM records are not
// yet seen by Amazon; any other call is refused. Keeps the pictures of a writer's own library
// off the network.
class PicturedSES : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        const QString path = request.url.path();
        HTTPResponse response;
        response.status = 200;
        response.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
        if (path.endsWith(QLatin1String("/v2/email/account"))) {
            response.body = R"({"EnforcementStatus":"HEALTHY","ProductionAccessEnabled":false,
                "SendingEnabled":true,"SendQuota":{"Max24HourSend":200,"MaxSendRate":1,
                "SentLast24Hours":2}})";
        } else if (path.contains(QLatin1String("/v2/email/identities"))) {
            response.body = R"({"IdentityType":"DOMAIN","VerifiedForSendingStatus":false,
                "DkimAttributes":{"Status":"PENDING","SigningEnabled":true,
                "Tokens":["k7q2xw5tbnz4fhm3","p9d4rvc8ya2lsue6","w3nj6gx1omt5qzk8"]}})";
        } else {
            response.status = 404;
            response.body = R"({"message":"Not pictured"})";
        }
        co_return response;
    }
};

// A writer's own library part way through setup: keys stored, sender filled in, a domain whose
// records are being published.
Shot ownDomain(const QString& name, const QStringList& arguments) {
    return {name, arguments, [](MainWindow& window) -> QWidget* {
                AppModel& model = window.model();
                SenderProfile profile = model.library().profile;
                profile.publicationName = QStringLiteral("The Quiet Workshop");
                profile.fromName = QStringLiteral("Mara Ellison");
                profile.fromEmail = QStringLiteral("mara@quietworkshop.news");
                profile.postalAddress = QStringLiteral("12 Harbour Lane, Falmouth, TR11 3AA, UK");
                profile.domain = QStringLiteral("quietworkshop.news");
                model.setProfile(profile);
                model.verifyDomain();
                settle(1500);
                return nullptr;
            }};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    installTranslations();
    QStringList arguments = QCoreApplication::arguments();
    std::optional<QSize> size;
    for (const QString& option : arguments.mid(1)) {
        if (option == QLatin1String("--dark")) {
            ColorScheme::usePalette(true);
        } else if (option.startsWith(QLatin1String("--size="))) {
            const QStringList sides = option.mid(7).split(u'x');
            size = QSize(sides.value(0).toInt(), sides.value(1).toInt());
        }
        if (option.startsWith(QLatin1String("--"))) {
            arguments.removeOne(option);
        }
    }
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: quillmere-screenshots [--dark] [--size=WIDTHxHEIGHT] "
                             "OUTPUT_FOLDER [NAME...]\n");
        return 2;
    }
    const QDir output(arguments.at(1));
    QDir().mkpath(output.path());
    const QStringList wanted = arguments.mid(2);
    QTemporaryDir scratch;

    const QList<Shot> shots{
        {QStringLiteral("newsletters"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("newsletters")},
         [](MainWindow& window) -> QWidget* {
             // The draft, with its formatting tools (a sent issue is read-only).
             window.model().setSelectedNewsletterID(SampleData::sampleID(103));
             waitForPreview(window);
             return nullptr;
         }},
        {QStringLiteral("issue-image"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("newsletters")},
         [](MainWindow& window) -> QWidget* {
             const QString name =
                 ImageImport::store(ImageImport::prepare(harbour()), window.model().mediaFolder());
             prepend(window, ImageImport::markdown(QStringLiteral("The harbor at dawn"), name));
             waitForPreview(window);
             return nullptr;
         }},
        {QStringLiteral("spelling-menu"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("newsletters")},
         [](MainWindow& window) -> QWidget* {
             auto* area = static_cast<MarkdownTextArea*>(
                 prepend(window, QStringLiteral("A qiet note before we begin, {{name}}.")));
             settle(200);
             QTextCursor word(area->document());
             word.setPosition(4);
             const QPoint at = area->cursorRect(word).center();
             QMenu* menu = area->contextMenuAt(at);
             // Below the word, so the picture shows which word it is for.
             menu->popup(area->viewport()->mapToGlobal(at + QPoint(-30, 14)));
             return menu;
         }},
        {QStringLiteral("subscribers"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("subscribers")},
         [](MainWindow& window) -> QWidget* {
             auto* view = qobject_cast<SubscribersView*>(window.screen(AppSection::subscribers));
             view->table()->selectRow(2);
             return nullptr;
         }},
        {QStringLiteral("subscribers-add"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("subscribers")},
         [](MainWindow& window) -> QWidget* {
             auto* view = qobject_cast<SubscribersView*>(window.screen(AppSection::subscribers));
             view->openAddSheet();
             view->addSheet()->emailField()->setText(QStringLiteral("new.reader@example.com"));
             view->addSheet()->nameField()->setText(QStringLiteral("New Reader"));
             settle(200);
             return view->addSheet();
         }},
        {QStringLiteral("send"),
         {QStringLiteral("-demo"), QStringLiteral("-showSend"), QStringLiteral("-autoSend")},
         [](MainWindow& window) -> QWidget* {
             waitForPreview(window);
             auto* view = qobject_cast<NewslettersView*>(window.screen(AppSection::newsletters));
             settle(4500); // a few deliveries into the list send
             return view->editor()->sendSheet();
         }},
        {QStringLiteral("stats"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("stats")},
         [](MainWindow&) -> QWidget* { return nullptr; }},
        {QStringLiteral("toast"),
         {QStringLiteral("-demo"), QStringLiteral("-section"), QStringLiteral("subscribers")},
         [](MainWindow& window) -> QWidget* {
             window.model().showStatus(QStringLiteral("Deploy the worker first."));
             return nullptr;
         }},
        // A writer's own, still empty library.
        {QStringLiteral("first-issue"),
         {QStringLiteral("-section"), QStringLiteral("newsletters")},
         [](MainWindow&) -> QWidget* { return nullptr; }},
        {QStringLiteral("no-readers"),
         {QStringLiteral("-section"), QStringLiteral("subscribers")},
         [](MainWindow&) -> QWidget* { return nullptr; }},
        // The guided setup: its welcome on a first launch, the other pages on the sample data
        // (with keys in the in-memory store, so the domain page shows its records).
        guidePage(QStringLiteral("welcome"), false),
        guidePage(QStringLiteral("amazon")),
        guidePage(QStringLiteral("sender")),
        ownDomain(QStringLiteral("guide-domain"),
                  {QStringLiteral("-onboarding"), QStringLiteral("domain")}),
        guidePage(QStringLiteral("signup")),
        guidePage(QStringLiteral("readers")),
        guidePage(QStringLiteral("done")),
        section(QStringLiteral("ses"), QStringLiteral("setup")),
        ownDomain(QStringLiteral("ses-domain"),
                  {QStringLiteral("-section"), QStringLiteral("setup")}),
        section(QStringLiteral("worker"), QStringLiteral("worker")),
        section(QStringLiteral("production"), QStringLiteral("production")),
        settingsTab(QStringLiteral("settings-general"), 0),
        settingsTab(QStringLiteral("settings-setup"), 1),
    };

    int written = 0;
    for (const Shot& shot : shots) {
        if (!wanted.isEmpty() && !wanted.contains(shot.name)) {
            continue;
        }
        AppModel::Dependencies dependencies;
        dependencies.store = std::make_shared<LibraryStore>(
            scratch.filePath(shot.name + QStringLiteral("/library.json")));
        auto credentials = std::make_shared<MemoryCredentialStore>();
        const bool demo = shot.arguments.contains(QStringLiteral("-demo"));
        if (shot.name.contains(QLatin1String("domain"))) {
            dependencies.transport = std::make_shared<PicturedSES>();
        }
        if (demo || dependencies.transport) {
            // Never sent anywhere: demo mode and the pictured SES reach no service.
            credentials->set(QStringLiteral("AKIASAMPLEKEY"), CredentialStore::Key::awsAccessKeyID);
            credentials->set(QStringLiteral("sample-secret"),
                             CredentialStore::Key::awsSecretAccessKey);
        }
        dependencies.credentials = credentials;
        dependencies.settings = std::make_shared<QSettings>(
            scratch.filePath(shot.name + QStringLiteral(".ini")), QSettings::IniFormat);
        dependencies.arguments = QStringList{QStringLiteral("quillmere")} + shot.arguments;
        if (!demo && !shot.arguments.contains(QStringLiteral("-onboarding"))) {
            dependencies.settings->setValue(QStringLiteral("onboardingDone"), true);
        }
        AppModel model(std::move(dependencies));
        MainWindow window(model);
        if (size) {
            window.resize(*size);
        }
        window.show();
        QElapsedTimer clock;
        clock.start();
        while (!window.isStarted() && clock.elapsed() < 10000) {
            settle(20);
        }
        settle(400);
        QWidget* sheet = shot.prepare(window);
        settle(300);
        const QString path = output.filePath(shot.name + QStringLiteral(".png"));
        const QImage image =
            shot.standalone && sheet ? sheet->grab().toImage() : capture(window, sheet);
        if (!image.save(path)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
        ++written;
        if (sheet) {
            sheet->close();
        }
    }
    return written > 0 ? 0 : 1;
}
