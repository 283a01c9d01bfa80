#pragma once

namespace quillmere {

// Loads the interface's texts in the writer's language before the first window is built.
// English is the one there is; it brings the plural forms of the counted texts.
void installTranslations();

} // namespace quillmere
