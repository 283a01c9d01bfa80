#include "ui/sidebar.h"

#include "app/app_model.h"
#include "ui/sidebar_card.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quillmere {

namespace {

constexpr int sectionRole = Qt::UserRole + 1;

struct Group {
    const char* title;
    std::initializer_list<AppSection> sections;
};

} // namespace

QString Sidebar::title(AppSection section) {
    switch (section) {
    case AppSection::newsletters:
        return tr("Newsletters");
    case AppSection::subscribers:
        return tr("Subscribers");
    case AppSection::stats:
        return tr("Stats");
    case AppSection::setup:
        return tr("Amazon SES");
    case AppSection::worker:
        return tr("Signup Worker");
    case AppSection::production:
        return tr("Production Access");
    }
    return {};
}

QString Sidebar::symbol(AppSection section) {
    switch (section) {
    case AppSection::newsletters:
        return QStringLiteral("newspaper");
    case AppSection::subscribers:
        return QStringLiteral("person.2");
    case AppSection::stats:
        return QStringLiteral("chart.bar");
    case AppSection::setup:
        return QStringLiteral("server.rack");
    case AppSection::worker:
        return QStringLiteral("cloud");
    case AppSection::production:
        return QStringLiteral("checkmark.seal");
    }
    return {};
}

Sidebar::Sidebar(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_list(new QTreeWidget(this))
    , m_card(new SidebarCard(model, this))
    , m_badge(new SandboxBadge(model, this)) {
    setMinimumWidth(200);
    m_list->setObjectName(QStringLiteral("sections"));
    m_list->setAccessibleName(tr("Sections"));
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setIndentation(0);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setIconSize(QSize(18, 18));
    m_list->setFocusPolicy(Qt::StrongFocus);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setStyleSheet(QStringLiteral("QTreeWidget { background: transparent; }"
                                         "QTreeWidget::item { padding: 4px 2px; }"));

    const Group groups[] = {
        {QT_TR_NOOP("Publish"),
         {AppSection::newsletters, AppSection::subscribers, AppSection::stats}},
        {QT_TR_NOOP("Setup"), {AppSection::setup, AppSection::worker, AppSection::production}},
    };
    for (const Group& group : groups) {
        auto* header = new QTreeWidgetItem(m_list, QStringList{tr(group.title)});
        header->setFlags(Qt::ItemIsEnabled);
        header->setFont(0, Style::headline(m_list));
        header->setForeground(0, Style::secondaryText(this));
        for (AppSection section : group.sections) {
            auto* item = new QTreeWidgetItem(header, QStringList{title(section)});
            item->setIcon(0, Icons::symbol(symbol(section)));
            item->setData(0, sectionRole, QVariant::fromValue(int(section)));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
        header->setExpanded(true);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 10);
    layout->setSpacing(8);
    layout->addWidget(m_list, 1);
    layout->addWidget(m_card);
    layout->addWidget(m_badge);

    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &Sidebar::pick);
    connect(&m_model, &AppModel::selectionChanged, this, &Sidebar::showSelection);
    showSelection();
}

QSize Sidebar::sizeHint() const {
    return {220, QWidget::sizeHint().height()};
}

void Sidebar::showSelection() {
    const auto selection = m_model.selection();
    QSignalBlocker block(m_list);
    m_list->clearSelection();
    for (int g = 0; g < m_list->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = m_list->topLevelItem(g);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* item = group->child(i);
            if (selection && item->data(0, sectionRole).toInt() == int(*selection)) {
                item->setSelected(true);
                m_list->setCurrentItem(item);
            }
        }
    }
}

void Sidebar::pick() {
    const QList<QTreeWidgetItem*> items = m_list->selectedItems();
    if (items.isEmpty()) {
        // A list bound to the selection keeps one section chosen.
        showSelection();
        return;
    }
    m_model.setSelection(AppSection(items.first()->data(0, sectionRole).toInt()));
}

} // namespace quillmere
