#include "core/keychain_error.h"

namespace quillmere {

KeychainError::KeychainError(qint32 status, const QString& detail)
    : Error(detail.isEmpty() ? QStringLiteral("Keychain error %1").arg(status)
                             : QStringLiteral("%1 (keychain status %2)").arg(detail).arg(status))
    , m_status(status) {}

} // namespace quillmere
