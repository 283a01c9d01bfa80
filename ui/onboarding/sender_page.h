#pragma once

#include "ui/onboarding/guide_page.h"

namespace quillmere {

class SenderDetailsForm;

// The guide's page for what readers see in their inbox: names, addresses, postal address and
// double opt-in, all written straight into the profile. It holds the guide back while the From
// address is not an address.
class SenderPage : public GuidePage {
    Q_OBJECT

public:
    explicit SenderPage(AppModel& model, QWidget* parent = nullptr);

    SenderDetailsForm* senderForm() const { return m_form; }
    QString blocker() const override;

private:
    SenderDetailsForm* m_form;
};

} // namespace quillmere
