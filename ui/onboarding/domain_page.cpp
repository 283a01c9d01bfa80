#include "ui/onboarding/domain_page.h"

#include "app/app_model.h"
#include "ses/dns_records.h"
#include "ui/setup/dns_record_list.h"
#include "ui/setup/profile_binding.h"
#include "ui/setup/ses_error_label.h"
#include "ui/setup/setup_state.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/result_line.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quillmere {

DomainPage::DomainPage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::domain, tr("Prove the domain is yours"),
                tr("Add a few records where you manage your domain (Cloudflare, "
                   "Namecheap, GoDaddy and so on). It's copy and paste, and it keeps "
                   "your issues out of spam."),
                parent)
    , m_keysFirst(new QLabel(tr("Connect your Amazon account first."), this))
    , m_body(new QWidget(this))
    , m_domain(new QLineEdit(m_body))
    , m_verify(new ProminentButton(QString(), m_body))
    , m_records(new DNSRecordList(model, m_body))
    , m_spfNote(new QLabel(m_body))
    , m_status(new ResultLine(m_body))
    , m_error(new SESErrorLabel(model, m_body)) {
    m_keysFirst->setObjectName(QStringLiteral("keysFirst"));
    m_domain->setObjectName(QStringLiteral("domain"));
    m_domain->setPlaceholderText(tr("tuesdayletter.com"));
    m_verify->setObjectName(QStringLiteral("verifyDomain"));
    m_status->setObjectName(QStringLiteral("domainStatus"));
    m_spfNote->setWordWrap(true);
    m_spfNote->setText(
        tr("If you already have an SPF record, add %1 to it instead of creating a second "
           "one. DNS changes can take up to an hour.")
            .arg(QStringLiteral("include:") + DNSRecords::sesMailDomain));
    Style::setTextColor(m_spfNote, Style::secondaryText(this));

    auto* domainSection = new FormSection({}, m_body);
    // One field widget for the text field and its button, so the label centres on the row.
    auto* domainField = new QWidget(domainSection);
    auto* domainRow = new QHBoxLayout(domainField);
    domainRow->setContentsMargins(0, 0, 0, 0);
    domainRow->setSpacing(8);
    domainRow->addWidget(m_domain, 1);
    domainRow->addWidget(m_verify);
    domainSection->addRow(tr("Domain"), domainField);

    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(14);
    body->addWidget(domainSection);
    body->addWidget(m_error);
    body->addWidget(m_records);
    body->addWidget(m_spfNote);
    body->addWidget(m_status);
    column()->addWidget(m_keysFirst);
    column()->addWidget(m_body);

    ProfileBinding::bind(m_domain, m_model, &SenderProfile::domain);
    connect(m_verify, &QPushButton::clicked, this, &DomainPage::verify);
    connect(&m_model, &AppModel::isBusyChanged, this, &DomainPage::refresh);
    onSetupStateChange(m_model, this, [this] { refresh(); });
    refresh();
}

void DomainPage::verify() {
    m_model.verifyDomain();
    m_records->recheck();
}

void DomainPage::refresh() {
    // The sample account stands in for keys in demo mode, as it does on the rail.
    const bool keys = m_model.hasAWSKeys() || m_model.isDemo();
    m_keysFirst->setVisible(!keys);
    m_body->setVisible(keys);
    const auto& identity = m_model.identity();
    m_verify->setText(identity ? tr("Check again") : tr("Get my records"));
    QString reason;
    if (m_model.library().profile.domain.trimmed().isEmpty()) {
        reason = tr("Type your domain first.");
    } else if (m_model.isBusy()) {
        reason = tr("Wait for the current task to finish.");
    }
    DemoGuard::block(m_verify, m_model, reason);
    if (identity && identity->verifiedForSending) {
        m_status->set(true,
                      tr("Verified. Amazon will sign your emails for %1.").arg(identity->identity));
    } else {
        m_status->set(false, tr("Waiting for the records to show up. Check again in a "
                                "few minutes."));
    }
}

} // namespace quillmere
