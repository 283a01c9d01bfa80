#pragma once

#include "core/error.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace quillmere {

// An image that cannot go into an issue; the description says why and what to do.
class ImageImportError : public Error {
public:
    using Error::Error;
};

// Turning a picture the writer brings into a file of the library's media folder: at most
// 1,600 pixels wide, re-encoded (JPEG for photographs, PNG where there is transparency, a small
// GIF kept as it is, so animations survive), and named after its bytes. Re-encoding also
// drops what cameras write into files (location, device).
namespace ImageImport {

constexpr int maxWidth = 1600;
constexpr int jpegQuality = 82;
constexpr qsizetype keptGIFBytes = 1'000'000;

struct Prepared {
    QByteArray bytes;
    QString extension; // jpg, png or gif

    bool operator==(const Prepared&) const = default;
};

// From the bytes of an image file, or from a picture on the clipboard. Raises
// ImageImportError for something that is not a readable image or is too large to host.
Prepared prepare(const QByteArray& bytes);
Prepared prepare(QImage image);

// Writes the prepared image into `folder` (created when missing) and returns its name; the
// same picture twice is the same file.
QString store(const Prepared& image, const QString& folder);

// The Markdown that shows a stored image: ![description](media/<name>).
QString markdown(const QString& description, const QString& name);

// A file's name without folder and extension, as the image's first description.
QString descriptionOf(const QString& path);

} // namespace ImageImport

} // namespace quillmere
