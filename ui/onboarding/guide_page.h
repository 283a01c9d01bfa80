#pragma once

#include "app/onboarding_step.h"

#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace quillmere {

class AppModel;
class PageHeader;

// One page of the guided setup: its header, then the page's own content in a column.
class GuidePage : public QWidget {
    Q_OBJECT

public:
    GuidePage(AppModel& model, OnboardingStep step, const QString& title, const QString& subtitle,
              QWidget* parent = nullptr);

    OnboardingStep step() const { return m_step; }
    PageHeader* header() const { return m_header; }
    // Why the guide cannot go on from this page (empty: it can); shown on "Continue".
    virtual QString blocker() const { return {}; }

Q_SIGNALS:
    void blockerChanged();

protected:
    QVBoxLayout* column() const { return m_column; }
    // A wrapped paragraph in the page's column.
    QLabel* addParagraph(const QString& text);

    AppModel& m_model;

private:
    OnboardingStep m_step;
    PageHeader* m_header;
    QVBoxLayout* m_column;
};

} // namespace quillmere
