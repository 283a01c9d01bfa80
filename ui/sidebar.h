#pragma once

#include "app/app_section.h"

#include <QWidget>

#include <optional>

class QTreeWidget;
class QTreeWidgetItem;

namespace quillmere {

class AppModel;
class SandboxBadge;
class SidebarCard;

// The sidebar of the workspace: the sections in their two groups, bound to the model's
// selection, with the setup card and the SES badge below.
class Sidebar : public QWidget {
    Q_OBJECT

public:
    explicit Sidebar(AppModel& model, QWidget* parent = nullptr);

    QTreeWidget* list() const { return m_list; }
    SidebarCard* card() const { return m_card; }
    SandboxBadge* badge() const { return m_badge; }

    static QString title(AppSection section);
    static QString symbol(AppSection section);

    QSize sizeHint() const override;

private:
    void showSelection();
    void pick();

    AppModel& m_model;
    QTreeWidget* m_list;
    SidebarCard* m_card;
    SandboxBadge* m_badge;
};

} // namespace quillmere
