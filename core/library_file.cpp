#include "core/library_file.h"

#include "core/decoding_error.h"
#include "core/file_error.h"
#include "core/library_json.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

namespace quillmere::LibraryFile {

namespace {

// Takes away what group and others may do; never grants the owner anything.
void restrictToOwner(const QString& path) {
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                               QFileDevice::WriteUser | QFileDevice::ExeUser;
    const QFileDevice::Permissions current = QFile::permissions(path);
    if (current & ~ownerOnly) {
        QFile::setPermissions(path, current & ownerOnly);
    }
}

} // namespace

QByteArray encode(const Library& library) {
    return LibraryJSON::write(library);
}

Library decode(const QByteArray& bytes) {
    if (auto library = LibraryJSON::readFast(bytes)) {
        return std::move(*library);
    }
    // Anything out of the ordinary, including every damaged file, goes through the strict
    // reader, which names what failed.
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        throw DecodingError(QStringLiteral("Library"), QString(), QString(),
                            QStringLiteral("not valid JSON (%1 at byte %2)")
                                .arg(error.errorString())
                                .arg(error.offset));
    }
    if (!document.isObject()) {
        throw DecodingError(QStringLiteral("Library"), QString(), QString(),
                            QStringLiteral("the document is not a JSON object"));
    }
    return Library::fromJson(document.object());
}

Library read(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return Library{};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw FileError(path, QStringLiteral("read"), file.errorString());
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw FileError(path, QStringLiteral("read"), file.errorString());
    }
    return decode(bytes);
}

void write(const QString& path, const Library& library) {
    // The file holds personal data of every reader: only the owner may enter the folder or
    // read the file.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        throw FileError(folder, QStringLiteral("create the folder"),
                        QStringLiteral("permission denied or not a folder"));
    }
    restrictToOwner(folder);
    const QByteArray bytes = encode(library);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileError(path, QStringLiteral("write"), file.errorString());
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileError(path, QStringLiteral("write"), reason);
    }
}

} // namespace quillmere::LibraryFile
