#pragma once

#include <QString>

#include <optional>

class QMimeData;

namespace quillmere::PictureDrop {

// The Markdown for the pictures in dropped or pasted data, after storing each in `folder`:
// local image files by name, else a picture on the clipboard. None when the data holds no
// picture. Raises ImageImportError or FileError for a picture that cannot be used.
std::optional<QString> markdownFor(const QMimeData* data, const QString& folder);

// The same for one chosen file.
QString markdownForFile(const QString& path, const QString& folder);

} // namespace quillmere::PictureDrop
