#include "ui/setup/worker_deploy_card.h"

#include "app/app_model.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/result_line.h"
#include "ui/widgets/secure_field.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

WorkerDeployCard::WorkerDeployCard(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_cloudflare(new CloudflareConnect(
          model,
          {tr("Cloudflare didn't accept this token. Check the three permissions."),
           tr("This token can't see any account. Add Account Settings: Read.")},
          this))
    , m_pickerLabel(new QLabel(tr("Account"), this))
    , m_deploy(new ProminentButton(tr("Deploy"), this))
    , m_live(new ResultLine(true, {}, this)) {
    setObjectName(QStringLiteral("workerDeployCard"));
    setStyleSheet(QStringLiteral("#workerDeployCard { background: palette(base); border: 1px solid "
                                 "rgba(128, 128, 128, 0.28); border-radius: 8px; }") +
                  FormSection::framedFields(QStringLiteral("#workerDeployCard")));
    tokenField()->setPlaceholderText(tr("Cloudflare API token"));
    m_deploy->setObjectName(QStringLiteral("deployWorker"));
    m_live->setObjectName(QStringLiteral("workerLive"));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(10);
    auto* tokenLabel = new QLabel(tr("Cloudflare API token"), this);
    grid->addWidget(tokenLabel, 0, 0);
    grid->addWidget(tokenField(), 0, 1);
    grid->addWidget(connectButton(), 0, 2);
    grid->addWidget(m_pickerLabel, 1, 0);
    grid->addWidget(accountPicker(), 1, 1);
    grid->addWidget(m_deploy, 1, 2);
    grid->setColumnStretch(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addLayout(grid);
    layout->addWidget(m_cloudflare->errorLabel());
    layout->addWidget(m_live);

    connect(m_cloudflare, &CloudflareConnect::changed, this, &WorkerDeployCard::refresh);
    connect(m_cloudflare, &CloudflareConnect::connectFinished, this,
            &WorkerDeployCard::connectFinished);
    connect(m_deploy, &QPushButton::clicked, this, &WorkerDeployCard::deploy);
    connect(&m_model, &AppModel::isBusyChanged, this, &WorkerDeployCard::refresh);
    connect(&m_model, &AppModel::isDemoChanged, this, &WorkerDeployCard::refresh);
    connect(&m_model, &AppModel::profileChanged, this, &WorkerDeployCard::refresh);
    refresh();
}

QString WorkerDeployCard::liveText() const {
    return m_live->isHidden() ? QString() : m_live->text();
}

void WorkerDeployCard::deploy() {
    if (accountID().isEmpty() || m_model.isBusy()) {
        return;
    }
    m_model.deployWorker(m_cloudflare->token(), accountID());
}

void WorkerDeployCard::refresh() {
    const bool hasAccounts = !accounts().isEmpty();
    m_pickerLabel->setVisible(hasAccounts);
    accountPicker()->setVisible(hasAccounts);
    m_deploy->setVisible(hasAccounts);
    DemoGuard::block(m_deploy, m_model,
                     accountID().isEmpty()
                         ? tr("Connect a Cloudflare token and pick its account first.")
                     : m_model.isBusy() ? tr("Wait for the current task to finish.")
                                        : QString());
    m_cloudflare->errorLabel()->setVisible(m_cloudflare->error().has_value());
    const QString& url = m_model.library().profile.workerBaseURL;
    m_live->set(true, tr("Live at %1").arg(url));
    m_live->setVisible(!url.isEmpty());
}

} // namespace quillmere
