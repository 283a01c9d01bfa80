#pragma once

#include "core/error.h"

namespace quillmere {

// A file could not be read, created or written; the description names the file and the reason.
class FileError : public Error {
public:
    FileError(const QString& path, const QString& action, const QString& reason)
        : Error(QStringLiteral("Could not %1 %2: %3").arg(action, path, reason))
        , m_path(path) {}
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

} // namespace quillmere
