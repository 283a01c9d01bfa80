#include "ui/setup/worker_deploy_card.h"

#include "app/app_model.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/result_line.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/style.h"
#include "worker/cloudflare_deployer.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

WorkerDeployCard::WorkerDeployCard(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_token(new SecureField(QStringLiteral("Cloudflare API token"), this))
    , m_connect(new QPushButton(QStringLiteral("Connect"), this))
    , m_pickerLabel(new QLabel(QStringLiteral("Account"), this))
    , m_picker(new QComboBox(this))
    , m_deploy(new ProminentButton(QStringLiteral("Deploy"), this))
    , m_error(new QLabel(this))
    , m_live(new ResultLine(true, {}, this)) {
    setObjectName(QStringLiteral("workerDeployCard"));
    setStyleSheet(QStringLiteral("#workerDeployCard { background: palette(base); border: 1px solid "
                                 "rgba(128, 128, 128, 0.28); border-radius: 8px; }"));
    m_token->setObjectName(QStringLiteral("cloudflareToken"));
    m_connect->setObjectName(QStringLiteral("cloudflareConnect"));
    m_picker->setObjectName(QStringLiteral("cloudflareAccount"));
    m_deploy->setObjectName(QStringLiteral("deployWorker"));
    m_error->setObjectName(QStringLiteral("cloudflareError"));
    m_live->setObjectName(QStringLiteral("workerLive"));
    m_error->setWordWrap(true);
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setTextColor(m_error, Style::red);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    auto* tokenLabel = new QLabel(QStringLiteral("Cloudflare API token"), this);
    grid->addWidget(tokenLabel, 0, 0);
    grid->addWidget(m_token, 0, 1);
    grid->addWidget(m_connect, 0, 2);
    grid->addWidget(m_pickerLabel, 1, 0);
    grid->addWidget(m_picker, 1, 1);
    grid->addWidget(m_deploy, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addLayout(grid);
    layout->addWidget(m_error);
    layout->addWidget(m_live);

    connect(m_token, &QLineEdit::textChanged, this, &WorkerDeployCard::refresh);
    connect(m_connect, &QPushButton::clicked, this, [this] { connectToken(); });
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_accounts.size()) {
            m_accountID = m_accounts.at(index).id;
        }
        refresh();
    });
    connect(m_deploy, &QPushButton::clicked, this, &WorkerDeployCard::deploy);
    connect(&m_model, &AppModel::isBusyChanged, this, &WorkerDeployCard::refresh);
    connect(&m_model, &AppModel::isDemoChanged, this, &WorkerDeployCard::refresh);
    connect(&m_model, &AppModel::profileChanged, this, &WorkerDeployCard::refresh);
    refresh();
}

QString WorkerDeployCard::error() const {
    return m_errorText.value_or(QString());
}

QString WorkerDeployCard::liveText() const {
    return m_live->isHidden() ? QString() : m_live->text();
}

QCoro::Task<void> WorkerDeployCard::connectToken() {
    QPointer<WorkerDeployCard> self(this);
    const CloudflareDeployer deployer(m_token->text(), m_model.transport());
    m_connecting = true;
    m_errorText.reset();
    refresh();
    try {
        const bool active = co_await deployer.verifyToken();
        if (!self) {
            co_return;
        }
        if (!active) {
            m_errorText =
                QStringLiteral("Cloudflare didn't accept this token. Check the three permissions.");
        } else {
            const QList<CloudflareAccount> found = co_await deployer.listAccounts();
            if (!self) {
                co_return;
            }
            m_accounts = accountChoices(found);
            m_accountID = m_accounts.isEmpty() ? QString() : m_accounts.first().id;
            if (m_accounts.isEmpty()) {
                m_errorText =
                    QStringLiteral("This token can't see any account. Add Account Settings: Read.");
            }
        }
    } catch (const std::exception& error) {
        if (!self) {
            co_return;
        }
        m_errorText = AppModel::errorText(error);
    }
    m_connecting = false;
    showAccountChoices(m_picker, m_accounts, m_accountID);
    refresh();
    Q_EMIT connectFinished();
}

void WorkerDeployCard::deploy() {
    if (m_accountID.isEmpty() || m_model.isBusy()) {
        return;
    }
    m_model.deployWorker(m_token->text(), m_accountID);
}

void WorkerDeployCard::refresh() {
    DemoGuard::enable(m_connect, m_model, !m_connecting && !m_token->text().isEmpty());
    const bool hasAccounts = !m_accounts.isEmpty();
    m_pickerLabel->setVisible(hasAccounts);
    m_picker->setVisible(hasAccounts);
    m_deploy->setVisible(hasAccounts);
    DemoGuard::enable(m_deploy, m_model, !m_accountID.isEmpty() && !m_model.isBusy());
    m_error->setText(error());
    m_error->setVisible(m_errorText.has_value());
    const QString& url = m_model.library().profile.workerBaseURL;
    m_live->set(true, QStringLiteral("Live at ") + url);
    m_live->setVisible(!url.isEmpty());
}

} // namespace quillmere
