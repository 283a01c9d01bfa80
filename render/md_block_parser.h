#pragma once

#include "render/md_block.h"

namespace quillmere::MDBlockParser {

// Parses an issue's Markdown into blocks: ATX headings, fenced code, block quotes, bullet and
// ordered lists, thematic breaks and paragraphs. Never fails; any input gives a (possibly empty)
// list. Quotes and lists may nest to any depth: the parser keeps its own stack and works on views
// of the input lines, so time stays proportional to the input for deep nesting.
QList<MDBlock> parse(const QString& markdown);

} // namespace quillmere::MDBlockParser
