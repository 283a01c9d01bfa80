#pragma once

#include <QString>
#include <QUuid>

namespace quillmere {

// Canonical 36-character text of a UUID: upper case in the library, lower case on the worker's
// wire.
inline QString uuidUpper(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}
inline QString uuidLower(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces);
}

} // namespace quillmere
