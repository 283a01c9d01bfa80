#include "ui_fixture.h"

#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <functional>

namespace {

// A toolbar action on a text: how the selection is put before pressing it (start -1: left as
// it was when the issue was loaded), the text after it and the selection it leaves.
struct ToolbarCase {
    QString text;
    int start;
    int end;
    QString action;
    QString expected;
    int selectionStart;
    int selectionEnd;
};

// Whether the embedded browser shows a pixel that matches, compared with its top left one (a
// grab right after loading is blank).
bool previewShows(HTMLPreview* preview, const std::function<bool(QColor, QColor)>& match) {
    const QImage image = preview->view()->grab().toImage();
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            if (match(image.pixelColor(x, y), image.pixelColor(0, 0))) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(ToolbarCase)

class TestIssueEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    NewslettersView* view() const { return f->screen<NewslettersView>(AppSection::newsletters); }
    NewsletterEditor* editor() const { return view()->editor(); }
    QPlainTextEdit* area() const { return editor()->markdownEditor()->textArea(); }

    // Replaces the issue's Markdown by typing it, then reloads the issue so the editor has no
    // selection of its own, as when the writer has just opened it.
    void typeAndReload(const QString& text) {
        retype(area(), text);
        QCOMPARE(area()->toPlainText(), text);
        QCOMPARE(f->model->selectedNewsletter()->markdown, text);
        const QUuid id = *f->model->selectedNewsletterID();
        f->model->setSelectedNewsletterID(std::nullopt);
        f->model->setSelectedNewsletterID(id);
    }

    // Puts the caret at `start` and extends to `end` with the keyboard.
    void selectByKeyboard(int start, int end) {
        pressKey(area(), Qt::Key_Home, Qt::ControlModifier);
        for (int i = 0; i < start; ++i) {
            QTest::keyClick(area(), Qt::Key_Right);
        }
        for (int i = start; i < end; ++i) {
            QTest::keyClick(area(), Qt::Key_Right, Qt::ShiftModifier);
        }
    }

    void press(const QString& label) {
        QAction* action = editor()->markdownEditor()->action(label);
        QVERIFY2(action, qPrintable(label));
        QWidget* button = editor()->markdownEditor()->toolBar()->widgetForAction(action);
        QVERIFY(button && button->isVisible());
        QTest::mouseClick(button, Qt::LeftButton);
    }

private Q_SLOTS:
    void init() {
        f = std::make_unique<UIFixture>();
        f->onboarded();
    }
    void cleanup() { f.reset(); }

    void listRowsAndDelete() {
        f->openWith(SampleData::library());
        QListView* list = view()->list();
        const auto& issues = f->model->library().newsletters;
        QCOMPARE(columnTexts(list->model()), textsOf(issues, &Newsletter::subject));
        for (int row = 0; row < issues.size(); ++row) {
            QCOMPARE(list->model()->index(row, 0).data(NewsletterListModel::ShowsSentRole).toBool(),
                     issues.at(row).status == CampaignStatus::sent ||
                         issues.at(row).stats.sent > 0);
        }
        // The first issue is selected at start-up and shown in the editor.
        QCOMPARE(list->currentIndex().row(), 0);
        QCOMPARE(editor()->subjectField()->text(), issues.first().subject);

        // Clicking another row selects that issue.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(list, 2));
        QCOMPARE(f->model->selectedNewsletterID(), issues.at(2).id);
        QCOMPARE(editor()->subjectField()->text(), issues.at(2).subject);

        // Context "Delete" on a partly sent issue asks first; Undo brings it back in place.
        const QList<Newsletter> before = issues;
        chooseFromContextMenu(list->viewport(), rowCentre(list, 1), u"Delete"_s);
        answer(true);
        QCOMPARE(f->model->library().newsletters.size(), 2);
        QCOMPARE(list->model()->rowCount(), 2);
        pressKey(list, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->model->library().newsletters, before);
        // The Delete key deletes a draft at once.
        f->model->setSelectedNewsletterID(before.at(2).id);
        pressKey(list, Qt::Key_Delete);
        QCOMPARE(f->model->library().newsletters, before.first(2));
    }

    void aSentIssueIsReadOnlyAndDraftFindings() {
        f->openWith(SampleData::library());
        const Newsletter sent = f->model->library().newsletters.first();
        QCOMPARE(sent.status, CampaignStatus::sent);
        QVERIFY(editor()->subjectField()->isReadOnly());
        QVERIFY(area()->isReadOnly());
        QVERIFY(!editor()->markdownEditor()->toolBar()->isVisible());
        QCOMPARE(editor()->sendToListButton()->text(), u"Sent"_s);
        QVERIFY(!editor()->sendToListButton()->isEnabled());
        QVERIFY(!editor()->sendToListButton()->toolTip().isEmpty());
        click(editor()->duplicateButton());
        const Newsletter copy = *f->model->selectedNewsletter();
        QVERIFY(copy.id != sent.id);
        QCOMPARE(copy.markdown, sent.markdown);
        QCOMPARE(copy.status, CampaignStatus::draft);
        QCOMPARE(copy.stats, CampaignStats{});
        QVERIFY(!area()->isReadOnly());
        QVERIFY(!editor()->duplicateButton()->isVisible());
        // The primary button, disabled a moment ago, is in the accent colour again.
        QPushButton* send = editor()->sendToListButton();
        QVERIFY(send->isEnabled());
        QCOMPARE(send->text(), u"Send to List"_s);
        const QColor accent = send->palette().color(QPalette::Active, QPalette::Highlight);
        const QColor shown = send->grab().toImage().pixelColor(4, send->height() / 2);
        QVERIFY2(qAbs(shown.hue() - accent.hue()) < 8 && shown.saturation() > 100,
                 qPrintable(shown.name() + u" vs "_s + accent.name()));

        // Blocking findings on a draft are counted and named.
        f->model->setSelectedNewsletterID(f->model->library().newsletters.last().id);
        QToolButton* fix = editor()->fixButton();
        // The sample profile is complete: nothing to fix.
        QVERIFY(!fix->isVisible());
        SenderProfile profile = f->model->library().profile;
        profile.postalAddress.clear();
        f->model->setProfile(profile);
        QCOMPARE(shownText(fix), u"1 to fix"_s);
        QVERIFY(fix->toolTip().contains(u"Add a physical postal address."_s));
        // Findings never disable "Send to List": the sheet restates them.
        QVERIFY(editor()->sendToListButton()->isEnabled());
        profile.fromEmail = u"sam-at-nowhere"_s;
        f->model->setProfile(profile);
        QCOMPARE(fix->text(), u"2 to fix"_s);
        click(fix);
        QTRY_VERIFY(editor()->findingsPopup() && editor()->findingsPopup()->isVisible());
        QVERIFY(textsOf(editor()->findingsPopup()->findChildren<QLabel*>(), &QLabel::text)
                    .join(u'|')
                    .contains(u"The From email address \"sam-at-nowhere\" is not valid."_s));
    }

    void emptyStateNewIssueAndItsFields() {
        f->open();
        EmptyState* empty = view()->emptyState();
        QVERIFY(empty->isVisible());
        QCOMPARE(child<QLabel>(empty, u"emptyTitle"_s)->text(), u"No issues yet"_s);
        QCOMPARE(child<QLabel>(empty, u"emptyDescription"_s)->text(),
                 u"Write in Markdown and see the email as readers will."_s);
        QTest::mouseClick(child<QPushButton>(empty, u"writeFirstIssue"_s), Qt::LeftButton);
        QCOMPARE(f->model->library().newsletters.size(), 1);
        QVERIFY(!empty->isVisible());
        QCOMPARE(editor()->subjectField()->text(), u"New issue"_s);

        f->model->setSelectedNewsletterID(std::nullopt);
        QVERIFY(view()->noSelection()->isVisible());
        QVERIFY(!editor()->isVisible());

        // A new issue from the toolbar: its fields reach the model.
        QTest::mouseClick(view()->newButton(), Qt::LeftButton);
        QLineEdit* subject = editor()->subjectField();
        pressKey(subject, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(subject, u"Issue 1: Hello"_s);
        QTest::keyClicks(editor()->previewTextField(), u"First words"_s);
        QComboBox* picker = editor()->templatePicker();
        QCOMPARE(columnTexts(picker->model()), (QStringList{"Plain", "Editorial", "Letter"}));
        pressKey(picker, Qt::Key_Down); // Editorial -> Letter
        const Newsletter stored = *f->model->selectedNewsletter();
        QCOMPARE(stored.subject, u"Issue 1: Hello"_s);
        QCOMPARE(stored.previewText, u"First words"_s);
        QCOMPARE(stored.emailTemplate, EmailTemplate::letter);
        // The list row follows the subject as it is typed.
        QCOMPARE(view()->list()->model()->index(0, 0).data().toString(), u"Issue 1: Hello"_s);

        // The toolbar's buttons and help, in the editor's fixed-pitch face.
        MarkdownEditor* markdown = editor()->markdownEditor();
        QCOMPARE(textsOf(markdown->toolBar()->actions(), &QAction::text),
                 (QStringList{"Heading", "Bold", "Italic", "Link", "Bulleted list", "Numbered list",
                              "Quote", "Image…", "Divider", "Reader's name"}));
        QCOMPARE(markdown->action(u"Reader's name"_s)->toolTip(),
                 u"Inserts {{name}}, replaced with each reader's first name (or \"there\")"_s);
        QVERIFY(QFontInfo(area()->font()).fixedPitch());

        // Send Test waits for something that looks like an address.
        QPushButton* sendTest = editor()->sendTestButton();
        QLineEdit* address = editor()->testAddressField();
        QCOMPARE(address->placeholderText(), u"Test address"_s);
        QVERIFY(!sendTest->isEnabled());
        type(address, u"reader"_s);
        QVERIFY(!sendTest->isEnabled());
        QTest::keyClicks(address, u"@"_s);
        QVERIFY(sendTest->isEnabled());
        QTest::keyClick(address, Qt::Key_Backspace);
        QVERIFY(!sendTest->isEnabled());

        // The model moves the stored issue on (as a running send does) ...
        Newsletter moving = *f->model->selectedNewsletter();
        moving.status = CampaignStatus::sending;
        moving.stats.sent = 40;
        moving.deliveredIDs = {QUuid::createUuid()};
        f->model->updateIssue(moving);
        // ... while the writer edits the subject in the editor's copy.
        type(editor()->subjectField(), u"!"_s);
        const Newsletter edited = *f->model->selectedNewsletter();
        QCOMPARE(edited.subject, u"Issue 1: Hello!"_s);
        QCOMPARE(edited.stats.sent, 40);
        QCOMPARE(edited.deliveredIDs, moving.deliveredIDs);
        QCOMPARE(edited.status, CampaignStatus::sending);
        // The messages of a running send are built already: the body is not editable.
        QVERIFY(area()->isReadOnly());
    }

    void toolbar_data() {
        QTest::addColumn<ToolbarCase>("c");
        const auto row = [](const char* name, const ToolbarCase& c) { QTest::newRow(name) << c; };
        row("bold, nothing selected", {"Hello", -1, -1, "Bold", "Hello**bold text**", 7, 16});
        row("bold, word selected", {"a word here", 2, 6, "Bold", "a **word** here", 4, 8});
        row("italic at the caret", {"ab", 1, 1, "Italic", "a*italic text*b", 2, 13});
        row("link around a selection", {"see docs", 4, 8, "Link", "see [docs](https://)", 5, 9});
        row("image, nothing selected",
            {"", -1, -1, "Image", "![describe the image](https://)", 2, 20});
        row("heading on the second line", {"a\nb", 3, 3, "Heading", "a\n## b", 5, 5});
        row("heading, nothing selected: last line", {"a\nb", -1, -1, "Heading", "a\n## b", 5, 5});
        row("bulleted list from mid-line", {"one\ntwo", 5, 6, "Bulleted list", "one\n- two", 6, 6});
        row("numbered list on the first line",
            {"one\ntwo", 2, 2, "Numbered list", "1. one\ntwo", 3, 3});
        row("quote a selection spanning lines", {"x\nyy\nz", 3, 6, "Quote", "x\n> yy\nz", 4, 4});
        row("divider at the end", {"Intro", -1, -1, "Divider", "Intro\n\n---\n\n", 12, 12});
        row("divider replaces a selection", {"a-b", 1, 2, "Divider", "a\n\n---\n\nb", 8, 8});
        row("reader's name at the caret", {"Hi ,", 3, 3, "Reader's name", "Hi {{name}},", 11, 11});
    }

    void toolbar() {
        QFETCH(ToolbarCase, c);
        if (!f->window) {
            f->open();
            f->model->newIssue();
        }
        typeAndReload(c.text);
        // "Image…" without a chosen file keeps the plain image Markdown.
        editor()->markdownEditor()->setImageChooser([] { return QString(); });
        QCOMPARE(editor()->markdownEditor()->selection(), std::nullopt);
        if (c.start >= 0) {
            selectByKeyboard(c.start, c.end);
        }
        press(c.action);
        QCOMPARE(area()->toPlainText(), c.expected);
        QCOMPARE(f->model->selectedNewsletter()->markdown, c.expected);
        const QTextCursor cursor = area()->textCursor();
        QCOMPARE(cursor.selectionStart(), c.selectionStart);
        QCOMPARE(cursor.selectionEnd(), c.selectionEnd);
        // One undo takes the whole action back.
        QTest::keyClick(area(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(area()->toPlainText(), c.text);
    }

    // Dropped, pasted and chosen pictures become files of the library's media folder and
    // images of the issue, shown in the preview from this computer.
    void picturesBecomeImagesOfTheIssue() {
        f->openWith(SampleData::library());
        f->model->setSelectedNewsletterID(SampleData::sampleID(103)); // a draft takes pictures
        QTemporaryDir dir;
        const QString photo = dir.filePath(u"Harbour at dawn.png"_s);
        QImage magenta(2000, 1000, QImage::Format_RGB32);
        magenta.fill(QColor(255, 0, 255));
        QVERIFY(magenta.save(photo));
        const QDir media(f->model->mediaFolder());

        // At the top, where the preview shows it without scrolling.
        pressKey(area(), Qt::Key_Home, Qt::ControlModifier);
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Return, Qt::Key_Up, Qt::Key_Up}) {
            QTest::keyClick(area(), key);
        }
        QVERIFY(dragFile(area()->viewport(), photo, area()->cursorRect().center()));
        QCOMPARE(media.entryList(QDir::Files).size(), 1);
        const QString name = media.entryList(QDir::Files).first();
        QVERIFY(name.endsWith(u".jpg"_s));
        QCOMPARE(QImage(media.filePath(name)).width(), 1600);
        const QString line = u"![Harbour at dawn](media/%1)"_s.arg(name);
        QVERIFY(f->model->selectedNewsletter()->markdown.startsWith(line + u"\n\n"_s));

        // The preview shows the picture from the media folder.
        HTMLPreview* preview = editor()->preview();
        QTRY_VERIFY(preview->last().contains(QUrl::fromLocalFile(media.filePath(name)).toString()));
        const auto isMagenta = [](QColor c, QColor) {
            return c.red() > 240 && c.green() < 20 && c.blue() > 240;
        };
        QTRY_VERIFY_WITH_TIMEOUT(previewShows(preview, isMagenta), 15000);

        // A picture on the clipboard, pasted; the same file chosen with "Image…" again.
        QImage clear(64, 64, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QApplication::clipboard()->setImage(clear);
        QTest::keyClick(area(), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(media.entryList(QDir::Files).size(), 2);
        QVERIFY(area()->toPlainText().startsWith(line + u"![describe the image](media/"_s +
                                                 media.entryList({u"*.png"_s}).value(0) +
                                                 u")\n"_s));
        editor()->markdownEditor()->setImageChooser([&] { return photo; });
        press(u"Image"_s);
        QCOMPARE(area()->toPlainText().count(line), 2);
        QCOMPARE(media.entryList(QDir::Files).size(), 2);
    }

    void previewFollowsTheIssue() {
        f->openWith(SampleData::library());
        HTMLPreview* preview = editor()->preview();
        QTRY_VERIFY(preview->loadCount() >= 1);
        // A draft: the sent issue's text is read-only.
        f->model->setSelectedNewsletterID(SampleData::sampleID(103));
        QVERIFY(!preview->view()->page()->settings()->testAttribute(
            QWebEngineSettings::JavascriptEnabled));
        QTRY_VERIFY(preview->loadCount() >= 1);
        // The email as the sample reader gets it: merge tags are filled in.
        QVERIFY(preview->last().contains(u"Some software feels like a quiet room"_s));
        QVERIFY(!preview->last().contains(u"{{name}}"_s));
        QTRY_VERIFY_WITH_TIMEOUT(previewShows(preview, std::not_equal_to<QColor>()), 10000);

        // Typing that changes nothing in the email leaves the page alone ...
        const int loads = preview->loadCount();
        pressKey(area(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(area(), Qt::Key_Space);
        QTest::qWait(500);
        QCOMPARE(preview->loadCount(), loads);
        // ... a new word reloads it once.
        QSignalSpy wordLoaded(preview, &HTMLPreview::loadFinished);
        QTest::keyClicks(area(), u"Zebra"_s);
        QTRY_COMPARE(preview->loadCount(), loads + 1);
        QVERIFY(preview->last().contains(u"Zebra"_s));
        // Finished before the next load starts, so the spy below sees the template's page.
        QTRY_VERIFY(!wordLoaded.isEmpty());
        // So does another template.
        QSignalSpy loaded(preview, &HTMLPreview::loadFinished);
        QComboBox* picker = editor()->templatePicker();
        pressKey(picker, Qt::Key_Up);
        QTRY_COMPARE(preview->loadCount(), loads + 2);
        QTRY_VERIFY(!loaded.isEmpty());

        // The writer watching the end of the email keeps seeing it as they type. Positions are
        // read from the page: the view's own report can stay at the top after a load.
        QWebEnginePage* page = preview->view()->page();
        const auto scrolledTo = [page](const QString& script) {
            auto y = std::make_shared<qreal>(-1);
            page->runJavaScript(script + u"; window.scrollY"_s, QWebEngineScript::ApplicationWorld,
                                [y](const QVariant& v) { *y = v.toReal(); });
            return QTest::qWaitFor([y] { return *y >= 0; }, 30000) ? *y : -1;
        };
        const qreal end = scrolledTo(u"window.scrollTo(0, 100000)"_s);
        QVERIFY(end > 100);
        type(area(), u" Yak"_s);
        // Generous: under a loaded CI the reload and the restored scroll took over 5 s.
        QTRY_COMPARE_WITH_TIMEOUT(preview->loadCount(), loads + 3, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(scrolledTo({}) >= end, 30000);
    }

    // The page answers a pending question as it is destroyed; that answer must not load a page
    // into the closing preview (it crashed when a window closed during a reload).
    void closedWhileAskingWhereTheWriterReads() {
        auto* preview = new HTMLPreview;
        QSignalSpy loaded(preview, &HTMLPreview::loadFinished);
        preview->setHTML(u"<p>One</p>"_s);
        QTRY_VERIFY(!loaded.isEmpty());
        preview->setHTML(u"<p>Two</p>"_s);
        delete preview;
    }
};

QUILLMERE_UI_TEST_MAIN(TestIssueEditor)
#include "tst_issue_editor.moc"
