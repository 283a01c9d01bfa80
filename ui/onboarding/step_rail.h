#pragma once

#include "app/onboarding_step.h"

#include <QFrame>

#include <map>

class QAbstractButton;
class QLabel;

namespace quillmere {

class AppModel;

// The column beside the guided setup: every step in order, marked complete, current or still
// to do; choosing one opens it.
class StepRail : public QFrame {
    Q_OBJECT

public:
    explicit StepRail(AppModel& model, QWidget* parent = nullptr);

    OnboardingStep current() const { return m_current; }
    void setCurrent(OnboardingStep step);

    QAbstractButton* row(OnboardingStep step) const { return m_rows.at(step); }
    // checkmark.circle.fill (complete), circle.inset.filled (current) or circle.
    QString symbol(OnboardingStep step) const;
    QString note() const;

public Q_SLOTS:
    void refresh();

Q_SIGNALS:
    // The writer chose a step.
    void selected(OnboardingStep step);

private:
    AppModel& m_model;
    OnboardingStep m_current = OnboardingStep::welcome;
    std::map<OnboardingStep, QAbstractButton*> m_rows;
    QLabel* m_note;
};

} // namespace quillmere
