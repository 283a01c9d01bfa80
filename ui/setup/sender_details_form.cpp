#include "ui/setup/sender_details_form.h"

#include "app/app_model.h"
#include "ses/compliance.h"
#include "ui/setup/postal_address_field.h"
#include "ui/setup/profile_binding.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/style.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace quillmere {

SenderDetailsForm::SenderDetailsForm(AppModel& model, const Labels& labels, QWidget* parent)
    : QObject(parent)
    , m_model(model)
    , m_labels(labels)
    , m_fromName(new QLineEdit(parent))
    , m_fromEmail(new QLineEdit(parent))
    , m_replyTo(new QLineEdit(parent))
    , m_postalAddress(new PostalAddressField(parent))
    , m_doubleOptIn(new QCheckBox(labels.doubleOptIn, parent))
    , m_fromError(new QLabel(parent)) {
    if (!labels.publicationName.isEmpty()) {
        m_publicationName = new QLineEdit(parent);
        m_publicationName->setObjectName(QStringLiteral("publicationName"));
        m_publicationName->setPlaceholderText(tr("The Tuesday Letter"));
        ProfileBinding::bind(m_publicationName, m_model, &SenderProfile::publicationName);
    }
    const struct {
        QLineEdit* field;
        const char* name;
        QString placeholder;
    } fields[] = {
        {m_fromName, "fromName", tr("Ada Palmer")},
        {m_fromEmail, "fromEmail", tr("ada@tuesdayletter.com")},
        {m_replyTo, "replyTo", tr("letters@tuesdayletter.com")},
    };
    for (const auto& f : fields) {
        f.field->setObjectName(QString::fromLatin1(f.name));
        f.field->setPlaceholderText(f.placeholder);
    }
    m_postalAddress->setObjectName(QStringLiteral("postalAddress"));
    m_postalAddress->setPlaceholderText(tr("Street, city, postcode, country"));
    m_doubleOptIn->setObjectName(QStringLiteral("doubleOptIn"));
    m_fromError->setObjectName(QStringLiteral("fromError"));
    m_fromError->setWordWrap(true);
    Style::setTextColor(m_fromError, Style::red);
    m_fromEmail->setAccessibleName(labels.fromEmail);

    ProfileBinding::bind(m_fromName, m_model, &SenderProfile::fromName);
    ProfileBinding::bind(m_fromEmail, m_model, &SenderProfile::fromEmail);
    ProfileBinding::bind(m_replyTo, m_model, &SenderProfile::replyTo);
    ProfileBinding::bind(m_postalAddress, m_model, &SenderProfile::postalAddress);
    ProfileBinding::bind(m_doubleOptIn, m_model, &SenderProfile::doubleOptIn);
    connect(&m_model, &AppModel::profileChanged, this, &SenderDetailsForm::refreshProblem);
    refreshProblem();
}

void SenderDetailsForm::addTo(FormSection* fields, FormSection* consent) {
    m_fields = fields;
    if (m_publicationName) {
        fields->addRow(m_labels.publicationName, m_publicationName);
    }
    fields->addRow(m_labels.fromName, m_fromName);
    fields->addRow(m_labels.fromEmail, m_fromEmail);
    fields->addRow(m_fromError);
    fields->addRow(m_labels.replyTo, m_replyTo);
    fields->addRow(m_labels.postalAddress, m_postalAddress);
    consent->addRow(m_doubleOptIn);
    refreshProblem();
}

QString SenderDetailsForm::fromProblem() const {
    return m_problem;
}

void SenderDetailsForm::refreshProblem() {
    QString problem;
    const SenderProfile& profile = m_model.library().profile;
    if (!profile.fromEmail.trimmed().isEmpty()) {
        for (const ComplianceIssue& finding : Compliance::check(profile, Newsletter{})) {
            if (finding.id == QLatin1String("from-email")) {
                problem = finding.message;
            }
        }
    }
    m_fromError->setText(problem);
    if (m_fields) {
        m_fields->setRowVisible(m_fromError, !problem.isEmpty());
    }
    if (problem != m_problem) {
        m_problem = problem;
        Q_EMIT fromProblemChanged();
    }
}

} // namespace quillmere
