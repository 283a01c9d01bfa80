#pragma once

#include <QStringView>

#include <vector>

namespace quillmere::GraphemeClusters {

// Start offsets (in UTF-16 code units) of every grapheme cluster of `text`, followed by
// text.size(); an empty text gives {0}. The boundaries are those QTextBoundaryFinder finds over
// the whole text, computed faster: two ASCII characters always form separate clusters (except
// CR LF), so only the stretches around non-ASCII characters go through the finder. That holds
// for the default rules, which look at neighbours only; Qt tailors the rules for some scripts
// (Indic, Thai, Tibetan, Myanmar, Khmer, ...) by whole script runs, so a text holding any of
// those goes through the finder whole.
std::vector<int> boundaries(QStringView text);

// True for code units that always form a cluster of their own next to ASCII or to one another:
// Latin-1 and Latin Extended letters, general punctuation (dashes, curly quotes) and currency
// signs. None of them extends, joins or pairs with a neighbour, so a text made of ASCII and
// these needs no boundary search at all.
constexpr bool isStandalone(char16_t u) {
    return (u >= 0x00A0 && u <= 0x024F) || (u >= 0x2010 && u <= 0x2027) ||
           (u >= 0x2030 && u <= 0x205E) || (u >= 0x20A0 && u <= 0x20CF);
}

// The same, computed by QTextBoundaryFinder over the whole text: the reference for the above.
// Both never report a boundary inside a surrogate pair, which Qt's tailored rules for some
// scripts would.
std::vector<int> boundariesByFinder(QStringView text);

} // namespace quillmere::GraphemeClusters
