#pragma once

#include "core/library.h"

#include <QByteArray>
#include <QString>

namespace quillmere::LibraryFile {

// Indented UTF-8 JSON with keys sorted at every level and delivered ids in a stable order, so
// that one value always gives the same bytes.
QByteArray encode(const Library& library);

// Raises DecodingError naming what failed.
Library decode(const QByteArray& bytes);

// Reads the file; a missing file is the empty library. Raises FileError or DecodingError.
Library read(const QString& path);

// Creates the folder, then replaces the file atomically: a reader sees the old file or the new
// one, never a part. Raises FileError; the previous file stays intact on failure.
void write(const QString& path, const Library& library);

} // namespace quillmere::LibraryFile
