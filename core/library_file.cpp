#include "core/library_file.h"

#include "core/decoding_error.h"
#include "core/file_error.h"
#include "core/library_json_reader.h"
#include "core/library_json_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    return LibraryJSONWriter::write(library);
}

Library decode(const QByteArray& bytes) {
    return LibraryJSONReader::read(bytes).library;
}

Loaded load(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw FileError(path, QStringLiteral("read"), file.errorString());
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw FileError(path, QStringLiteral("read"), file.errorString());
    }
    LibraryJSONReader::Reading reading = LibraryJSONReader::read(bytes);
    Loaded loaded{std::move(reading.library), std::nullopt};
    if (!reading.missing.isEmpty() && !loaded.library.otherMembers.isEmpty()) {
        loaded.partial = Partial{reading.missing, loaded.library.otherMembers.keys()};
    }
    return loaded;
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
    // Unbuffered, so that a failing write reports the system's reason ("No space left on
    // device"): a buffered one fails inside commit() as "Unknown error".
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        throw FileError(path, QStringLiteral("write"), file.errorString());
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // A short write is no error to Qt; writing the rest makes the system say why it stopped.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
        if (n <= 0) {
            break;
        }
        written += n;
    }
    if (written != bytes.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw FileError(path, QStringLiteral("write"), reason);
    }
}

} // namespace quillmere::LibraryFile
