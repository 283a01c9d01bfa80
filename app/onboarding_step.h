#pragma once

#include "core/enum_traits.h"

namespace quillmere {

// The pages of the guided setup, in order.
enum class OnboardingStep { welcome, amazon, sender, domain, signup, readers, done };

template <>
struct EnumTraits<OnboardingStep> {
    static constexpr std::array cases{
        std::pair{OnboardingStep::welcome, "welcome"},
        std::pair{OnboardingStep::amazon, "amazon"},
        std::pair{OnboardingStep::sender, "sender"},
        std::pair{OnboardingStep::domain, "domain"},
        std::pair{OnboardingStep::signup, "signup"},
        std::pair{OnboardingStep::readers, "readers"},
        std::pair{OnboardingStep::done, "done"},
    };
};

// The title shown in the guide's rail and in the Setup tab of the settings.
QString title(OnboardingStep step);

// The five steps that setup progress counts, in order.
inline constexpr std::array<OnboardingStep, 5> workingSteps{
    OnboardingStep::amazon, OnboardingStep::sender, OnboardingStep::domain, OnboardingStep::signup,
    OnboardingStep::readers};

} // namespace quillmere
