#include "app/onboarding_step.h"

namespace quillmere {

QString title(OnboardingStep step) {
    switch (step) {
    case OnboardingStep::welcome:
        return QStringLiteral("Welcome");
    case OnboardingStep::amazon:
        return QStringLiteral("Connect Amazon");
    case OnboardingStep::sender:
        return QStringLiteral("Who it's from");
    case OnboardingStep::domain:
        return QStringLiteral("Prove your domain");
    case OnboardingStep::signup:
        return QStringLiteral("Signup and unsubscribe");
    case OnboardingStep::readers:
        return QStringLiteral("Bring your readers");
    case OnboardingStep::done:
        return QStringLiteral("Ready");
    }
    return {};
}

} // namespace quillmere
