#include "ui/onboarding/signup_page.h"

#include "ui/onboarding/instruction_row.h"
#include "ui/setup/setup_links.h"
#include "ui/setup/worker_deploy_card.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

SignupPage::SignupPage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::signup, tr("Signup form and unsubscribes"),
                tr("A tiny web service in your own free Cloudflare account handles "
                   "signups, confirmations, one click unsubscribes, bounces and your "
                   "public archive. It runs while your computer is asleep."),
                parent)
    , m_openTokens(new QPushButton(
          Icons::tinted(QStringLiteral("arrow.up.right.square"), Style::accent(this)),
          tr("Open Cloudflare API Tokens"), this))
    , m_card(new WorkerDeployCard(model, this)) {
    auto* note =
        addParagraph(tr("You can skip this and add it later from Signup Worker in the sidebar. "
                        "Without it, unsubscribe links have nowhere to go, so bulk sending stays "
                        "off until it's set up."));
    note->setObjectName(QStringLiteral("skipNote"));
    Style::setTextColor(note, Style::secondaryText(this));

    const QStringList instructions{
        tr("Create a free Cloudflare account if you don't have one."),
        tr("Open **My Profile**, then **API Tokens**, then **Create Token**, then "
           "**Custom token**."),
        tr("Add three permissions: **Workers Scripts: Edit**, **D1: Edit** and "
           "**Account Settings: Read**. Create it and copy the token."),
    };
    for (qsizetype i = 0; i < instructions.size(); ++i) {
        column()->addWidget(new InstructionRow(i + 1, instructions.at(i), this));
    }

    // A link, not a push button: it leaves the application.
    m_openTokens->setObjectName(QStringLiteral("openCloudflareTokens"));
    m_openTokens->setFlat(true);
    m_openTokens->setCursor(Qt::PointingHandCursor);
    Style::setTextColor(m_openTokens, Style::accent(this));
    auto* link = new QHBoxLayout;
    link->addWidget(m_openTokens);
    link->addStretch(1);
    column()->addLayout(link);
    column()->addWidget(m_card);

    connect(m_openTokens, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(SetupLinks::cloudflareAPITokens()); });
}

} // namespace quillmere
