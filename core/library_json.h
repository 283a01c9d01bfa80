#pragma once

#include "core/library.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

namespace quillmere::LibraryJSON {

// The library file's bytes, written straight from the records: the same document as
// QJsonDocument(library.toJson()).toJson(Indented), indented by two spaces per level instead of
// four, with keys sorted and delivered ids in ascending order. A large library (100,000 readers,
// millions of delivered ids) writes several times faster than through QJsonObject.
QByteArray write(const Library& library);

// Reads a document in the common shape quickly and exactly as Library::fromJson would. Gives
// none for anything it does not handle on its fast path (unknown or repeated keys, escapes it
// does not expect, fractional numbers, malformed input); the caller then takes the strict path,
// which gives the same result or the precise error.
std::optional<Library> readFast(QByteArrayView bytes);

} // namespace quillmere::LibraryJSON
