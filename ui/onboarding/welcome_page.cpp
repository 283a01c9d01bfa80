#include "ui/onboarding/welcome_page.h"

#include "app/app_model.h"
#include "ui/onboarding/feature.h"
#include "ui/widgets/prominent_button.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

WelcomePage::WelcomePage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::welcome, tr("Your newsletter, on your computer."),
                tr("Write in Markdown, send through your own Amazon account for about "
                   "$1 per 10,000 emails, and keep your list on your computer. No "
                   "monthly plan, no per subscriber pricing."),
                parent)
    , m_setUp(new ProminentButton(tr("Set up sending"), this))
    , m_demo(new QPushButton(tr("Explore with sample data"), this)) {
    m_setUp->setObjectName(QStringLiteral("setUpSending"));
    m_demo->setObjectName(QStringLiteral("exploreSampleData"));
    const struct {
        const char* symbol;
        const char* title;
        const char* text;
    } features[] = {
        {"dollarsign.circle", QT_TR_NOOP("Pay Amazon, not a platform"),
         QT_TR_NOOP("Emails go out through Amazon SES on your own account. You pay Amazon "
                    "directly, a few cents per issue.")},
        {"lock.shield", QT_TR_NOOP("Your list stays yours"),
         QT_TR_NOOP("Subscribers live on your computer and in your own Cloudflare account. "
                    "Nothing runs on our servers.")},
        {"checkmark.seal", QT_TR_NOOP("Compliant by default"),
         QT_TR_NOOP("Double opt-in, one click unsubscribe, your postal address in every footer, "
                    "and an automatic stop if bounces climb.")},
    };
    for (const auto& f : features) {
        auto* feature = new Feature(QString::fromUtf8(f.symbol), tr(f.title), tr(f.text), this);
        column()->addWidget(feature);
        m_features.append(feature);
    }
    column()->addSpacing(10);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(m_setUp);
    buttons->addWidget(m_demo);
    buttons->addStretch(1);
    column()->addLayout(buttons);

    connect(m_setUp, &QPushButton::clicked, this, &WelcomePage::setUpRequested);
    connect(m_demo, &QPushButton::clicked, this, [this] { m_model.enterDemo(); });
}

} // namespace quillmere
