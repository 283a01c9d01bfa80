// Spelling and highlighting in the real editor, with Enchant and the installed en_US Hunspell
// dictionary: what is flagged, what never is, and the misspelt word's menu.
#include "ui_fixture.h"

class TestEditorSpelling : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    MarkdownTextArea* area() const {
        auto* view = qobject_cast<NewslettersView*>(f->window->screen(AppSection::newsletters));
        return static_cast<MarkdownTextArea*>(view->editor()->markdownEditor()->textArea());
    }
    // Every word the highlighter underlined, in document order.
    QStringList flagged() const {
        QStringList words;
        for (QTextBlock b = area()->document()->begin(); b.isValid(); b = b.next()) {
            for (const QTextLayout::FormatRange& r : b.layout()->formats()) {
                if (r.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline) {
                    words.append(b.text().mid(r.start, r.length));
                }
            }
        }
        return words;
    }
    QPoint pointOf(const QString& word) const {
        QTextCursor c(area()->document());
        c.setPosition(int(area()->toPlainText().indexOf(word)) + 1);
        return area()->cursorRect(c).center();
    }

private Q_SLOTS:
    void init() {
        f = std::make_unique<UIFixture>();
        f->onboarded();
        f->open();
        f->model->newIssue();
        QCOMPARE(SpellChecker::shared().language(), u"en_US"_qs);
    }
    void cleanup() { f.reset(); }

    void neverFlagged_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("prose") << u"Teh quick fox"_qs << QStringList{"Teh", "quick", "fox"};
        QTest::newRow("code span") << u"run `xqzt --flg` now"_qs << QStringList{"run", "now"};
        QTest::newRow("link destination") << u"[the dokumentation](https://exampel.com/pth)"_qs
                                          << QStringList{"the", "dokumentation"};
        QTest::newRow("image destination")
            << u"![a sunsett](media/0123456789abcdef.jpg)"_qs << QStringList{"sunsett"};
        QTest::newRow("merge tag") << u"Hi {{naem}}, hi {{ name }}"_qs << QStringList{"Hi", "hi"};
        QTest::newRow("addresses") << u"mail adda@exmple.com or www.exampel.org or "
                                      "https://qwz.example/abcx <https://zzq.example>"_qs
                                   << QStringList{"mail", "or", "or"};
        QTest::newRow("numbers") << u"3rd 10x 4K"_qs << QStringList{};
    }
    void neverFlagged() {
        QFETCH(QString, line);
        QFETCH(QStringList, words);
        QCOMPARE(textsOf(MarkdownHighlighter::checkedWords(line),
                         [&](const auto& s) { return line.mid(s.start, s.length); }),
                 words);
    }

    void misspeltWordsAreUnderlined() {
        retype(area(),
               u"# A headng\n\nSome *emphasiss* and **strongg** text.\n\n```\nconst wrng = 1;\n```"
               "\n\n    indnted code\n\n- a lisst item\n\n  contnued\n\n> a quoot"_qs);
        QCOMPARE(flagged(),
                 (QStringList{"headng", "emphasiss", "strongg", "lisst", "contnued", "quoot"}));
    }

    void menuOffersSuggestionsAddAndIgnore() {
        // A new word on every run: the personal list outlives the test.
        QString coined = u"Zorblaxq"_qs;
        for (int i = 0; i < 6; ++i) {
            coined += QChar(u'a' + QRandomGenerator::global()->bounded(26));
        }
        retype(area(), u"I recieve the letter and the wrod "_qs + coined);
        QCOMPARE(flagged(), (QStringList{"recieve", "wrod", coined}));

        std::unique_ptr<QMenu> menu(area()->contextMenuAt(pointOf(u"recieve"_qs)));
        // Suggestions lead the menu, then the two choices, then the standard items.
        const QStringList texts = textsOf(menu->actions(), &QAction::text);
        const qsizetype the = texts.indexOf(u"receive"_qs);
        QVERIFY2(the >= 0 && the < 6, qPrintable(texts.join(u", "_qs)));
        const qsizetype add = texts.indexOf(u"Add to Dictionary"_qs);
        QVERIFY(add > 0 && texts.value(add + 1) == u"Ignore"_qs);
        QVERIFY(texts.size() > add + 4); // the standard items follow
        menu->actions().at(the)->trigger();
        QCOMPARE(area()->toPlainText(), u"I receive the letter and the wrod "_qs + coined);
        QCOMPARE(f->model->selectedNewsletter()->markdown, area()->toPlainText());

        const auto choose = [&](const QString& word, const QString& item) {
            std::unique_ptr<QMenu> m(area()->contextMenuAt(pointOf(word)));
            QAction* action = actionOf(m.get(), item);
            QVERIFY2(action, qPrintable(item));
            action->trigger();
        };
        choose(coined, u"Add to Dictionary"_qs);
        choose(u"wrod"_qs, u"Ignore"_qs);
        QCOMPARE(flagged(), QStringList());
        // Added words are kept in the data folder, ignored ones are not.
        QFile words(QFileInfo(LibraryStore::defaultPath()).absolutePath() + u"/words.txt"_qs);
        QVERIFY(words.open(QIODevice::ReadOnly));
        const QStringList kept = QString::fromUtf8(words.readAll()).split(u'\n');
        QVERIFY(kept.contains(coined) && !kept.contains(u"wrod"_qs));
    }

    void languageFromSettings() {
        QCOMPARE(SpellChecker::bestMatch(u"en_GB"_qs, {u"de_DE"_qs, u"en_US"_qs}), u"en_US"_qs);
        QCOMPARE(SpellChecker::bestMatch(u"de-AT"_qs, {u"de_DE"_qs, u"en_US"_qs}), u"de_DE"_qs);
        QCOMPARE(SpellChecker::bestMatch(u"fr_FR"_qs, {u"de_DE"_qs}), QString());

        retype(area(), u"Teh end"_qs);
        f->window->showSettings();
        auto* picker =
            child<SpellingLanguagePicker>(f->window->settingsWindow(), u"spellingLanguage"_qs);
        QVERIFY(picker->findData(u"en_US"_qs) >= 0);
        QCOMPARE(picker->currentData().toString(), u"en_US"_qs);
        // A language without a dictionary checks nothing; the choice is remembered.
        SpellChecker::shared().setLanguage(u"xx_XX"_qs);
        QCOMPARE(flagged(), QStringList());
        SpellChecker::shared().setLanguage(u"en_US"_qs);
        QCOMPARE(flagged(), QStringList{u"Teh"_qs});
    }
};

QUILLMERE_UI_TEST_MAIN(TestEditorSpelling)
#include "tst_editor_spelling.moc"
