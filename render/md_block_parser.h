#pragma once

#include "render/md_block.h"

namespace quillmere::MDBlockParser {

// Parses an issue's Markdown into blocks: ATX headings, fenced code, block quotes, bullet and
// ordered lists, thematic breaks and paragraphs. Never fails; any input gives a (possibly empty)
// list. Quotes and lists may nest to any depth: the parser keeps its own stack and works on views
// of the input lines, so time stays proportional to the input for deep nesting.
QList<MDBlock> parse(const QString& markdown);

// The same blocks as they are met, in document order, without building the tree: what renders a
// document in one pass. Containers open and close around their content; the text of headings and
// paragraphs comes as the inline parser takes it.
class Events {
public:
    virtual ~Events() = default;
    virtual void heading(int level, const QString& text) = 0;
    virtual void paragraph(const QString& text) = 0;
    virtual void code(const std::optional<QString>& language, const QString& text) = 0;
    virtual void rule() = 0;
    virtual void beginQuote() = 0;
    virtual void endQuote() = 0;
    virtual void beginList(bool ordered, qint64 start, bool tight) = 0;
    virtual void beginItem() = 0;
    virtual void endItem() = 0;
    virtual void endList() = 0;
};
void parse(const QString& markdown, Events& events);

} // namespace quillmere::MDBlockParser
