#pragma once

#include "core/enum_traits.h"

namespace quillmere {

// The export a CSV file came from, recognised by its header columns.
enum class CSVFormat { substack, beehiiv, mailchimp, generic };

template <>
struct EnumTraits<CSVFormat> {
    static constexpr std::array cases{
        std::pair{CSVFormat::substack, "substack"},
        std::pair{CSVFormat::beehiiv, "beehiiv"},
        std::pair{CSVFormat::mailchimp, "mailchimp"},
        std::pair{CSVFormat::generic, "generic"},
    };
};

} // namespace quillmere
