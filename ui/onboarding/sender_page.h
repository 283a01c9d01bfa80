#pragma once

#include "ui/onboarding/guide_page.h"

class QCheckBox;
class QLineEdit;

namespace quillmere {

class PostalAddressField;

// The guide's page for what readers see in their inbox: names, addresses, postal address and
// double opt-in, all written straight into the profile.
class SenderPage : public GuidePage {
    Q_OBJECT

public:
    explicit SenderPage(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* publicationNameField() const { return m_publicationName; }
    QLineEdit* fromNameField() const { return m_fromName; }
    QLineEdit* fromEmailField() const { return m_fromEmail; }
    QLineEdit* replyToField() const { return m_replyTo; }
    PostalAddressField* postalAddressField() const { return m_postalAddress; }
    QCheckBox* doubleOptInToggle() const { return m_doubleOptIn; }

private:
    QLineEdit* m_publicationName;
    QLineEdit* m_fromName;
    QLineEdit* m_fromEmail;
    QLineEdit* m_replyTo;
    PostalAddressField* m_postalAddress;
    QCheckBox* m_doubleOptIn;
};

} // namespace quillmere
