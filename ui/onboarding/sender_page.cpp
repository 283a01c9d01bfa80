#include "ui/onboarding/sender_page.h"

#include "app/app_model.h"
#include "ui/setup/postal_address_field.h"
#include "ui/setup/profile_binding.h"
#include "ui/widgets/form_section.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace quillmere {

SenderPage::SenderPage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::sender, QStringLiteral("Who is it from?"),
                QStringLiteral("This is what readers see in their inbox. The law in most countries "
                               "also asks for a postal address in every email."),
                parent)
    , m_publicationName(new QLineEdit(this))
    , m_fromName(new QLineEdit(this))
    , m_fromEmail(new QLineEdit(this))
    , m_replyTo(new QLineEdit(this))
    , m_postalAddress(new PostalAddressField(this))
    , m_doubleOptIn(
          new QCheckBox(QStringLiteral("Ask new readers to confirm (recommended)"), this)) {
    const struct {
        QLineEdit* field;
        const char* name;
        const char* placeholder;
    } fields[] = {
        {m_publicationName, "publicationName", "The Tuesday Letter"},
        {m_fromName, "fromName", "Ada Palmer"},
        {m_fromEmail, "fromEmail", "ada@tuesdayletter.com"},
        {m_replyTo, "replyTo", "letters@tuesdayletter.com"},
    };
    for (const auto& f : fields) {
        f.field->setObjectName(QString::fromLatin1(f.name));
        f.field->setPlaceholderText(QString::fromUtf8(f.placeholder));
    }
    m_postalAddress->setObjectName(QStringLiteral("postalAddress"));
    m_postalAddress->setPlaceholderText(QStringLiteral("Street, city, postcode, country"));
    m_doubleOptIn->setObjectName(QStringLiteral("doubleOptIn"));

    auto* names = new FormSection({}, this);
    names->addRow(QStringLiteral("Newsletter name"), m_publicationName);
    names->addRow(QStringLiteral("Your name"), m_fromName);
    names->addRow(QStringLiteral("From address"), m_fromEmail);
    names->addRow(QStringLiteral("Replies go to"), m_replyTo);
    names->addRow(QStringLiteral("Postal address"), m_postalAddress);
    names->addNote(QStringLiteral("A PO box or a mailbox service address is fine."));
    column()->addWidget(names);

    auto* consent = new FormSection({}, this);
    consent->addRow(m_doubleOptIn);
    consent->addNote(QStringLiteral("New signups get a confirmation email first. It keeps typos "
                                    "and spam traps off your list, and Amazon likes it."));
    column()->addWidget(consent);

    ProfileBinding::bind(m_publicationName, m_model, &SenderProfile::publicationName);
    ProfileBinding::bind(m_fromName, m_model, &SenderProfile::fromName);
    ProfileBinding::bind(m_fromEmail, m_model, &SenderProfile::fromEmail);
    ProfileBinding::bind(m_replyTo, m_model, &SenderProfile::replyTo);
    ProfileBinding::bind(m_postalAddress, m_model, &SenderProfile::postalAddress);
    ProfileBinding::bind(m_doubleOptIn, m_model, &SenderProfile::doubleOptIn);
}

} // namespace quillmere
