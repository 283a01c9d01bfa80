#include "render/grapheme_clusters.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace quillmere::GraphemeClusters {

namespace {

void appendFinderBoundaries(QStringView text, int from, int to, std::vector<int>& out) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data() + from, to - from);
    finder.toStart();
    qsizetype p;
    while ((p = finder.toNextBoundary()) != -1) {
        const int absolute = from + int(p);
        if (absolute >= to) {
            break;
        }
        if (absolute > from) {
            out.push_back(absolute);
        }
    }
}

// Scripts whose clusters Qt may tailor by run; any of them sends the text through the finder.
bool hasTailoredScript(QStringView text) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (c < 0x80) {
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(char16_t(c), text[i + 1].unicode());
            ++i;
        }
        const QChar::Script script = QChar::script(c);
        if (script >= QChar::Script_Greek && script <= QChar::Script_Khmer) {
            return true;
        }
    }
    return false;
}

// Qt's tailoring for some scripts works on code units and can report a boundary between the
// two halves of a surrogate pair; a character is never split, so such boundaries are dropped.
std::vector<int> keepPairsWhole(QStringView text, std::vector<int> b) {
    const auto inside = [&](int p) {
        return p > 0 && p < text.size() && text[p - 1].isHighSurrogate() &&
               text[p].isLowSurrogate();
    };
    b.erase(std::remove_if(b.begin(), b.end(), inside), b.end());
    return b;
}

} // namespace

std::vector<int> boundaries(QStringView text) {
    const int n = int(text.size());
    const char16_t* u = text.utf16();
    bool ascii = true;
    for (int i = 0; i < n && ascii; ++i) {
        ascii = u[i] < 0x80;
    }
    if (!ascii && hasTailoredScript(text)) {
        return boundariesByFinder(text);
    }
    // Below, the finder only ever runs on untailored stretches, which keep pairs whole.
    auto isSimple = [](char16_t c) { return c < 0x80 || isStandalone(c); };
    std::vector<int> out;
    out.reserve(size_t(n) + 1);
    int i = 0;
    while (i < n) {
        if (isSimple(u[i])) {
            if (i == 0 || !(u[i - 1] == u'\r' && u[i] == u'\n')) {
                out.push_back(i);
            }
            ++i;
            continue;
        }
        // A stretch of other code units, with one simple neighbour on each side: the break rules
        // only ever look at adjacent pairs across such a character, so the boundaries found here
        // are those of the whole text.
        const int a = i;
        int z = a;
        while (z < n && !isSimple(u[z])) {
            ++z;
        }
        const int from = a > 0 ? a - 1 : 0;
        const int to = z < n ? z + 1 : n;
        if (a == 0) {
            out.push_back(0);
        }
        appendFinderBoundaries(text, from, to, out);
        i = to;
    }
    out.push_back(n);
    return out;
}

std::vector<int> boundariesByFinder(QStringView text) {
    std::vector<int> out;
    out.push_back(0);
    if (text.isEmpty()) {
        return out;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    finder.toStart();
    qsizetype p;
    while ((p = finder.toNextBoundary()) != -1) {
        if (p > 0) {
            out.push_back(int(p));
        }
    }
    if (out.back() != int(text.size())) {
        out.push_back(int(text.size()));
    }
    return keepPairsWhole(text, std::move(out));
}

} // namespace quillmere::GraphemeClusters
