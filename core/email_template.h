#pragma once

#include "core/enum_traits.h"

namespace quillmere {

enum class EmailTemplate { plain, editorial, letter };

template <>
struct EnumTraits<EmailTemplate> {
    static constexpr std::array cases{
        std::pair{EmailTemplate::plain, "plain"},
        std::pair{EmailTemplate::editorial, "editorial"},
        std::pair{EmailTemplate::letter, "letter"},
    };
};

inline QString displayName(EmailTemplate t) {
    switch (t) {
    case EmailTemplate::plain:
        return QStringLiteral("Plain");
    case EmailTemplate::editorial:
        return QStringLiteral("Editorial");
    case EmailTemplate::letter:
        return QStringLiteral("Letter");
    }
    return {};
}

} // namespace quillmere
