#pragma once

#include "core/error.h"

namespace quillmere {

// A stored document could not be decoded. `reason()` is the bare cause (for a bad date exactly
// "Invalid ISO8601 date: " and the text); `description()` also names the record kind, where it
// sits in the document and the key, so a person can find and repair the file.
class DecodingError : public Error {
public:
    DecodingError(QString kind, QString path, QString key, QString reason);

    const QString& kind() const { return m_kind; }
    const QString& path() const { return m_path; }
    const QString& key() const { return m_key; }
    const QString& reason() const { return m_reason; }

private:
    QString m_kind;
    QString m_path;
    QString m_key;
    QString m_reason;
};

} // namespace quillmere
