#include "ui/onboarding/sender_page.h"

#include "ui/setup/sender_details_form.h"
#include "ui/widgets/form_section.h"

#include <QVBoxLayout>

namespace quillmere {

SenderPage::SenderPage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::sender, tr("Who is it from?"),
                tr("This is what readers see in their inbox. The law in most countries "
                   "also asks for a postal address in every email."),
                parent)
    , m_form(new SenderDetailsForm(model,
                                   {tr("Newsletter name"), tr("Your name"), tr("From address"),
                                    tr("Replies go to"), tr("Postal address"),
                                    tr("Ask new readers to confirm (recommended)")},
                                   this)) {
    auto* names = new FormSection({}, this);
    auto* consent = new FormSection({}, this);
    m_form->addTo(names, consent);
    names->addNote(tr("A PO box or a mailbox service address is fine."));
    consent->addNote(tr("New signups get a confirmation email first. It keeps typos and spam "
                        "traps off your list, and Amazon likes it."));
    column()->addWidget(names);
    column()->addWidget(consent);
    connect(m_form, &SenderDetailsForm::fromProblemChanged, this, &GuidePage::blockerChanged);
}

QString SenderPage::blocker() const {
    return m_form->fromProblem();
}

} // namespace quillmere
