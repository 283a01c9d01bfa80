#pragma once

#include "render/md_block.h"

// A deliberately plain reading of the Markdown dialect: recursive, copying strings, scanning
// afresh every time, with grapheme clusters from QTextBoundaryFinder over the whole text. It is
// slow and has no guard against deep nesting; the tests and the fuzzer compare the production
// parser and renderer (memoised scans, explicit stacks, line views) against it on inputs small
// enough for it.
namespace quillmere::reference {

QList<MDInline> parseInline(const QString& text, bool allowLinks);
QList<MDBlock> parseBlocks(const QString& markdown);
QString html(const QList<MDBlock>& blocks);
QString plainText(const QList<MDBlock>& blocks);

} // namespace quillmere::reference
