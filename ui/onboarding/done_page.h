#pragma once

#include "ui/onboarding/guide_page.h"

#include <map>

class QFrame;

namespace quillmere {

class ResultLine;

// The guide's summary: which setup steps are done, and the production-access reminder.
class DonePage : public GuidePage {
    Q_OBJECT

public:
    explicit DonePage(AppModel& model, QWidget* parent = nullptr);

    ResultLine* line(OnboardingStep step) const { return m_lines.at(step); }
    QFrame* productionBox() const { return m_production; }

private:
    void refresh();

    std::map<OnboardingStep, ResultLine*> m_lines;
    QFrame* m_production;
};

} // namespace quillmere
