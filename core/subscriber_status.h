#pragma once

#include "core/enum_traits.h"

namespace quillmere {

enum class SubscriberStatus { pending, active, unsubscribed, bounced, complained };

template <>
struct EnumTraits<SubscriberStatus> {
    static constexpr std::array cases{
        std::pair{SubscriberStatus::pending, "pending"},
        std::pair{SubscriberStatus::active, "active"},
        std::pair{SubscriberStatus::unsubscribed, "unsubscribed"},
        std::pair{SubscriberStatus::bounced, "bounced"},
        std::pair{SubscriberStatus::complained, "complained"},
    };
};

// Only active readers ever receive an issue.
constexpr bool isSendable(SubscriberStatus status) {
    return status == SubscriberStatus::active;
}

} // namespace quillmere
