#include "ui/setup/worker_setup_view.h"

#include "app/app_model.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/grouped_form.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/style.h"
#include "worker/cloudflare_deployer.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

WorkerSetupView::WorkerSetupView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_token(new SecureField({}, this))
    , m_connect(new QPushButton(QStringLiteral("Connect"), this))
    , m_deployment(nullptr)
    , m_picker(new QComboBox(this))
    , m_workerURL(nullptr)
    , m_signupForm(nullptr)
    , m_snsEndpoint(nullptr)
    , m_deploy(new ProminentButton(QStringLiteral("Deploy Worker"), this))
    , m_errorLabel(new QLabel(this)) {
    auto* form = new GroupedForm(QStringLiteral("Signup Worker"), this);

    // 1. The token.
    FormSection* token = form->addSection(QStringLiteral("Cloudflare API token"));
    auto* explanation = new QLabel(
        QStringLiteral("Create a token in your own Cloudflare account with Workers Scripts: Edit, "
                       "D1: Edit and Account Settings: Read. ") +
            QStringLiteral("Quillmere") +
            QStringLiteral(" deploys a small worker there; nothing runs on our servers."),
        token);
    explanation->setWordWrap(true);
    token->addRow(explanation);
    m_token->setObjectName(QStringLiteral("cloudflareToken"));
    m_connect->setObjectName(QStringLiteral("cloudflareConnect"));
    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(m_token, 1);
    tokenRow->addWidget(m_connect);
    token->addRow(QStringLiteral("API token"), tokenRow);

    // 2. The deployment.
    m_deployment = form->addSection(QStringLiteral("Deploy the signup worker"));
    auto* what = new QLabel(
        QStringLiteral("Creates a D1 database and a worker with: double opt-in signup form, "
                       "one-click unsubscribe (RFC 8058), SNS bounce and complaint webhook, public "
                       "archive, and a token protected sync API."),
        m_deployment);
    what->setWordWrap(true);
    m_deployment->addRow(what);
    m_picker->setObjectName(QStringLiteral("cloudflareAccount"));
    m_deployment->addRow(QStringLiteral("Account"), m_picker);
    m_workerURL = m_deployment->addValueRow(QStringLiteral("Worker URL"));
    m_signupForm = m_deployment->addValueRow(QStringLiteral("Signup form"));
    m_snsEndpoint = m_deployment->addValueRow(QStringLiteral("SNS endpoint"));
    m_workerURL->setObjectName(QStringLiteral("workerURL"));
    m_signupForm->setObjectName(QStringLiteral("signupForm"));
    m_snsEndpoint->setObjectName(QStringLiteral("snsEndpoint"));
    m_deploy->setObjectName(QStringLiteral("deployWorker"));
    auto* deployRow = new QHBoxLayout;
    deployRow->addStretch(1);
    deployRow->addWidget(m_deploy);
    m_deployment->addRow(deployRow);
    m_errorLabel->setObjectName(QStringLiteral("workerError"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setTextColor(m_errorLabel, Style::red);
    m_deployment->addRow(m_errorLabel);

    // 3. Bounce routing.
    FormSection* bounces = form->addSection({});
    auto* heading = new QWidget(bounces);
    auto* icon = new QLabel(heading);
    icon->setPixmap(Icons::tinted(QStringLiteral("exclamationmark.triangle"), Style::orange)
                        .pixmap(QSize(16, 16)));
    auto* label = new QLabel(QStringLiteral("Route bounces to the worker"), heading);
    label->setFont(Style::headline(label));
    auto* headingRow = new QHBoxLayout(heading);
    headingRow->setContentsMargins(0, 0, 0, 0);
    headingRow->setSpacing(8);
    headingRow->addWidget(icon);
    headingRow->addWidget(label);
    headingRow->addStretch(1);
    bounces->addRow(heading);
    auto* instructions = new QLabel(
        QStringLiteral("In the SNS console create a topic, subscribe the SNS endpoint above over "
                       "HTTPS, then in SES set that topic for Bounce and Complaint notifications "
                       "on your domain. The worker confirms the subscription automatically."),
        bounces);
    instructions->setObjectName(QStringLiteral("bounceRouting"));
    instructions->setWordWrap(true);
    bounces->addRow(instructions);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form);

    connect(m_token, &QLineEdit::textChanged, this, &WorkerSetupView::refresh);
    connect(m_connect, &QPushButton::clicked, this, [this] { connectToken(); });
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_accounts.size()) {
            m_accountID = m_accounts.at(index).id;
        }
        refresh();
    });
    connect(m_deploy, &QPushButton::clicked, this, [this] {
        if (!m_accountID.isEmpty() && !m_model.isBusy()) {
            m_model.deployWorker(m_token->text(), m_accountID);
        }
    });
    connect(&m_model, &AppModel::isBusyChanged, this, &WorkerSetupView::refresh);
    connect(&m_model, &AppModel::isDemoChanged, this, &WorkerSetupView::refresh);
    connect(&m_model, &AppModel::profileChanged, this, &WorkerSetupView::refresh);
    refresh();
}

QCoro::Task<void> WorkerSetupView::connectToken() {
    QPointer<WorkerSetupView> self(this);
    const CloudflareDeployer deployer(m_token->text(), m_model.transport());
    m_connecting = true;
    refresh();
    try {
        const bool active = co_await deployer.verifyToken();
        if (!self) {
            co_return;
        }
        if (!active) {
            m_error = QStringLiteral("Cloudflare rejected this token.");
        } else {
            const QList<CloudflareAccount> found = co_await deployer.listAccounts();
            if (!self) {
                co_return;
            }
            m_accounts = accountChoices(found);
            m_accountID = m_accounts.isEmpty() ? QString() : m_accounts.first().id;
            m_error.reset();
        }
    } catch (const std::exception& failure) {
        if (!self) {
            co_return;
        }
        m_error = AppModel::errorText(failure);
    }
    m_connecting = false;
    showAccountChoices(m_picker, m_accounts, m_accountID);
    refresh();
    Q_EMIT connectFinished();
}

void WorkerSetupView::refresh() {
    DemoGuard::enable(m_connect, m_model, !m_connecting && !m_token->text().isEmpty());
    m_deployment->setRowVisible(m_picker, !m_accounts.isEmpty());
    const QString& url = m_model.library().profile.workerBaseURL;
    // Derived as stored: a URL that ends in "/" shows a double slash, as it will be used.
    m_workerURL->setText(url);
    m_signupForm->setText(url + QStringLiteral("/"));
    m_snsEndpoint->setText(url + QStringLiteral("/sns"));
    for (QLabel* row : {m_workerURL, m_signupForm, m_snsEndpoint}) {
        m_deployment->setRowVisible(row, !url.isEmpty());
    }
    DemoGuard::enable(m_deploy, m_model, !m_accountID.isEmpty() && !m_model.isBusy());
    m_errorLabel->setText(m_error.value_or(QString()));
    m_deployment->setRowVisible(m_errorLabel, m_error.has_value());
}

} // namespace quillmere
