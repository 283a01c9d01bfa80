#pragma once

#include "render/md_block.h"

namespace quillmere::MarkdownRenderer {

// The unstyled HTML fragment: a small fixed tag vocabulary whose exact opening tags the email
// templates restyle. Blocks are joined with "\n".
QString html(const QString& markdown);
// Images of the library ("media/<name>") point under `mediaBase`; without one they show their
// description only, as any image without a usable source.
QString html(const QList<MDBlock>& blocks, QStringView mediaBase = {});

// The readable plain-text form, blocks joined with an empty line.
QString plainText(const QString& markdown);
QString plainText(const QList<MDBlock>& blocks);

// The HTML of inline nodes alone.
QString inlineHTML(const QList<MDInline>& nodes);

// The one HTML escaper: & < > " ' become entities, everything else is copied.
QString escapeHTML(QStringView s);
void appendEscapedHTML(QString& out, QStringView s);

} // namespace quillmere::MarkdownRenderer
