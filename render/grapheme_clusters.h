#pragma once

#include <QStringView>

#include <vector>

namespace quillmere::GraphemeClusters {

// Start offsets (in UTF-16 code units) of every grapheme cluster of `text`, followed by
// text.size(); an empty text gives {0}. Runs of ASCII are split without consulting the Unicode
// tables (two ASCII characters always form separate clusters, except CR LF); only the stretches
// around non-ASCII characters go through QTextBoundaryFinder, which gives the same boundaries as
// running it over the whole text.
std::vector<int> boundaries(QStringView text);

// The same, computed by QTextBoundaryFinder over the whole text: the reference for the above.
std::vector<int> boundariesByFinder(QStringView text);

} // namespace quillmere::GraphemeClusters
