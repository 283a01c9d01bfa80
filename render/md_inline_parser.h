#pragma once

#include "render/md_inline.h"

namespace quillmere::MDInlineParser {

// The range of a bracketed link's text (excluding the brackets), its destination after
// unescaping and the index just after the closing parenthesis; indices count grapheme clusters.
struct LinkParts {
    int textLo = 0;
    int textHi = 0;
    QString dest;
    int end = 0;
};

// Parses the text of one heading or paragraph. Never fails: what does not match stays text.
// U+001E marks a hard break (placed by the block parser). Adjacent text nodes are merged.
QList<MDInline> parse(const QString& text, bool allowLinks);

// Flattens nodes to plain text: links show their address in parentheses after their text.
QString plainText(const QList<MDInline>& nodes);

// The one URL filter: absolute http(s) addresses, and mailto addresses when allowed. Anything
// else (relative paths, other schemes, spaces or control characters) gives none.
std::optional<QString> safeURL(QStringView raw, bool allowMailto);

// An image's source: a safe URL, or an image of the library's own, "media/<name>", which the
// renderer points at wherever the images are hosted.
std::optional<QString> imageURL(QStringView raw);

// Joins each run of adjacent text nodes into one.
QList<MDInline> mergeText(const QList<MDInline>& nodes);

} // namespace quillmere::MDInlineParser
