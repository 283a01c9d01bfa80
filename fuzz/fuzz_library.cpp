// The library file's decoding on arbitrary bytes. Whatever the bytes, decoding gives a library or
// a DecodingError, nothing else. The fast reader never disagrees with the strict one: when it
// gives a value, the strict path (QJsonDocument and Library::fromJson) gives an equal one. And
// whatever decodes writes back to bytes that read again, on the fast path (the strict one when a
// lone surrogate is written as an escape), as the same library, and write again as the same bytes.
// (Writing brings every date into the years 1 to 9999, the only change a write may make.)

#include "core/decoding_error.h"
#include "core/iso_date.h"
#include "core/library_file.h"
#include "core/library_json.h"

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

// The strict path alone: none where it refuses the document.
std::optional<Library> strict(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    try {
        return Library::fromJson(document.object());
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

bool holdsSurrogateEscape(const QByteArray& bytes) {
    for (qsizetype at = bytes.indexOf("\\u"); at >= 0; at = bytes.indexOf("\\u", at + 2)) {
        const QByteArray digits = bytes.mid(at + 2, 2).toLower();
        if (digits.size() == 2 && digits[0] == 'd' && digits[1] >= '8' && digits[1] <= 'f') {
            return true;
        }
    }
    return false;
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

    const std::optional<Library> fast = LibraryJSON::readFast(bytes);
    const std::optional<Library> slow = strict(bytes);
    if (fast && !slow) {
        fail("the fast reader accepts what the strict one refuses");
    }
    if (fast && !(*fast == *slow)) {
        fail("the fast reader and the strict one disagree");
    }

    std::optional<Library> decoded;
    try {
        decoded = LibraryFile::decode(bytes);
    } catch (const DecodingError&) {
        if (slow) {
            fail("decode refuses what the strict reader accepts");
        }
        return 0;
    }
    if (!slow || !(*decoded == *slow)) {
        fail("decode differs from the strict reader");
    }

    const QByteArray written = LibraryFile::encode(*decoded);
    std::optional<Library> again = LibraryJSON::readFast(written);
    if (!again) {
        // Only a lone surrogate, which has no UTF-8 form and is written as an escape, sends our
        // own file to the strict reader.
        if (!holdsSurrogateEscape(written)) {
            fail("our own file leaves the fast path");
        }
        again = strict(written);
        if (!again) {
            fail("the strict reader refuses our own file");
        }
    }
    if (!(*again == writable(*decoded))) {
        fail("encode then decode changes the library");
    }
    const std::optional<Library> strictAgain = strict(written);
    if (!strictAgain || !(*strictAgain == *again)) {
        fail("the strict reader reads our own file differently");
    }
    if (LibraryFile::encode(*again) != written) {
        fail("writing is not deterministic");
    }
    return 0;
}
