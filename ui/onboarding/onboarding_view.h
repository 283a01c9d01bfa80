#pragma once

#include "app/onboarding_step.h"

#include <QWidget>

#include <map>

class QPushButton;
class QStackedWidget;

namespace quillmere {

class AppModel;
class GuidePage;
class StepRail;

// The guided setup shown until onboarding is done: the rail of steps, one page per step, and
// the bar with Back, Skip for now and the primary button under every page but the welcome.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    OnboardingView(AppModel& model, QWidget* parent = nullptr);

    OnboardingStep currentStep() const { return m_current; }
    void setCurrentStep(OnboardingStep step);

    StepRail* rail() const { return m_rail; }
    GuidePage* page(OnboardingStep step) const { return m_pages.at(step); }
    template <class Page>
    Page* page() const {
        for (const auto& [step, page] : m_pages) {
            if (auto* found = qobject_cast<Page*>(page)) {
                return found;
            }
        }
        return nullptr;
    }
    QWidget* navigationBar() const { return m_bar; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* skipButton() const { return m_skip; }
    QPushButton* primaryButton() const { return m_primary; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void goBack();
    void goForward();
    void primary();
    void refreshPrimary();

    AppModel& m_model;
    OnboardingStep m_current = OnboardingStep::welcome;
    StepRail* m_rail;
    QStackedWidget* m_stack;
    std::map<OnboardingStep, GuidePage*> m_pages;
    std::map<OnboardingStep, QWidget*> m_scrollers;
    QWidget* m_bar;
    QPushButton* m_back;
    QPushButton* m_skip;
    QPushButton* m_primary;
};

} // namespace quillmere
