#include "ui_fixture.h"

#include <QTreeWidgetItemIterator>

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    // A library in which three of the five setup steps are complete: sender, signup, readers.
    static Library threeStepsDone() {
        return {.profile = {.fromName = u"Mara Quill"_s,
                            .fromEmail = u"mara@quill.example"_s,
                            .postalAddress = u"1 Harbour Lane, Portsmouth"_s,
                            .workerBaseURL = u"https://postwick.mara.workers.dev"_s},
                .subscribers = {reader(SubscriberStatus::active)}};
    }

    // Presses a key where the keyboard focus is, as a person at the keyboard would.
    static void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QWidget* at = QApplication::focusWidget();
        QTest::keyClick(at ? at : QApplication::activeWindow(), key, modifiers);
    }
    // Tabs forward until the focus reaches a widget.
    static void tabTo(QWidget* target) {
        for (int i = 0; i < 120 && QApplication::focusWidget() != target; ++i) {
            press(Qt::Key_Tab);
        }
        QVERIFY2(QApplication::focusWidget() == target, qPrintable(target->objectName()));
    }
    // Tabs to a field and types there.
    static void fillIn(QWidget* field, const QString& text) {
        tabTo(field);
        QTest::keyClicks(QApplication::focusWidget(), text);
    }

    static void checkAccessible(QWidget* widget, QAccessible::Role role, const QString& name) {
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(face);
        QCOMPARE(face->role(), role);
        QCOMPARE(face->text(QAccessible::Name), name);
    }
    bool showsOnboarding() const {
        auto* stack = qobject_cast<QStackedWidget*>(f->window->centralWidget());
        return qobject_cast<OnboardingView*>(stack->currentWidget()) != nullptr;
    }

private Q_SLOTS:
    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    void quittingDuringASendAsksAndPauses() {
        f->open({u"-demo"_s});
        f->model->setSelectedNewsletterID(SampleData::sampleID(102));
        test::runTask(f->model->sendToList(*f->model->selectedNewsletter()));
        QTRY_VERIFY(f->model->sendSession() && !f->model->sendSession()->isPaused);
        for (bool confirm : {false, true}) {
            QTest::keyClick(f->window.get(), Qt::Key_Q, Qt::ControlModifier);
            QVERIFY(f->window->isVisible());
            answer(confirm);
        }
        QTRY_VERIFY(!f->window->isVisible());
        QVERIFY(f->model->sendSession()->isPaused);
        // Paused once the messages in flight are recorded.
        QTRY_COMPARE(f->model->selectedNewsletter()->status, CampaignStatus::paused);
    }

    void editMenu() {
        MainWindow& window = f->openWith(SampleData::library());
        for (const char* text :
             {"Undo", "Redo", "Cut", "Copy", "Paste", "Select All", "Bold", "Italic", "Link"}) {
            QVERIFY2(window.command(QString::fromLatin1(text)), text);
        }
        // The formatting shortcuts work on the issue's text wherever the focus is.
        f->model->setSelectedNewsletterID(SampleData::sampleID(103));
        auto* editor = f->screen<NewslettersView>(AppSection::newsletters)->editor();
        QWidget* text = editor->markdownEditor()->textArea();
        const QString before = f->model->selectedNewsletter()->markdown;
        pressKey(text, Qt::Key_B, Qt::ControlModifier);
        // Ctrl+K is the link here, though text fields elsewhere delete to the line's end with it.
        QTest::keyClick(text, Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(f->model->selectedNewsletter()->markdown.mid(before.size()),
                 u"**[bold text](https://)**"_s);
        // Undo in a text field is the field's own; Select All too.
        QLineEdit* subject = editor->subjectField();
        type(subject, u"!"_s);
        window.command(u"Undo"_s)->trigger();
        QCOMPARE(subject->text(), f->model->selectedNewsletter()->subject);
        QVERIFY(!subject->text().endsWith(u'!'));
        window.command(u"Select All"_s)->trigger();
        QCOMPARE(subject->selectedText(), subject->text());

        // Ctrl+N from another section makes a new issue and shows it.
        f->model->setSelection(AppSection::stats);
        const qsizetype issues = f->model->library().newsletters.size();
        QTest::keyClick(&window, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(f->model->library().newsletters.size(), issues + 1);
        QCOMPARE(f->model->selection(), AppSection::newsletters);
        auto* view = f->screen<NewslettersView>(AppSection::newsletters);
        QVERIFY(view && view->isVisible());
        QCOMPARE(view->list()->currentIndex().row(), 0);
        QCOMPARE(editor->subjectField()->text(), u"New issue"_s);
        QVERIFY(editor->isVisible());
    }

    void keyboardOnlySetupAndDemoSend() {
        MainWindow& window = f->open();
        OnboardingView* guide = window.onboarding();
        press(Qt::Key_Return);
        QCOMPARE(guide->currentStep(), OnboardingStep::amazon);
        press(Qt::Key_Return);
        QCOMPARE(guide->currentStep(), OnboardingStep::sender);
        auto* sender = qobject_cast<SenderPage*>(guide->page(OnboardingStep::sender));
        fillIn(sender->senderForm()->fromNameField(), u"Kit Keys"_s);
        fillIn(sender->senderForm()->fromEmailField(), u"kit@keys.example"_s);
        fillIn(sender->senderForm()->postalAddressField(), u"3 Key Row"_s);
        QVERIFY(f->model->isComplete(OnboardingStep::sender));
        for (OnboardingStep next : {OnboardingStep::domain, OnboardingStep::signup,
                                    OnboardingStep::readers, OnboardingStep::done}) {
            tabTo(guide->primaryButton());
            press(Qt::Key_Space);
            QCOMPARE(guide->currentStep(), next);
        }
        press(Qt::Key_Return);
        QVERIFY(f->model->onboardingDone());

        // The sample data: an issue chosen and sent to the list from the keyboard.
        f->open({u"-demo"_s});
        auto* issues = f->screen<NewslettersView>(AppSection::newsletters);
        tabTo(issues->list());
        press(Qt::Key_Down);
        QCOMPARE(f->model->selectedNewsletterID(), SampleData::sampleID(102));
        tabTo(issues->editor()->sendToListButton());
        press(Qt::Key_Space);
        QTRY_VERIFY(issues->editor()->sendSheet() && issues->editor()->sendSheet()->isVisible());
        QTRY_COMPARE(QApplication::activeWindow(), issues->editor()->sendSheet());
        press(Qt::Key_Return);
        QTRY_VERIFY(f->model->sendSession() && f->model->sendSession()->sent >= 1);
    }

    // Until the library is read from disk nothing can edit it: the edit would be replaced by
    // the loaded library, and its save would write a near-empty list over the file.
    void nothingEditableBeforeTheLibraryIsIn() {
        f->onboarded();
        const Library stored = SampleData::library();
        f->writeLibrary(stored);
        AppModel model(f->dependencies());
        MainWindow window(model);
        auto* pages = qobject_cast<QStackedWidget*>(window.centralWidget());
        QVERIFY(pages->currentWidget()->findChildren<QWidget*>().isEmpty());
        QVERIFY(!window.menuBar()->isEnabled());
        window.show();
        QTRY_VERIFY(window.isStarted());
        QVERIFY(!pages->currentWidget()->findChildren<QWidget*>().isEmpty());
        QVERIFY(window.menuBar()->isEnabled());
        QCOMPARE(model.library().subscribers.size(), stored.subscribers.size());
    }

    void windowSidebarAndSetupCard() {
        MainWindow& window = f->openWith(threeStepsDone());
        QCOMPARE(window.windowTitle(), u"Quillmere"_s);
        QCOMPARE(window.size(), QSize(1360, 840));
        QVERIFY(window.sidebar()->width() >= 200);
        QTreeWidget* list = window.sidebar()->list();
        QCOMPARE(list->topLevelItemCount(), 2);
        QStringList shown; // groups and their sections, in order; every section has an icon
        for (QTreeWidgetItemIterator item(list); *item; ++item) {
            shown << (*item)->text(0);
            QVERIFY(!(*item)->parent() || !(*item)->icon(0).isNull());
        }
        QCOMPARE(shown, (QStringList{"Publish", "Newsletters", "Subscribers", "Stats", "Setup",
                                     "Amazon SES", "Signup Worker", "Production Access"}));

        // Clicking a section shows its screen; the model's selection follows and back.
        QTreeWidgetItem* stats = list->topLevelItem(0)->child(2);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(stats).center());
        QCOMPARE(f->model->selection(), AppSection::stats);
        QVERIFY(qobject_cast<StatsView*>(window.screen(AppSection::stats)));
        QVERIFY(window.screen(AppSection::stats)->isVisible());
        f->model->setSelection(AppSection::subscribers);
        QCOMPARE(list->currentItem()->text(0), u"Subscribers"_s);

        SidebarCard* card = window.sidebar()->card();
        QVERIFY(card->isVisible());
        QCOMPARE(card->title(), u"Finish setup"_s);
        QCOMPARE(card->detail(), u"3 of 5 steps done"_s);
        QCOMPARE(card->progress(), std::optional(0.6));
        QCOMPARE(card->actionButton()->text(), u"Continue"_s);

        QTest::mouseClick(card->actionButton(), Qt::LeftButton);
        QVERIFY(showsOnboarding());
        QCOMPARE(window.onboarding()->currentStep(), OnboardingStep::amazon);
    }

    void demoCardBadgeAndWhatTheySay() {
        MainWindow& window = f->open({u"-demo"_s});
        SidebarCard* card = window.sidebar()->card();
        QCOMPARE(card->title(), u"Sample data"_s);
        QCOMPARE(card->detail(), u"Nothing is saved or sent."_s);
        QCOMPARE(card->progress(), std::nullopt);
        QCOMPARE(window.sidebar()->badge()->headline(), u"SES sandbox"_s);
        QCOMPARE(window.sidebar()->badge()->detail(), u"3 of 200 today, 1/s"_s);

        // The custom widgets speak to assistive technology.
        checkAccessible(card, QAccessible::Grouping, u"Sample data"_s);
        checkAccessible(window.sidebar()->findChild<QWidget*>(u"sandboxBadge"_s),
                        QAccessible::Grouping, u"SES sandbox"_s);
        f->model->showStatus(u"Saved."_s);
        checkAccessible(window.toast(), QAccessible::AlertMessage, u"Saved."_s);
        f->model->setSelection(AppSection::subscribers);
        checkAccessible(
            window.screen(AppSection::subscribers)->findChild<QWidget*>(u"chip-pending"_s),
            QAccessible::Button, u"Pending, 3 readers"_s);
        f->model->setSelection(AppSection::newsletters);
        auto* issues = f->screen<NewslettersView>(AppSection::newsletters);
        QCOMPARE(issues->list()->model()->index(0, 0).data(Qt::AccessibleTextRole).toString(),
                 u"Issue 12: In praise of boring tools, Sent, 18 sent"_s);

        // "Start for real" returns to the writer's own (here: no) library and its guide, at the
        // first step not done: Amazon.
        QCOMPARE(card->actionButton()->text(), u"Start for real"_s);
        QTest::mouseClick(card->actionButton(), Qt::LeftButton);
        QTRY_VERIFY(!f->model->isDemo());
        QTRY_VERIFY(showsOnboarding());
        QCOMPARE(window.onboarding()->currentStep(), OnboardingStep::amazon);
        QVERIFY(f->model->library().newsletters.isEmpty());
        QCOMPARE(window.sidebar()->badge()->headline(), u"Not connected"_s);
        QCOMPARE(card->title(), u"Finish setup"_s);
        QCOMPARE(card->detail(), u"0 of 5 steps done"_s);
    }

    void toastClearsItselfOrOnDismiss() {
        MainWindow& window =
            f->open({u"-demo"_s}, {.toastInterval = std::chrono::milliseconds(300)});
        Toast* toast = window.toast();
        QVERIFY(!toast->isVisible());

        f->model->showStatus(u"Test sent to ada@example.com (message 0100018c9f)."_s);
        QVERIFY(toast->isVisible());
        QCOMPARE(toast->message(), u"Test sent to ada@example.com (message 0100018c9f)."_s);
        QTest::qWait(150);
        QVERIFY(f->model->statusMessage().has_value());
        QTRY_COMPARE_WITH_TIMEOUT(f->model->statusMessage(), std::nullopt, 1000);
        QVERIFY(!toast->isVisible());

        // A new message restarts the interval; "Dismiss" clears it at once.
        f->model->showStatus(u"Synced 3 changes from the worker."_s);
        QTest::mouseClick(child<QToolButton>(toast, u"toastDismiss"_s), Qt::LeftButton);
        QCOMPARE(f->model->statusMessage(), std::nullopt);
        QVERIFY(!toast->isVisible());
    }

    void updatesCommand_data() {
        QTest::addColumn<QString>("signingKey");
        QTest::addColumn<QString>("feed");
        QTest::addColumn<bool>("enabled");
        const QString key = u"pfQ3tE8gYk1Ve6mWm2K0"_s;
        const QString https = u"https://quill.example/appcast.xml"_s;
        QTest::newRow("absent") << QString() << QString() << false;
        QTest::newRow("template key") << u"REPLACE_WITH_PUBLIC_KEY"_s << https << false;
        QTest::newRow("no key") << QString("") << https << false; // empty, not absent
        QTest::newRow("plain http feed") << key << u"http://quill.example/a.xml"_s << false;
        QTest::newRow("not an address") << key << u"appcast.xml"_s << false;
        QTest::newRow("configured") << key << u"https://quill.example/a.xml"_s << true;
    }

    void updatesCommand() {
        QFETCH(QString, signingKey);
        QFETCH(QString, feed);
        QFETCH(bool, enabled);
        if (!signingKey.isNull()) {
            f->settings->setValue(u"updates/signingKey"_s, signingKey);
            f->settings->setValue(u"updates/feed"_s, feed);
        }
        MainWindow& window = f->open({u"-demo"_s}, {.updates = UpdateSettings::read(*f->settings)});
        QAction* check = window.command(u"Check for Updates…"_s);
        QVERIFY(check);
        QCOMPARE(check->isEnabled(), enabled);
        check->trigger();
        QCOMPARE(f->opened, enabled ? QList{QUrl(feed)} : QList<QUrl>());
    }

    void helpCommands() {
        MainWindow& window = f->open({u"-demo"_s});
        // A message stays six seconds unless told otherwise.
        QCOMPARE(MainWindowOptions().toastInterval, std::chrono::milliseconds(6000));
        QCOMPARE(window.toast()->interval(), std::chrono::milliseconds(6000));
        window.command(u"Quillmere Help"_s)->trigger();
        window.command(u"Contact Support"_s)->trigger();
        QCOMPARE(f->opened.size(), 2);
        QCOMPARE(f->opened.at(0).scheme(), u"https"_s);
        QCOMPARE(f->opened.at(1).scheme(), u"mailto"_s);

        // "Guided Setup" brings the guide back where the setup stands.
        window.command(u"Guided Setup"_s)->trigger();
        QVERIFY(showsOnboarding());
        QCOMPARE(window.onboarding()->currentStep(), f->model->firstIncompleteStep());
    }
};

QUILLMERE_UI_TEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
