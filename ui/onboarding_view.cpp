#include "ui/onboarding_view.h"

#include "app/app_model.h"
#include "ui/style.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

// The guided setup opens at the model's start step. This first version offers only the way in
// (the sample library) and the way out (finishing the guide).
OnboardingView::OnboardingView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    const OnboardingStep step = model.onboardingStartStep().value_or(OnboardingStep::welcome);
    auto* title = new QLabel(quillmere::title(step), this);
    title->setObjectName(QStringLiteral("onboardingTitle"));
    title->setFont(Style::title(title));
    auto* demo = new QPushButton(QStringLiteral("Explore with sample data"), this);
    auto* open = new QPushButton(QStringLiteral("Open Quillmere"), this);
    open->setDefault(true);
    connect(demo, &QPushButton::clicked, this, [this] { m_model.enterDemo(); });
    connect(open, &QPushButton::clicked, this, [this] { m_model.finishOnboarding(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 40, 40, 40);
    layout->addWidget(title);
    layout->addStretch();
    layout->addWidget(demo, 0, Qt::AlignLeft);
    layout->addWidget(open, 0, Qt::AlignRight);
}

} // namespace quillmere
