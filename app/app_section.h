#pragma once

#include "core/enum_traits.h"

namespace quillmere {

// The sidebar sections of the main window.
enum class AppSection { newsletters, subscribers, stats, setup, worker, production };

template <>
struct EnumTraits<AppSection> {
    static constexpr std::array cases{
        std::pair{AppSection::newsletters, "newsletters"},
        std::pair{AppSection::subscribers, "subscribers"},
        std::pair{AppSection::stats, "stats"},
        std::pair{AppSection::setup, "setup"},
        std::pair{AppSection::worker, "worker"},
        std::pair{AppSection::production, "production"},
    };
};

} // namespace quillmere
