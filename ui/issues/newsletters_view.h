#pragma once

#include <QUuid>
#include <QWidget>

class QListView;
class QStackedWidget;
class QToolButton;

namespace quillmere {

class AppModel;
class EmptyState;
class NewsletterEditor;
class NewsletterListModel;

// The "Newsletters" section: the issue list beside the editor of the selected issue.
class NewslettersView : public QWidget {
    Q_OBJECT

public:
    explicit NewslettersView(AppModel& model, QWidget* parent = nullptr);

    QListView* list() const { return m_list; }
    QToolButton* newButton() const { return m_newButton; }
    NewsletterEditor* editor() const { return m_editor; }
    EmptyState* emptyState() const { return m_empty; }
    // The text shown in the detail area while no issue is selected.
    QWidget* noSelection() const { return m_noSelection; }

    // Deletes an issue; one that was sent (or partly sent) asks first. Undoable.
    void deleteIssue(const QUuid& id);

private:
    void refreshPages();
    void showSelection();
    void pick();
    void showContextMenu(const QPoint& position);

    AppModel& m_model;
    NewsletterListModel* m_issues;
    QStackedWidget* m_pages;
    QStackedWidget* m_detail;
    QListView* m_list;
    QToolButton* m_newButton;
    NewsletterEditor* m_editor;
    EmptyState* m_empty;
    QWidget* m_noSelection;
};

} // namespace quillmere
