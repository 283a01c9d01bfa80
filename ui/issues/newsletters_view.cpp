#include "ui/issues/newsletters_view.h"

#include "app/app_model.h"
#include "ui/edit_history.h"
#include "ui/issues/newsletter_editor.h"
#include "ui/issues/newsletter_list.h"
#include "ui/widgets/confirmation.h"
#include "ui/widgets/empty_state.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace quillmere {

NewslettersView::NewslettersView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_issues(new NewsletterListModel(model, this))
    , m_pages(new QStackedWidget(this))
    , m_detail(new QStackedWidget(this))
    , m_list(new QListView(this))
    , m_newButton(new QToolButton(this))
    , m_editor(new NewsletterEditor(model, this))
    , m_empty(new EmptyState(QStringLiteral("newspaper"), tr("No issues yet"),
                             tr("Write in Markdown and see the email as readers will."), this)) {
    auto* title = new QLabel(tr("Newsletters"), this);
    title->setObjectName(QStringLiteral("newslettersTitle"));
    title->setFont(Style::title(title, 1.3));
    m_newButton->setObjectName(QStringLiteral("newNewsletter"));
    m_newButton->setText(tr("New Newsletter"));
    m_newButton->setToolTip(tr("New Newsletter"));
    m_newButton->setIcon(Icons::symbol(QStringLiteral("square.and.pencil")));
    m_newButton->setAutoRaise(true);
    connect(m_newButton, &QToolButton::clicked, this, [this] { m_model.newIssue(); });

    m_list->setObjectName(QStringLiteral("issueList"));
    m_list->setModel(m_issues);
    m_list->setItemDelegate(new NewsletterRowDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true);
    // Subjects are elided to the list's width; it never scrolls sideways.
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setFrameShape(QFrame::NoFrame);
    connect(m_list, &QListView::customContextMenuRequested, this,
            &NewslettersView::showContextMenu);
    auto* remove = new QAction(tr("Delete"), m_list);
    remove->setObjectName(QStringLiteral("deleteIssue"));
    remove->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this, [this] {
        if (const auto id = m_model.selectedNewsletterID()) {
            deleteIssue(*id);
        }
    });
    m_list->addAction(remove);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &NewslettersView::pick);
    connect(m_issues, &QAbstractItemModel::modelReset, this, &NewslettersView::showSelection);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 10, 6, 6);
    header->addWidget(title, 1);
    header->addWidget(m_newButton);
    auto* listPanel = new QWidget(this);
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    listLayout->addLayout(header);
    listLayout->addWidget(m_list, 1);

    auto* noSelection = new QLabel(tr("Select a newsletter"), this);
    noSelection->setObjectName(QStringLiteral("selectNewsletter"));
    noSelection->setAlignment(Qt::AlignCenter);
    noSelection->setFont(Style::title(noSelection, 1.3));
    Style::setTextColor(noSelection, Style::secondaryText(this));
    m_noSelection = noSelection;
    m_detail->addWidget(m_editor);
    m_detail->addWidget(m_noSelection);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(listPanel);
    split->addWidget(m_detail);
    // The list gives way first in a small window, so editor and preview keep room to work.
    listPanel->setMinimumWidth(170);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 4);
    split->setSizes({240, 960});

    auto* write = m_empty->addButton(tr("Write your first issue"), true);
    write->setObjectName(QStringLiteral("writeFirstIssue"));
    connect(write, &QPushButton::clicked, this, [this] { m_model.newIssue(); });

    m_pages->addWidget(m_empty);
    m_pages->addWidget(split);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);

    connect(&m_model, &AppModel::newslettersChanged, this, &NewslettersView::refreshPages);
    connect(&m_model, &AppModel::selectedNewsletterIDChanged, this,
            &NewslettersView::showSelection);
    refreshPages();
    showSelection();
}

void NewslettersView::refreshPages() {
    m_pages->setCurrentIndex(m_model.library().newsletters.isEmpty() ? 0 : 1);
    m_detail->setCurrentWidget(m_model.selectedNewsletter() ? static_cast<QWidget*>(m_editor)
                                                            : m_noSelection);
}

void NewslettersView::showSelection() {
    const auto id = m_model.selectedNewsletterID();
    const int row = id ? m_issues->row(*id) : -1;
    QItemSelectionModel* selection = m_list->selectionModel();
    {
        QSignalBlocker block(selection);
        if (row < 0) {
            selection->clear();
        } else {
            const QModelIndex index = m_issues->index(row);
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        }
    }
    m_list->viewport()->update();
    if (row >= 0) {
        m_list->scrollTo(m_issues->index(row));
    }
    refreshPages();
}

void NewslettersView::pick() {
    const QModelIndex current = m_list->selectionModel()->currentIndex();
    if (!current.isValid()) {
        return;
    }
    m_model.setSelectedNewsletterID(current.data(NewsletterListModel::IDRole).toUuid());
}

void NewslettersView::showContextMenu(const QPoint& position) {
    const QModelIndex index = m_list->indexAt(position);
    if (!index.isValid()) {
        return;
    }
    const QUuid id = index.data(NewsletterListModel::IDRole).toUuid();
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("issueMenu"));
    QAction* remove = menu.addAction(tr("Delete"));
    connect(remove, &QAction::triggered, this, [this, id] { deleteIssue(id); });
    menu.exec(m_list->viewport()->mapToGlobal(position));
}

void NewslettersView::deleteIssue(const QUuid& id) {
    const int row = m_issues->row(id);
    if (row < 0) {
        return;
    }
    const Newsletter& issue = m_issues->issue(row);
    auto remove = [this, id] { EditHistory::of(m_model).deleteIssue(id); };
    if (issue.status != CampaignStatus::sent && issue.stats.sent == 0) {
        remove();
        return;
    }
    Confirmation::ask(this, tr("Delete “%1”?").arg(issue.subject),
                      tr("It went out to %n reader(s); its statistics are deleted with it. "
                         "Edit → Undo brings it back until you quit.",
                         nullptr, int(issue.stats.sent)),
                      tr("Delete"), remove);
}

} // namespace quillmere
