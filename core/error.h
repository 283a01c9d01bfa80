#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace quillmere {

// Base of every failure the system raises. The one-line description is what a workflow shows
// to the writer (see AppModel::errorText), so subclasses build it from their payload.
class Error : public std::exception {
public:
    explicit Error(QString description);
    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

} // namespace quillmere
