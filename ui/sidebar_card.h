#pragma once

#include <QFrame>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quillmere {

class AppModel;

// The card under the sidebar's sections: sample-data notice in demo mode, else the setup
// progress until all five setup steps are done. Hidden when there is nothing to say.
class SidebarCard : public QFrame {
    Q_OBJECT

public:
    explicit SidebarCard(AppModel& model, QWidget* parent = nullptr);

    QString title() const;
    QString detail() const;
    std::optional<double> progress() const;
    QPushButton* actionButton() const { return m_action; }

private:
    void refresh();
    void perform();

    AppModel& m_model;
    QLabel* m_icon;
    QLabel* m_title;
    QLabel* m_detail;
    QProgressBar* m_progress;
    QPushButton* m_action;
    QString m_symbol;
};

// The SES status under the card: sandbox or production and today's quota.
class SandboxBadge : public QFrame {
    Q_OBJECT

public:
    explicit SandboxBadge(AppModel& model, QWidget* parent = nullptr);

    QString headline() const;
    QString detail() const;

private:
    void refresh();

    AppModel& m_model;
    QLabel* m_headline;
    QLabel* m_detail;
};

} // namespace quillmere
