#pragma once

#include <QStringView>

namespace quillmere {

constexpr bool isSpaceOrTab(QChar c) {
    return c == u' ' || c == u'\t';
}

// Unlike QString::trimmed(), keeps line breaks and other white space: a value pasted with a line
// break is left for the writer to see, and CSV fields and header values trim only these two.
inline QStringView trimSpacesAndTabs(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text[begin])) {
        ++begin;
    }
    while (end > begin && isSpaceOrTab(text[end - 1])) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

} // namespace quillmere
