// The library file's decoding on arbitrary bytes. Whatever the bytes, decoding gives a library or
// a DecodingError, nothing else, and never accepts what QJsonDocument refuses as JSON. Whatever
// decodes writes back to bytes that QJsonDocument reads as the library's own JSON, that read
// again as the same library, and write again as the same bytes. (Writing brings every date into
// the years 1 to 9999, the only change a write may make.)

#include "core/decoding_error.h"
#include "core/iso_date.h"
#include "core/library_file.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace quillmere;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "library decoding: %s\n", what);
    std::abort();
}

bool qtReadsAnObject(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    QJsonParseError error{};
    return QJsonDocument::fromJson(bytes, &error).isObject() &&
           error.error == QJsonParseError::NoError;
}

// What a write keeps of a library: every date within the four-digit years.
Library writable(Library library) {
    for (Subscriber& s : library.subscribers) {
        s.createdAt = IsoDate::writable(s.createdAt);
        s.updatedAt = IsoDate::writable(s.updatedAt);
    }
    for (Newsletter& n : library.newsletters) {
        n.createdAt = IsoDate::writable(n.createdAt);
        if (n.sentAt) {
            n.sentAt = IsoDate::writable(*n.sentAt);
        }
    }
    if (library.lastSync) {
        library.lastSync = IsoDate::writable(*library.lastSync);
    }
    return library;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    std::optional<Library> decoded;
    try {
        decoded = LibraryFile::decode(bytes);
    } catch (const DecodingError&) {
        return 0;
    }
    if (!qtReadsAnObject(bytes)) {
        fail("decode accepts what QJsonDocument refuses");
    }
    const QByteArray written = LibraryFile::encode(*decoded);
    const Library again = LibraryFile::decode(written);
    if (!(again == writable(*decoded))) {
        fail("encode then decode changes the library");
    }
    if (QJsonDocument::fromJson(written).object() != again.toJson()) {
        fail("QJsonDocument reads our own file as something else");
    }
    if (LibraryFile::encode(again) != written) {
        fail("writing is not deterministic");
    }
    return 0;
}
