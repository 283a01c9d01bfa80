#pragma once

#include "core/enum_traits.h"

namespace quillmere {

enum class CampaignStatus { draft, sending, paused, sent, failed };

template <>
struct EnumTraits<CampaignStatus> {
    static constexpr std::array cases{
        std::pair{CampaignStatus::draft, "draft"},   std::pair{CampaignStatus::sending, "sending"},
        std::pair{CampaignStatus::paused, "paused"}, std::pair{CampaignStatus::sent, "sent"},
        std::pair{CampaignStatus::failed, "failed"},
    };
};

} // namespace quillmere
