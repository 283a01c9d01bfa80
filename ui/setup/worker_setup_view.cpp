#include "ui/setup/worker_setup_view.h"

#include "app/app_model.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/grouped_form.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/style.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

WorkerSetupView::WorkerSetupView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_cloudflare(
          new CloudflareConnect(model, {tr("Cloudflare rejected this token."), std::nullopt}, this))
    , m_deployment(nullptr)
    , m_workerURL(nullptr)
    , m_signupForm(nullptr)
    , m_snsEndpoint(nullptr)
    , m_deploy(new ProminentButton(tr("Deploy Worker"), this))
    , m_bounces(nullptr)
    , m_health(new QLabel(this)) {
    auto* form = new GroupedForm(tr("Signup Worker"), this);

    // 1. The token.
    FormSection* token = form->addSection(tr("Cloudflare API token"));
    auto* explanation = new QLabel(
        tr("Create a token in your own Cloudflare account with Workers Scripts: Edit, D1: Edit "
           "and Account Settings: Read. Quillmere deploys a small worker there; nothing runs on "
           "our servers."),
        token);
    explanation->setWordWrap(true);
    token->addRow(explanation);
    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(m_cloudflare->tokenField(), 1);
    tokenRow->addWidget(m_cloudflare->connectButton());
    token->addRow(tr("API token"), tokenRow);

    // 2. The deployment.
    m_deployment = form->addSection(tr("Deploy the signup worker"));
    auto* what =
        new QLabel(tr("Creates a D1 database and a worker with: double opt-in signup form, "
                      "one-click unsubscribe (RFC 8058), SNS bounce and complaint webhook, public "
                      "archive, and a token protected sync API."),
                   m_deployment);
    what->setWordWrap(true);
    m_deployment->addRow(what);
    m_deployment->addRow(tr("Account"), m_cloudflare->accountPicker());
    m_workerURL = m_deployment->addValueRow(tr("Worker URL"));
    m_signupForm = m_deployment->addValueRow(tr("Signup form"));
    m_snsEndpoint = m_deployment->addValueRow(tr("SNS endpoint"));
    m_workerURL->setObjectName(QStringLiteral("workerURL"));
    m_signupForm->setObjectName(QStringLiteral("signupForm"));
    m_snsEndpoint->setObjectName(QStringLiteral("snsEndpoint"));
    m_deploy->setObjectName(QStringLiteral("deployWorker"));
    auto* deployRow = new QHBoxLayout;
    deployRow->addStretch(1);
    deployRow->addWidget(m_deploy);
    m_deployment->addRow(deployRow);
    m_deployment->addRow(m_cloudflare->errorLabel());

    // 3. Bounce routing, and what the worker reports about itself.
    m_bounces = form->addSection({});
    FormSection* bounces = m_bounces;
    auto* heading = new QWidget(bounces);
    auto* icon = new QLabel(heading);
    icon->setPixmap(Icons::tinted(QStringLiteral("exclamationmark.triangle"), Style::orange)
                        .pixmap(QSize(16, 16)));
    auto* label = new QLabel(tr("Route bounces to the worker"), heading);
    label->setFont(Style::headline(label));
    auto* headingRow = new QHBoxLayout(heading);
    headingRow->setContentsMargins(0, 0, 0, 0);
    headingRow->setSpacing(8);
    headingRow->addWidget(icon);
    headingRow->addWidget(label);
    headingRow->addStretch(1);
    bounces->addRow(heading);
    auto* instructions =
        new QLabel(tr("In the SNS console create a topic, subscribe the SNS endpoint above over "
                      "HTTPS, then in SES set that topic for Bounce and Complaint notifications "
                      "on your domain. The worker confirms the subscription automatically."),
                   bounces);
    instructions->setObjectName(QStringLiteral("bounceRouting"));
    instructions->setWordWrap(true);
    bounces->addRow(instructions);
    m_health->setObjectName(QStringLiteral("workerHealth"));
    m_health->setWordWrap(true);
    m_health->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setTextColor(m_health, Style::orange);
    bounces->addRow(m_health);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form);

    connect(m_cloudflare, &CloudflareConnect::changed, this, &WorkerSetupView::refresh);
    connect(m_cloudflare, &CloudflareConnect::connectFinished, this,
            &WorkerSetupView::connectFinished);
    connect(m_deploy, &QPushButton::clicked, this, [this] {
        if (!accountID().isEmpty() && !m_model.isBusy()) {
            m_model.deployWorker(m_cloudflare->token(), accountID());
        }
    });
    connect(&m_model, &AppModel::isBusyChanged, this, &WorkerSetupView::refresh);
    connect(&m_model, &AppModel::isDemoChanged, this, &WorkerSetupView::refresh);
    connect(&m_model, &AppModel::profileChanged, this, &WorkerSetupView::refresh);
    connect(&m_model, &AppModel::workerHealthChanged, this, &WorkerSetupView::refresh);
    refresh();
}

// Asked each time the screen opens: the worker's failures happen while nobody looks.
void WorkerSetupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_model.refreshWorkerHealth();
}

void WorkerSetupView::refresh() {
    m_deployment->setRowVisible(accountPicker(), !accounts().isEmpty());
    const QString& url = m_model.library().profile.workerBaseURL;
    // Derived as stored: a URL that ends in "/" shows a double slash, as it will be used.
    m_workerURL->setText(url);
    m_signupForm->setText(url + QStringLiteral("/"));
    m_snsEndpoint->setText(url + QStringLiteral("/sns"));
    for (QLabel* row : {m_workerURL, m_signupForm, m_snsEndpoint}) {
        m_deployment->setRowVisible(row, !url.isEmpty());
    }
    DemoGuard::block(m_deploy, m_model,
                     accountID().isEmpty()
                         ? tr("Connect a Cloudflare token and pick its account first.")
                     : m_model.isBusy() ? tr("Wait for the current task to finish.")
                                        : QString());
    m_deployment->setRowVisible(errorLabel(), error().has_value());

    QStringList lines;
    const auto& health = m_model.workerHealth();
    if (!url.isEmpty() && health && !health->awsAccountId) {
        lines.append(tr("Bounce routing needs your Amazon account connected: add your "
                        "AWS keys under Amazon SES, then deploy the worker again. "
                        "Until then the worker refuses every SNS notification."));
    }
    if (!url.isEmpty() && health && health->mailConfigured == false) {
        lines.append(tr("The worker has no AWS keys, so it sends no confirmation "
                        "mail. Add your keys under Amazon SES."));
    }
    if (!url.isEmpty()) {
        lines.append(m_model.workerHealthProblems());
    }
    m_health->setText(lines.join(QStringLiteral("\n\n")));
    m_bounces->setRowVisible(m_health, !lines.isEmpty());
}

} // namespace quillmere
