#include "ui/onboarding/done_page.h"

#include "app/app_model.h"
#include "ui/setup/setup_state.h"
#include "ui/widgets/result_line.h"
#include "ui/widgets/style.h"

#include <QFrame>
#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

DonePage::DonePage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::done, tr("You're set up."),
                tr("Write your first issue and send yourself a test. Anything left "
                   "below can wait."),
                parent)
    , m_production(new QFrame(this)) {
    for (OnboardingStep step : workingSteps) {
        auto* line = new ResultLine(this);
        line->setObjectName(QStringLiteral("result-") + rawValue(step));
        column()->addWidget(line);
        m_lines[step] = line;
    }

    m_production->setObjectName(QStringLiteral("productionBox"));
    m_production->setStyleSheet(
        QStringLiteral("#productionBox { background: rgba(255, 149, 0, 0.10); border: 1px solid "
                       "rgba(255, 149, 0, 0.45); border-radius: 8px; }"));
    auto* title = new QLabel(tr("One more thing: Amazon production access"), this);
    title->setFont(Style::headline(title));
    auto* text = new QLabel(tr("New Amazon accounts can only email verified addresses. Open "
                               "Production Access in the sidebar; we write the request for "
                               "you. Approval usually takes about a day."),
                            this);
    text->setWordWrap(true);
    auto* box = new QVBoxLayout(m_production);
    box->setContentsMargins(14, 12, 14, 12);
    box->setSpacing(4);
    box->addWidget(title);
    box->addWidget(text);
    column()->addSpacing(8);
    column()->addWidget(m_production);

    onSetupStateChange(m_model, this, [this] { refresh(); });
    refresh();
}

void DonePage::refresh() {
    for (OnboardingStep step : workingSteps) {
        const bool complete = m_model.isComplete(step);
        m_lines.at(step)->set(complete,
                              complete ? title(step) : tr("%1: not done yet").arg(title(step)));
    }
    const auto& account = m_model.account();
    m_production->setVisible(!account || !account->productionAccessEnabled);
}

} // namespace quillmere
