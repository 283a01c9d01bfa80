#include "ui/subscribers/subscribers_view.h"

#include "app/app_model.h"
#include "ui/edit_history.h"
#include "ui/subscribers/add_subscriber_sheet.h"
#include "ui/subscribers/filter_chip.h"
#include "ui/subscribers/import_panel.h"
#include "ui/subscribers/subscriber_table_model.h"
#include "ui/widgets/confirmation.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/empty_state.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QAction>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

namespace quillmere {

SubscribersView::SubscribersView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_source(new SubscriberTableModel(model, this))
    , m_rows(new SubscriberProxyModel(m_source, this))
    , m_toolBar(new QToolBar(this))
    , m_search(new QLineEdit(this))
    , m_pages(new QStackedWidget(this))
    , m_table(new QTableView(this))
    , m_empty(new EmptyState(
          QStringLiteral("person.2"), tr("No readers yet"),
          tr("Import a CSV from Substack, Beehiiv or Mailchimp, or share your signup form."), this))
    , m_noMatch(new EmptyState(QStringLiteral("person.2"), tr("No readers match"),
                               tr("No reader's address or name matches this search and filter."),
                               this))
    , m_remove(new QAction(tr("Remove"), this)) {
    auto* title = new QLabel(tr("Subscribers"), this);
    title->setObjectName(QStringLiteral("subscribersTitle"));
    title->setFont(Style::title(title, 1.3));

    m_toolBar->setObjectName(QStringLiteral("subscribersToolbar"));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toolBar->setIconSize(QSize(18, 18));
    m_add = m_toolBar->addAction(Icons::symbol(QStringLiteral("person.badge.plus")), tr("Add"));
    m_import = m_toolBar->addAction(Icons::symbol(QStringLiteral("square.and.arrow.down")),
                                    tr("Import CSV"));
    m_sync = m_toolBar->addAction(Icons::symbol(QStringLiteral("arrow.triangle.2.circlepath")),
                                  tr("Sync"));
    m_add->setObjectName(QStringLiteral("addSubscriber"));
    m_import->setObjectName(QStringLiteral("importCSV"));
    m_sync->setObjectName(QStringLiteral("sync"));
    connect(m_add, &QAction::triggered, this, &SubscribersView::openAddSheet);
    connect(m_import, &QAction::triggered, this, &SubscribersView::openFileChooser);
    connect(m_sync, &QAction::triggered, this, [this] { m_model.syncSubscribers(); });
    const auto refreshSync = [this] { DemoGuard::enable(m_sync, m_model, !m_model.isBusy()); };
    connect(&m_model, &AppModel::isBusyChanged, this, refreshSync);
    connect(&m_model, &AppModel::isDemoChanged, this, refreshSync);
    refreshSync();

    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(tr("Search subscribers"));
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumWidth(220);
    connect(m_search, &QLineEdit::textChanged, m_rows, &SubscriberProxyModel::setSearch);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 10, 12, 4);
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(m_search);
    header->addWidget(m_toolBar);

    auto* chips = new QHBoxLayout;
    chips->setContentsMargins(16, 4, 16, 8);
    chips->setSpacing(8);
    const auto addChip = [&](const QString& title, std::optional<SubscriberStatus> status) {
        auto* chip = new FilterChip(title, this);
        chip->setObjectName(QStringLiteral("chip-") +
                            (status ? rawValue(*status) : QStringLiteral("all")));
        connect(chip, &FilterChip::clicked, this, [this, status] { setFilter(status); });
        chips->addWidget(chip);
        m_chips.append(chip);
    };
    addChip(tr("All"), std::nullopt);
    for (SubscriberStatus status : allCases<SubscriberStatus>()) {
        addChip(Style::name(status), status);
    }
    chips->addStretch(1);

    m_table->setObjectName(QStringLiteral("subscriberTable"));
    m_table->setModel(m_rows);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 10);
    QHeaderView* columns = m_table->horizontalHeader();
    columns->setHighlightSections(false);
    columns->setSectionResizeMode(SubscriberTableModel::EmailColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(SubscriberTableModel::NameColumn, QHeaderView::Stretch);
    for (auto [column, width] : {std::pair{SubscriberTableModel::StatusColumn, 110},
                                 std::pair{SubscriberTableModel::SourceColumn, 120},
                                 std::pair{SubscriberTableModel::JoinedColumn, 110}}) {
        columns->setSectionResizeMode(column, QHeaderView::Fixed);
        columns->resizeSection(column, width);
    }
    // The indicator first: enabling sorting sorts by whatever the header shows.
    columns->setSortIndicator(m_rows->sortColumn(), m_rows->sortOrder());
    m_table->setSortingEnabled(true);
    connect(m_table, &QTableView::customContextMenuRequested, this,
            &SubscribersView::showContextMenu);
    // The selection is a set of readers: it survives filtering, searching and sorting for the
    // readers still shown.
    connect(m_rows, &QAbstractItemModel::modelAboutToBeReset, this,
            &SubscribersView::rememberSelection);
    connect(m_rows, &QAbstractItemModel::modelReset, this, &SubscribersView::restoreSelection);
    connect(m_rows, &QAbstractItemModel::modelReset, this, &SubscribersView::refreshEmpty);

    auto* importButton = m_empty->addButton(tr("Import CSV"), true);
    importButton->setObjectName(QStringLiteral("emptyImport"));
    auto* addButton = m_empty->addButton(tr("Add someone"));
    addButton->setObjectName(QStringLiteral("emptyAdd"));
    connect(importButton, &QPushButton::clicked, this, &SubscribersView::openFileChooser);
    connect(addButton, &QPushButton::clicked, this, &SubscribersView::openAddSheet);

    m_noMatch->setObjectName(QStringLiteral("noMatch"));
    auto* showAll = m_noMatch->addButton(tr("Show All Readers"));
    showAll->setObjectName(QStringLiteral("showAll"));
    connect(showAll, &QPushButton::clicked, this, [this] {
        m_search->clear();
        setFilter(std::nullopt);
    });

    // Delete and Backspace remove the selected readers while the table has the focus.
    m_remove->setObjectName(QStringLiteral("removeReaders"));
    m_remove->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    m_remove->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_remove, &QAction::triggered, this, &SubscribersView::removeSelection);
    m_table->addAction(m_remove);

    m_pages->addWidget(m_table);
    m_pages->addWidget(m_empty);
    m_pages->addWidget(m_noMatch);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addLayout(chips);
    layout->addWidget(new ImportPanel(m_model, this));
    layout->addWidget(m_pages, 1);

    connect(&m_model, &AppModel::subscribersChanged, this, &SubscribersView::refreshCounts);
    refreshCounts();
    refreshEmpty();
}

FilterChip* SubscribersView::chip(std::optional<SubscriberStatus> status) const {
    return m_chips.at(status ? int(*status) + 1 : 0);
}

std::optional<SubscriberStatus> SubscribersView::filter() const {
    return m_rows->filter();
}

void SubscribersView::setFilter(std::optional<SubscriberStatus> filter) {
    m_rows->setFilter(filter);
    for (int i = 0; i < m_chips.size(); ++i) {
        m_chips[i]->setSelected(filter ? i == int(*filter) + 1 : i == 0);
    }
}

void SubscribersView::refreshCounts() {
    std::array<qint64, 5> counts{};
    const QList<Subscriber>& all = m_model.library().subscribers;
    for (const Subscriber& s : all) {
        ++counts[int(s.status)];
    }
    m_chips[0]->setCount(all.size());
    for (int i = 0; i < int(counts.size()); ++i) {
        m_chips[i + 1]->setCount(counts[i]);
    }
    setFilter(filter());
}

void SubscribersView::refreshEmpty() {
    QWidget* page = m_table;
    if (m_rows->rowCount() == 0) {
        page = m_model.library().subscribers.isEmpty() ? m_empty : m_noMatch;
    }
    m_pages->setCurrentWidget(page);
}

QSet<QUuid> SubscribersView::selection() const {
    QSet<QUuid> ids;
    const QItemSelection selected = m_table->selectionModel()->selection();
    for (const QItemSelectionRange& range : selected) {
        for (int row = range.top(); row <= range.bottom(); ++row) {
            ids.insert(m_rows->id(row));
        }
    }
    return ids;
}

void SubscribersView::rememberSelection() {
    m_keptSelection = selection();
}

void SubscribersView::restoreSelection() {
    if (m_keptSelection.isEmpty()) {
        return;
    }
    QItemSelection restored;
    const int rows = m_rows->rowCount();
    const int lastColumn = SubscriberTableModel::ColumnCount - 1;
    int start = -1;
    for (int row = 0; row <= rows; ++row) {
        const bool selected = row < rows && m_keptSelection.contains(m_rows->id(row));
        if (selected && start < 0) {
            start = row;
        } else if (!selected && start >= 0) {
            restored.select(m_rows->index(start, 0), m_rows->index(row - 1, lastColumn));
            start = -1;
        }
    }
    m_keptSelection.clear();
    m_table->selectionModel()->select(restored, QItemSelectionModel::ClearAndSelect);
}

void SubscribersView::markSelection(SubscriberStatus status) {
    m_model.setStatus(status, selection());
}

void SubscribersView::removeSelection() {
    const QSet<QUuid> chosen = selection();
    if (chosen.isEmpty()) {
        return;
    }
    auto remove = [this, chosen] { EditHistory::of(m_model).removeSubscribers(chosen); };
    if (chosen.size() == 1) {
        remove();
        return;
    }
    const int n = int(chosen.size());
    Confirmation::ask(this, tr("Remove %n reader(s)?", nullptr, n),
                      tr("They leave your list on this computer. Edit → Undo brings them back "
                         "until you quit."),
                      tr("Remove"), remove);
}

void SubscribersView::showContextMenu(const QPoint& position) {
    if (m_table->selectionModel()->selection().isEmpty()) {
        return;
    }
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("subscriberMenu"));
    connect(menu.addAction(tr("Mark Active")), &QAction::triggered, this,
            [this] { markSelection(SubscriberStatus::active); });
    connect(menu.addAction(tr("Mark Unsubscribed")), &QAction::triggered, this,
            [this] { markSelection(SubscriberStatus::unsubscribed); });
    menu.addSeparator();
    menu.addAction(m_remove);
    menu.exec(m_table->viewport()->mapToGlobal(position));
}

void SubscribersView::openAddSheet() {
    if (m_addSheet) {
        m_addSheet->raise();
        return;
    }
    m_addSheet = new AddSubscriberSheet(m_model, this);
    m_addSheet->setAttribute(Qt::WA_DeleteOnClose);
    m_addSheet->open();
}

void SubscribersView::openFileChooser() {
    if (m_fileChooser) {
        m_fileChooser->raise();
        return;
    }
    m_fileChooser = new QFileDialog(this, tr("Import CSV"));
    m_fileChooser->setAttribute(Qt::WA_DeleteOnClose);
    m_fileChooser->setFileMode(QFileDialog::ExistingFile);
    m_fileChooser->setAcceptMode(QFileDialog::AcceptOpen);
    m_fileChooser->setNameFilters(
        {tr("Comma-separated or plain text (*.csv *.txt)"), tr("All files (*)")});
    connect(m_fileChooser, &QFileDialog::fileSelected, this,
            [this](const QString& path) { m_model.importCSV(path); });
    m_fileChooser->open();
}

} // namespace quillmere
