#pragma once

#include <QString>

namespace quillmere::InlineMarkup {

// Rich text for a short instruction written with **strong** and `code` spans: everything else is
// escaped, so a typed or quoted "<" stays a character.
QString toHtml(const QString& text);

// The same instruction as plain text, markers removed.
QString toPlain(const QString& text);

} // namespace quillmere::InlineMarkup
