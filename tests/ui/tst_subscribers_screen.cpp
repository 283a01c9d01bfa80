#include "ui_fixture.h"

class TestSubscribersScreen : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    SubscribersView* view() const { return f->screen<SubscribersView>(AppSection::subscribers); }
    QTableView* table() const { return view()->table(); }

    SubscribersView* openSample(MainWindowOptions options = {}) {
        f->openWith(SampleData::library(), {u"-section"_s, u"subscribers"_s}, std::move(options));
        return view();
    }

    // A column's texts, in the order shown.
    QStringList shown(int column = SubscriberTableModel::EmailColumn) const {
        return columnTexts(table()->model(), column);
    }

    void clickChip(std::optional<SubscriberStatus> status) {
        QTest::mouseClick(view()->chip(status), Qt::LeftButton);
    }

    void typeSearch(const QString& text) {
        QLineEdit* search = view()->searchField();
        pressKey(search, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(search, Qt::Key_Backspace);
        QTest::keyClicks(search, text);
    }

    void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(table()->viewport(), Qt::LeftButton, modifiers, rowCentre(table(), row));
    }

    void chooseForRow(int row, const QString& item) {
        chooseFromContextMenu(table()->viewport(), rowCentre(table(), row), item);
    }

    // Clicks the header of the Email column.
    void clickEmailHeader() {
        QHeaderView* header = table()->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(0) + 20, header->height() / 2));
    }

private Q_SLOTS:
    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    // File → Export Subscribers… writes what the screen shows, in the order shown.
    void exportWritesTheShownReaders() {
        QTemporaryDir dir;
        QStringList titles;
        openSample({.chooseSaveFile = [&](const QString& title, const QString&) {
            titles.append(title);
            return dir.filePath(u"readers.csv"_s);
        }});
        const auto exported = [&] {
            f->window->command(u"Export Subscribers…"_s)->trigger();
            QFile file(dir.filePath(u"readers.csv"_s));
            file.open(QIODevice::ReadOnly);
            const QStringList lines =
                QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
            return textsOf(lines.mid(1),
                           [](const QString& line) { return line.section(u',', 0, 0); });
        };
        const qsizetype all = f->model->library().subscribers.size();
        QCOMPARE(exported(), shown());
        QCOMPARE(exported().size(), all);
        clickChip(SubscriberStatus::active);
        typeSearch(u"a"_s);
        QCOMPARE(exported(), shown());
        QVERIFY(shown().size() < all);
        QCOMPARE(titles.last(), u"Export %1 of %2 Subscribers"_s.arg(shown().size()).arg(all));
        QCOMPARE(*f->model->statusMessage(), u"Exported %1 subscribers to %2."_s.arg(shown().size())
                                                 .arg(dir.filePath(u"readers.csv"_s)));
    }

    void chipsFilterAndSorting() {
        SubscribersView* screen = openSample();
        QStringList titles{screen->chip(std::nullopt)->title()};
        QList<qint64> counts{screen->chip(std::nullopt)->count()};
        for (SubscriberStatus status : allCases<SubscriberStatus>()) {
            titles << screen->chip(status)->title();
            counts << screen->chip(status)->count();
        }
        QCOMPARE(titles, (QStringList{"All", "Pending", "Active", "Unsubscribed", "Bounced",
                                      "Complained"}));
        QCOMPARE(counts, (QList<qint64>{25, 3, 16, 3, 2, 1}));
        QVERIFY(screen->chip(std::nullopt)->isSelected());
        QCOMPARE(table()->model()->rowCount(), 25);

        clickChip(SubscriberStatus::pending);
        QCOMPARE(screen->filter(), SubscriberStatus::pending);
        QVERIFY(screen->chip(SubscriberStatus::pending)->isSelected());
        QVERIFY(!screen->chip(std::nullopt)->isSelected());
        QCOMPARE(table()->model()->rowCount(), 3);
        clickChip(SubscriberStatus::pending); // pressing a selected chip keeps it
        QCOMPARE(screen->filter(), SubscriberStatus::pending);
        clickChip(std::nullopt);
        QCOMPARE(screen->filter(), std::nullopt);
        QCOMPARE(table()->model()->rowCount(), 25);

        QHeaderView* header = table()->horizontalHeader();
        // Newest first by default.
        QCOMPARE(header->sortIndicatorSection(), int(SubscriberTableModel::JoinedColumn));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(shown().first(), u" daniel.kim@outlook.com "_s.trimmed());
        // Clicking "Email" sorts by address, ignoring case.
        clickEmailHeader();
        const QStringList emails = shown();
        QStringList sorted = emails;
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(sorted.begin(), sorted.end(), collator);
        if (header->sortIndicatorOrder() == Qt::DescendingOrder) {
            std::reverse(sorted.begin(), sorted.end());
        }
        QCOMPARE(emails, sorted);
        QCOMPARE(header->sortIndicatorSection(), 0);
    }

    void searchWithinAFilter() {
        SubscribersView* screen = openSample();
        // A chosen reader stays chosen while the search changes.
        typeSearch(u"yahoo"_s);
        clickRow(0);
        const QSet<QUuid> chosen = screen->selection();
        QCOMPARE(chosen.size(), 1);
        typeSearch(u"o"_s);
        QCOMPARE(screen->selection(), chosen);
        // A search for part of a name finds readers whose address does not contain it.
        typeSearch(u"Walter"_s);
        QCOMPARE(shown(), QStringList{"wpruitt@compuserve.com"});
        // Case and accents are ignored: "martin" finds "Rosa Martín".
        typeSearch(u"MARTIN"_s);
        QCOMPARE(shown(), QStringList{"rosa.martin@gmail.com"});
        typeSearch(u"gmail"_s);
        const int allGmail = table()->model()->rowCount();
        QVERIFY(allGmail > 3);
        clickChip(SubscriberStatus::active);
        QCOMPARE(shown(SubscriberTableModel::StatusColumn),
                 QStringList(shown().size(), u"Active"_s));
        QCOMPARE(shown().filter(u"gmail"_s), shown());
        const int activeGmail = table()->model()->rowCount();
        QVERIFY(activeGmail < allGmail);
        // "All" clears the filter and keeps the search.
        clickChip(std::nullopt);
        QCOMPARE(view()->searchField()->text(), u"gmail"_s);
        QCOMPARE(table()->model()->rowCount(), allGmail);
        // A search that narrows keystroke by keystroke gives the same rows as typed at once.
        typeSearch(u"gmail.c"_s);
        const QStringList narrowed = shown();
        view()->searchField()->clear();
        view()->searchField()->setText(u"gmail.c"_s);
        QCOMPARE(shown(), narrowed);
        // A search that finds nobody says so, and "Show all" brings everyone back.
        typeSearch(u"nobody-by-this-name"_s);
        QVERIFY(view()->noMatchState()->isVisible());
        QCOMPARE(child<QLabel>(view()->noMatchState(), u"emptyTitle"_s)->text(),
                 u"No readers match"_s);
        click(child<QPushButton>(view()->noMatchState(), u"showAll"_s));
        QVERIFY(table()->isVisible());
        QCOMPARE(table()->model()->rowCount(), 25);
    }

    void markingSeveralRowsAtOnce() {
        SubscribersView* screen = openSample();
        clickChip(SubscriberStatus::pending);
        QCOMPARE(table()->model()->rowCount(), 3);
        clickRow(0);
        clickRow(2, Qt::ControlModifier);
        QCOMPARE(screen->selection().size(), 2);
        const QSet<QUuid> chosen = screen->selection();

        chooseForRow(2, u"Mark Active"_s);
        for (const Subscriber& s : f->model->library().subscribers) {
            if (chosen.contains(s.id)) {
                QCOMPARE(s.status, SubscriberStatus::active);
            }
        }
        QCOMPARE(screen->chip(SubscriberStatus::pending)->count(), 1);
        QCOMPARE(screen->chip(SubscriberStatus::active)->count(), 18);
        QCOMPARE(table()->model()->rowCount(), 1); // they left the "Pending" filter

        // Remove works on a shift-extended selection, asks first, and can be undone.
        clickChip(SubscriberStatus::active);
        clickRow(0);
        clickRow(3, Qt::ShiftModifier);
        QCOMPARE(screen->selection().size(), 4);
        const QList<Subscriber> before = f->model->library().subscribers;
        for (bool confirm : {false, true}) {
            chooseForRow(1, u"Remove"_s);
            answer(confirm);
        }
        QCOMPARE(f->model->library().subscribers.size(), 21);
        QCOMPARE(screen->chip(std::nullopt)->count(), 21);
        QCOMPARE(screen->chip(SubscriberStatus::active)->count(), 14);
        QCOMPARE(table()->model()->rowCount(), 14);
        // Nobody else slides into the selection the removed readers left.
        QVERIFY(screen->selection().isEmpty());
        QVERIFY(table()->selectionModel()->selectedRows().isEmpty());
        pressKey(table(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(f->model->library().subscribers, before);
        QTest::keyClick(table(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f->model->library().subscribers.size(), 21);
    }

    void selectionFollowsTheReaders() {
        SubscribersView* screen = openSample();
        clickRow(1);
        clickRow(4, Qt::ControlModifier);
        const QSet<QUuid> chosen = screen->selection();
        QCOMPARE(chosen.size(), 2);
        // A reader added above, a resort and a single removal by the Delete key leave the
        // writer's choice on the same people.
        f->model->addSubscriber(u"new@example.com"_s, QString());
        QCOMPARE(screen->selection(), chosen);
        clickEmailHeader();
        QCOMPARE(screen->selection(), chosen);
        clickRow(0);
        const QSet<QUuid> one = screen->selection();
        pressKey(table(), Qt::Key_Delete);
        QCOMPARE(f->model->library().subscribers.size(), 25);
        QVERIFY(!f->everyone().intersects(one));
        QVERIFY(screen->selection().isEmpty());
        // "Mark Unsubscribed" on one chosen reader changes that reader only.
        clickRow(3);
        const QUuid marked = *screen->selection().cbegin();
        const QList<Subscriber> before = f->model->library().subscribers;
        chooseForRow(3, u"Mark Unsubscribed"_s);
        QCOMPARE(screen->selection(), QSet<QUuid>{marked});
        for (qsizetype i = 0; i < before.size(); ++i) {
            const Subscriber& now = f->model->library().subscribers.at(i);
            QCOMPARE(now.status,
                     now.id == marked ? SubscriberStatus::unsubscribed : before.at(i).status);
        }
    }

    void leavingTheDemoWithARowSelected() {
        f->open({u"-demo"_s, u"-section"_s, u"subscribers"_s});
        clickRow(0);
        QCOMPARE(view()->selection().size(), 1);
        click(child<QPushButton>(f->window->sidebar(), u"cardAction"_s));
        QTRY_VERIFY(!f->model->isDemo() && f->model->library().subscribers.isEmpty());
        QVERIFY(view()->selection().isEmpty());
    }

    void addSheet_data() {
        QTest::addColumn<bool>("doubleOptIn");
        QTest::addColumn<QString>("note");
        QTest::newRow("double opt-in on")
            << true
            << "Added as pending. They become active after confirming via the double opt-in email.";
        QTest::newRow("double opt-in off")
            << false
            << "Double opt-in is off, so this address is added as active. Only add people who "
               "asked to subscribe.";
    }

    void addSheet() {
        QFETCH(bool, doubleOptIn);
        QFETCH(QString, note);
        f->openWith({.profile = {.doubleOptIn = doubleOptIn}}, {u"-section"_s, u"subscribers"_s});

        // The empty state offers both ways in.
        EmptyState* empty = view()->emptyState();
        QVERIFY(empty->isVisible());
        QCOMPARE(child<QLabel>(empty, u"emptyTitle"_s)->text(), u"No readers yet"_s);
        QCOMPARE(child<QPushButton>(empty, u"emptyImport"_s)->text(), u"Import CSV"_s);
        QTest::mouseClick(child<QPushButton>(empty, u"emptyAdd"_s), Qt::LeftButton);
        AddSubscriberSheet* sheet = view()->addSheet();
        QTRY_VERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->note()->text(), note);

        QTest::keyClicks(sheet->emailField(), u"  Ada.Whitfield"_s);
        QVERIFY(!sheet->addButton()->isEnabled());
        QTest::keyClick(sheet->emailField(), Qt::Key_Return); // nothing happens yet
        QVERIFY(f->model->library().subscribers.isEmpty());
        QTest::keyClicks(sheet->emailField(), u"@Example.COM "_s);
        QVERIFY(sheet->addButton()->isEnabled());
        QTest::keyClicks(sheet->nameField(), u"Ada Whitfield"_s);
        QTest::mouseClick(sheet->addButton(), Qt::LeftButton);

        QCOMPARE(f->model->library().subscribers.size(), 1);
        const Subscriber added = f->model->library().subscribers.first();
        QCOMPARE(added.email, u"ada.whitfield@example.com"_s);
        QCOMPARE(added.name, u"Ada Whitfield"_s);
        QTRY_VERIFY(!view()->addSheet());
        QVERIFY(!empty->isVisible());
        QCOMPARE(table()->model()->rowCount(), 1);

        // The toolbar's "Add" opens the sheet too; "Cancel" closes it without adding.
        QTest::mouseClick(view()->toolBar()->widgetForAction(view()->addAction()), Qt::LeftButton);
        QTRY_VERIFY(view()->addSheet() && view()->addSheet()->isVisible());
        QTest::keyClicks(view()->addSheet()->emailField(), u"b@example.com"_s);
        QTest::mouseClick(view()->addSheet()->cancelButton(), Qt::LeftButton);
        QTRY_VERIFY(!view()->addSheet());
        QCOMPARE(f->model->library().subscribers.size(), 1);
        // Without a worker there is nothing to sync with.
        QTest::mouseClick(view()->toolBar()->widgetForAction(view()->syncAction()), Qt::LeftButton);
        QTRY_COMPARE(f->model->statusMessage(), std::optional(u"Deploy the worker first."_s));
    }

    void importFromTheToolbarAndByDrop() {
        SubscribersView* screen = openSample();
        const QString csv =
            f->writeFile(u"mailchimp-export.csv"_s, "Email Address,First Name,Last Name\n"
                                                    "nell@example.com,Nell,Hart\n"
                                                    "ada.whitfield@gmail.com,Ada,Whitfield\n");
        // "Import CSV" opens the file chooser; the chosen file goes to the model's import.
        QTest::mouseClick(screen->toolBar()->widgetForAction(screen->importAction()),
                          Qt::LeftButton);
        QTRY_VERIFY(screen->fileChooser() && screen->fileChooser()->isVisible());
        QFileDialog* chooser = screen->fileChooser();
        // The chooser is the toolkit's own dialog: choosing in it is not what is tested here.
        chooser->selectFile(csv);
        static_cast<QDialog*>(chooser)->accept();
        QTRY_VERIFY(f->model->statusMessage().has_value());
        QVERIFY2(f->model->library().subscribers.size() == 26,
                 qPrintable(*f->model->statusMessage()));
        QCOMPARE(screen->chip(std::nullopt)->count(), 26);

        // A CSV file dropped on the window is imported the same way.
        const QString dropped = f->writeFile(u"more.csv"_s, "email\nzed@example.com\n\"broken,\n");
        f->model->setSelection(AppSection::stats);
        const QPoint at(400, 300);
        QVERIFY(dragFile(f->window.get(), dropped, at));
        QTRY_COMPARE(f->model->library().subscribers.size(), 27);
        QCOMPARE(f->model->selection(), AppSection::subscribers);
        // The row it could not read is listed with its line and reason, and saved on request.
        auto* panel = screen->findChild<ImportPanel*>();
        QTRY_VERIFY(panel->skippedList()->isVisible());
        const QString reason = u"Quote opened on line 3 is never closed"_s;
        QCOMPARE(panel->skippedList()->topLevelItem(0)->text(1), reason);
        const QString skipped = f->dir.filePath(u"skipped.csv"_s);
        QVERIFY(panel->saveSkippedRows(skipped));
        QFile saved(skipped);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), "line,reason\r\n3,\"" + reason.toUtf8() + "\"\r\n");

        // Anything but one list file is refused.
        QVERIFY(!dragFile(f->window.get(), f->dir.filePath(u"photo.png"_s), at));
    }
};

QUILLMERE_UI_TEST_MAIN(TestSubscribersScreen)
#include "tst_subscribers_screen.moc"
