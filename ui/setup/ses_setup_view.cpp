#include "ui/setup/ses_setup_view.h"

#include "app/app_model.h"
#include "ui/setup/dns_record_list.h"
#include "ui/setup/postal_address_field.h"
#include "ui/setup/profile_binding.h"
#include "ui/setup/region_picker.h"
#include "ui/setup/sender_details_form.h"
#include "ui/setup/ses_error_label.h"
#include "ui/setup/setup_state.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/grouped_form.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/style.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

namespace {

QHBoxLayout* trailing(QWidget* button) {
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(button);
    return row;
}

} // namespace

SESSetupView::SESSetupView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_error(new SESErrorLabel(model, this))
    , m_accessKey(new QLineEdit(this))
    , m_secretKey(new SecureField({}, this))
    , m_region(new RegionPicker(this))
    , m_saved(new QLabel(tr("Saved in your system keychain"), this))
    , m_saveKeys(new QPushButton(tr("Save Keys"), this))
    , m_accountSection(nullptr)
    , m_checkAccount(new QPushButton(tr("Check Account"), this))
    , m_domain(new QLineEdit(this))
    , m_records(new DNSRecordList(model, this))
    , m_verify(new QPushButton(this))
    , m_sender(new SenderDetailsForm(model,
                                     {QString(), tr("From name"), tr("From email"), tr("Reply-to"),
                                      tr("Postal address"), tr("Double opt-in for new signups")},
                                     this)) {
    auto* form = new GroupedForm(tr("Amazon SES"), this);
    form->addWidget(m_error);

    // 1. Keys and region.
    FormSection* keys = form->addSection(tr("IAM access keys"));
    m_accessKey->setObjectName(QStringLiteral("accessKey"));
    m_secretKey->setObjectName(QStringLiteral("secretKey"));
    m_region->setObjectName(QStringLiteral("region"));
    m_saved->setObjectName(QStringLiteral("keysSaved"));
    m_saveKeys->setObjectName(QStringLiteral("saveKeys"));
    Style::setTextColor(m_saved, Style::green);
    m_saved->setFont(Style::caption(m_saved));
    keys->addRow(tr("Access key ID"), m_accessKey);
    keys->addRow(tr("Secret access key"), m_secretKey);
    keys->addRow(tr("Region"), m_region);
    auto* savedRow = new QHBoxLayout;
    savedRow->addWidget(m_saved);
    savedRow->addStretch(1);
    savedRow->addWidget(m_saveKeys);
    keys->addNote(
        tr("Create an IAM user with only the ses:SendRawEmail, ses:GetAccount, "
           "ses:CreateEmailIdentity and ses:GetEmailIdentity permissions. Keys are stored in your "
           "system keychain, never in files."));
    keys->addRow(savedRow);

    // 2. Account status.
    m_accountSection = form->addSection(tr("Account status"));
    m_mode = m_accountSection->addValueRow(tr("Mode"));
    m_quota = m_accountSection->addValueRow(tr("Daily quota"));
    m_rate = m_accountSection->addValueRow(tr("Max send rate"));
    m_enforcement = m_accountSection->addValueRow(tr("Enforcement"));
    m_mode->setObjectName(QStringLiteral("mode"));
    m_quota->setObjectName(QStringLiteral("dailyQuota"));
    m_rate->setObjectName(QStringLiteral("maxSendRate"));
    m_enforcement->setObjectName(QStringLiteral("enforcement"));
    m_sandboxNote = m_accountSection->addNote(
        tr("New SES accounts start in the sandbox: you can only send to verified "
           "addresses, 200 per day."));
    m_sandboxNote->setObjectName(QStringLiteral("sandboxNote"));
    m_checkAccount->setObjectName(QStringLiteral("checkAccount"));
    m_accountSection->addRow(trailing(m_checkAccount));

    // 3. Sending domain.
    FormSection* domain = form->addSection(tr("Sending domain"));
    m_domain->setObjectName(QStringLiteral("domain"));
    m_domain->setPlaceholderText(tr("tuesdayletter.com"));
    domain->addRow(tr("Domain"), m_domain);
    m_verified = domain->addValueRow(tr("Verified for sending"));
    m_dkim = domain->addValueRow(tr("DKIM"));
    m_verified->setObjectName(QStringLiteral("verifiedForSending"));
    m_dkim->setObjectName(QStringLiteral("dkimStatus"));
    domain->addRow(m_records);
    domain->addNote(tr("Add these records at your DNS provider. DKIM proves the mail is "
                       "yours, SPF and DMARC keep you out of spam folders."));
    m_verify->setObjectName(QStringLiteral("verifyDomain"));
    domain->addRow(trailing(m_verify));

    // 4. Sender and compliance.
    FormSection* sender = form->addSection(tr("Sender and compliance"));
    m_sender->addTo(sender, sender);
    sender->addNote(tr("Your postal address is printed in every footer (CAN-SPAM). "
                       "Double opt-in is on by default."));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form);

    ProfileBinding::bind(m_region, m_model, &SenderProfile::region);
    ProfileBinding::bind(m_domain, m_model, &SenderProfile::domain);

    connect(m_accessKey, &QLineEdit::textChanged, this, &SESSetupView::refresh);
    connect(m_secretKey, &QLineEdit::textChanged, this, &SESSetupView::refresh);
    connect(m_saveKeys, &QPushButton::clicked, this, &SESSetupView::saveKeys);
    connect(m_checkAccount, &QPushButton::clicked, this, [this] { m_model.refreshSES(); });
    connect(m_verify, &QPushButton::clicked, this, &SESSetupView::verify);
    connect(&m_model, &AppModel::isBusyChanged, this, &SESSetupView::refresh);
    onSetupStateChange(m_model, this, [this] { refresh(); });
    refresh();
}

void SESSetupView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The secret is never read back: each visit starts with empty key fields.
    m_accessKey->clear();
    m_secretKey->clear();
}

namespace {

// The fields are cleared only once the keys are stored: what was typed is never lost.
QCoro::Task<void> saveThenCheck(AppModel& model, QPointer<QLineEdit> accessKey,
                                QPointer<QLineEdit> secretKey) {
    const bool saved = co_await model.saveAWSKeys(accessKey->text(), secretKey->text());
    if (!saved) {
        co_return;
    }
    if (accessKey && secretKey) {
        accessKey->clear();
        secretKey->clear();
    }
    co_await model.refreshSES();
}

} // namespace

void SESSetupView::saveKeys() {
    if (!m_saveKeys->isEnabled()) {
        return;
    }
    saveThenCheck(m_model, m_accessKey, m_secretKey);
}

void SESSetupView::verify() {
    m_model.verifyDomain();
    m_records->recheck();
}

void SESSetupView::refresh() {
    const bool stored = m_model.hasAWSKeys() && !m_model.isDemo();
    m_accessKey->setPlaceholderText(stored ? QString() : tr("AKIA..."));
    m_saved->setVisible(stored);
    QString keysReason;
    if (m_accessKey->text().isEmpty() || m_secretKey->text().isEmpty()) {
        keysReason = tr("Type both keys first.");
    } else if (m_model.isBusy()) {
        keysReason = tr("Wait for the current task to finish.");
    }
    DemoGuard::block(m_saveKeys, m_model, keysReason);

    const auto& account = m_model.account();
    const QString unknown = QStringLiteral("—");
    if (account) {
        m_mode->setText(account->productionAccessEnabled ? tr("Production") : tr("Sandbox"));
        m_quota->setText(tr("%1 of %2 used")
                             .arg(qint64(account->sentLast24Hours))
                             .arg(qint64(account->max24HourSend)));
        // A rate may be fractional ("0.5 emails per second"): only exactly one is singular.
        m_rate->setText(
            Formatting::decimal(account->maxSendRate) +
            (account->maxSendRate == 1 ? tr(" email per second") : tr(" emails per second")));
        m_enforcement->setText(account->enforcementStatus);
    } else {
        for (QLabel* value : {m_mode, m_quota, m_rate, m_enforcement}) {
            value->setText(unknown);
        }
    }
    m_accountSection->setRowVisible(m_sandboxNote, !(account && account->productionAccessEnabled));
    DemoGuard::enable(m_checkAccount, m_model, !m_model.isBusy());

    const auto& identity = m_model.identity();
    m_verified->setText(identity && identity->verifiedForSending ? tr("Yes") : tr("Not yet"));
    m_dkim->setText(identity ? rawValue(identity->dkimStatus) : unknown);
    m_verify->setText(identity ? tr("Refresh Status") : tr("Verify Domain"));
    DemoGuard::enable(m_verify, m_model, !m_model.isBusy());
}

} // namespace quillmere
