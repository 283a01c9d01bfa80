#pragma once

#include "core/subscriber_status.h"
#include "ui/subscribers/add_subscriber_sheet.h"

#include <QFileDialog>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>

#include <optional>

class QAction;
class QLineEdit;
class QStackedWidget;
class QTableView;
class QToolBar;

namespace quillmere {

class AppModel;
class EmptyState;
class FilterChip;
class SubscriberProxyModel;
class SubscriberTableModel;

// The "Subscribers" section: status chips with counts, a search field and the sortable,
// multi-select table of readers, with commands to add, import and sync.
class SubscribersView : public QWidget {
    Q_OBJECT

public:
    explicit SubscribersView(AppModel& model, QWidget* parent = nullptr);

    std::optional<SubscriberStatus> filter() const;
    void setFilter(std::optional<SubscriberStatus> filter);
    QSet<QUuid> selection() const;

    QLineEdit* searchField() const { return m_search; }
    QTableView* table() const { return m_table; }
    SubscriberProxyModel* rows() const { return m_rows; }
    // The chip for a status, or "All" for none.
    FilterChip* chip(std::optional<SubscriberStatus> status) const;
    EmptyState* emptyState() const { return m_empty; }
    // Shown instead of the table when readers exist but the search and filter match none.
    EmptyState* noMatchState() const { return m_noMatch; }
    QToolBar* toolBar() const { return m_toolBar; }
    QAction* addAction() const { return m_add; }
    QAction* importAction() const { return m_import; }
    QAction* syncAction() const { return m_sync; }
    // The open sheet or file chooser, if any.
    AddSubscriberSheet* addSheet() const { return m_addSheet; }
    QFileDialog* fileChooser() const { return m_fileChooser; }

    // Actions of the context menu, acting on the selected rows. Removing several readers asks
    // first; a removal can be undone.
    void markSelection(SubscriberStatus status);
    void removeSelection();
    QAction* removeAction() const { return m_remove; }

public Q_SLOTS:
    void openAddSheet();
    void openFileChooser();

private:
    void refreshCounts();
    void refreshEmpty();
    void rememberSelection();
    void restoreSelection();
    void showContextMenu(const QPoint& position);

    AppModel& m_model;
    SubscriberTableModel* m_source;
    SubscriberProxyModel* m_rows;
    QToolBar* m_toolBar;
    QAction* m_add;
    QAction* m_import;
    QAction* m_sync;
    QLineEdit* m_search;
    QList<FilterChip*> m_chips; // "All", then one per status
    QStackedWidget* m_pages;
    QTableView* m_table;
    EmptyState* m_empty;
    EmptyState* m_noMatch;
    QAction* m_remove;
    QSet<QUuid> m_keptSelection;
    QPointer<AddSubscriberSheet> m_addSheet;
    QPointer<QFileDialog> m_fileChooser;
};

} // namespace quillmere
