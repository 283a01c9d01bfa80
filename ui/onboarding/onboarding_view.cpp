#include "ui/onboarding/onboarding_view.h"

#include "app/app_model.h"
#include "ui/onboarding/amazon_page.h"
#include "ui/onboarding/domain_page.h"
#include "ui/onboarding/done_page.h"
#include "ui/onboarding/readers_page.h"
#include "ui/onboarding/sender_page.h"
#include "ui/onboarding/signup_page.h"
#include "ui/onboarding/step_rail.h"
#include "ui/onboarding/welcome_page.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace quillmere {

namespace {

constexpr int pageWidth = 680;

std::optional<OnboardingStep> neighbour(OnboardingStep step, int offset) {
    const auto& steps = allCases<OnboardingStep>();
    const auto at = std::find(steps.begin(), steps.end(), step) - steps.begin() + offset;
    if (at < 0 || at >= qsizetype(steps.size())) {
        return std::nullopt;
    }
    return steps[at];
}

} // namespace

OnboardingView::OnboardingView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_rail(new StepRail(model, this))
    , m_stack(new QStackedWidget(this))
    , m_bar(new QWidget(this))
    , m_back(new QPushButton(tr("Back"), m_bar))
    , m_skip(new QPushButton(tr("Skip for now"), m_bar))
    , m_primary(new ProminentButton(tr("Continue"), m_bar)) {
    auto* welcome = new WelcomePage(model);
    const QList<GuidePage*> pages{welcome,
                                  new AmazonPage(model),
                                  new SenderPage(model),
                                  new DomainPage(model),
                                  new SignupPage(model),
                                  new ReadersPage(model),
                                  new DonePage(model)};
    for (GuidePage* page : pages) {
        // Each page scrolls on its own, in a column of readable width.
        auto* scroller = new QScrollArea(m_stack);
        scroller->setObjectName(QStringLiteral("scroll-") + rawValue(page->step()));
        scroller->setFrameShape(QFrame::NoFrame);
        scroller->setWidgetResizable(true);
        auto* holder = new QWidget(scroller);
        auto* row = new QHBoxLayout(holder);
        row->setContentsMargins(48, 40, 48, 32);
        page->setParent(holder);
        page->setMaximumWidth(pageWidth);
        auto* column = new QVBoxLayout;
        column->addWidget(page);
        column->addStretch(1);
        row->addLayout(column, 1);
        row->addStretch(0);
        scroller->setWidget(holder);
        m_stack->addWidget(scroller);
        m_pages[page->step()] = page;
        connect(page, &GuidePage::blockerChanged, this, &OnboardingView::refreshPrimary);
        m_scrollers[page->step()] = scroller;
    }

    m_bar->setObjectName(QStringLiteral("guideBar"));
    m_bar->setStyleSheet(
        QStringLiteral("#guideBar { border-top: 1px solid rgba(128, 128, 128, 0.25); }"));
    m_back->setObjectName(QStringLiteral("guideBack"));
    m_skip->setObjectName(QStringLiteral("guideSkip"));
    m_primary->setObjectName(QStringLiteral("guidePrimary"));
    auto* bar = new QHBoxLayout(m_bar);
    bar->setContentsMargins(48, 12, 24, 14);
    bar->addWidget(m_back);
    bar->addStretch(1);
    bar->addWidget(m_skip);
    bar->addWidget(m_primary);

    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    right->addWidget(m_stack, 1);
    right->addWidget(m_bar);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_rail);
    layout->addLayout(right, 1);

    connect(m_rail, &StepRail::selected, this, &OnboardingView::setCurrentStep);
    connect(welcome, &WelcomePage::setUpRequested, this,
            [this] { setCurrentStep(OnboardingStep::amazon); });
    connect(m_back, &QPushButton::clicked, this, &OnboardingView::goBack);
    connect(m_skip, &QPushButton::clicked, this, &OnboardingView::goForward);
    connect(m_primary, &QPushButton::clicked, this, &OnboardingView::primary);
    // Reopening the guide at a step (Settings, the setup card, a launch argument) while it
    // already shows moves it there.
    connect(&m_model, &AppModel::onboardingStartStepChanged, this, [this] {
        if (const auto step = m_model.onboardingStartStep()) {
            setCurrentStep(*step);
        }
    });

    m_current = OnboardingStep::done; // so that the first setCurrentStep lays out the page
    setCurrentStep(model.onboardingStartStep().value_or(OnboardingStep::welcome));
}

void OnboardingView::setCurrentStep(OnboardingStep step) {
    m_current = step;
    m_rail->setCurrent(step);
    m_stack->setCurrentWidget(m_scrollers.at(step));
    m_bar->setVisible(step != OnboardingStep::welcome);
    m_back->setEnabled(neighbour(step, -1).has_value());
    m_skip->setVisible(step == OnboardingStep::signup || step == OnboardingStep::readers);
    m_primary->setText(step == OnboardingStep::done ? tr("Open Quillmere") : tr("Continue"));
    refreshPrimary();
}

void OnboardingView::refreshPrimary() {
    Style::setBlocked(m_primary, m_pages.at(m_current)->blocker());
}

void OnboardingView::goBack() {
    if (const auto previous = neighbour(m_current, -1)) {
        setCurrentStep(*previous);
    }
}

void OnboardingView::goForward() {
    if (const auto next = neighbour(m_current, 1)) {
        setCurrentStep(*next);
    }
}

void OnboardingView::primary() {
    if (m_current == OnboardingStep::done) {
        m_model.finishOnboarding();
        return;
    }
    goForward();
}

void OnboardingView::keyPressEvent(QKeyEvent* event) {
    // Return reaches here when the focused control does not use it (a line edit, a button that
    // is not the default): the primary action of the page, as in a dialog.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        QPushButton* action =
            m_current == OnboardingStep::welcome
                ? qobject_cast<WelcomePage*>(m_pages.at(OnboardingStep::welcome))->setUpButton()
                : m_primary;
        if (action->isVisible() && action->isEnabled()) {
            action->click();
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

} // namespace quillmere
