#pragma once

#include "core/library.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillmere::LibraryFile {

// Indented UTF-8 JSON with keys sorted at every level and delivered ids in a stable order, so
// that one value always gives the same bytes.
QByteArray encode(const Library& library);

// Raises DecodingError naming what failed.
Library decode(const QByteArray& bytes);

// A file that decoded only in part: one of the library's parts ("subscribers", say) is missing
// while the file holds members this version does not read ("subscriber"), most likely that
// part under another name. Those members are kept and written back, but the writer sees an
// empty list and must hear why.
struct Partial {
    QStringList missing; // "profile", "subscribers" or "newsletters"
    QStringList unread;  // the members not read, as the file names them
};

struct Loaded {
    Library library;
    std::optional<Partial> partial;
};

// Reads the file; a missing file is the empty library. Raises FileError or DecodingError.
Loaded load(const QString& path);
inline Library read(const QString& path) {
    return load(path).library;
}

// Creates the folder, then replaces the file atomically: a reader sees the old file or the new
// one, never a part. Raises FileError; the previous file stays intact on failure.
void write(const QString& path, const Library& library);

} // namespace quillmere::LibraryFile
