#pragma once

#include <QStringView>

#include <cstdint>

namespace quillmere::HTMLEscape {

// The five characters that user text may not carry into HTML as they are: & < > " '. All lie
// below 64, so one bit mask tells them apart.
constexpr uint64_t kSpecial = (uint64_t(1) << '&') | (uint64_t(1) << '<') | (uint64_t(1) << '>') |
                              (uint64_t(1) << '"') | (uint64_t(1) << '\'');

constexpr bool isSpecial(char16_t u) {
    return u < 64 && ((kSpecial >> u) & 1);
}

constexpr QStringView entity(char16_t u) {
    switch (u) {
    case u'&':
        return u"&amp;";
    case u'<':
        return u"&lt;";
    case u'>':
        return u"&gt;";
    case u'"':
        return u"&quot;";
    default:
        return u"&#39;";
    }
}

// Hands `put` the escaped form of `s`, piece by piece: runs copied as they are, entities between.
template <class Put>
void escape(QStringView s, Put&& put) {
    const char16_t* u = s.utf16();
    const qsizetype n = s.size();
    qsizetype from = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (!isSpecial(u[i])) {
            continue;
        }
        if (i > from) {
            put(s.mid(from, i - from));
        }
        put(entity(u[i]));
        from = i + 1;
    }
    if (from < n) {
        put(s.mid(from));
    }
}

} // namespace quillmere::HTMLEscape
