#pragma once

#include <QHashFunctions>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>
#include <utility>

namespace quillmere {

// Every stored enumeration specialises EnumTraits with its cases and raw texts, in case order:
//   template <> struct EnumTraits<Colour> {
//       static constexpr std::array cases{std::pair{Colour::red, "red"}, ...};
//   };
// The generic helpers below then give the raw text, the reverse lookup and the list of cases.
template <class E>
struct EnumTraits;

template <class E>
QString rawValue(E value) {
    for (const auto& [c, raw] : EnumTraits<E>::cases) {
        if (c == value) {
            return QString::fromLatin1(raw);
        }
    }
    return {};
}

template <class E>
std::optional<E> fromRaw(QStringView raw) {
    for (const auto& [c, text] : EnumTraits<E>::cases) {
        if (raw == QLatin1String(text)) {
            return c;
        }
    }
    return std::nullopt;
}

template <class E>
constexpr auto allCases() {
    constexpr auto& cases = EnumTraits<E>::cases;
    std::array<E, cases.size()> out{};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        out[i] = cases[i].first;
    }
    return out;
}

// Stored enumerations hash as their case number.
template <class E, class = decltype(EnumTraits<E>::cases)>
size_t qHash(E value, size_t seed = 0) {
    return ::qHash(static_cast<std::underlying_type_t<E>>(value), seed);
}

} // namespace quillmere
