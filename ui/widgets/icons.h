#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace quillmere::Icons {

// The icon for one of the design's symbol names ("newspaper", "person.2", ...): the desktop
// theme's icon when the theme has a matching one, else our own line drawing in the palette's
// text colour, so nothing is blank on a bare system.
QIcon symbol(const QString& name);

// Our own drawing of a symbol in one colour, for icons whose colour carries meaning (status
// labels, compliance lines) and must look the same under every theme.
QIcon tinted(const QString& name, const QColor& color);

// Whether a drawing of that symbol is bundled.
bool hasBundled(const QString& name);

// The application icon.
QIcon application();

} // namespace quillmere::Icons
