#include "core/keychain_error.h"

namespace quillmere {

namespace {

QString describe(qint32 status, const QString& detail) {
    if (status == KeychainError::unavailable) {
        return KeychainError::unavailableText;
    }
    return detail.isEmpty() ? QStringLiteral("Keychain error %1").arg(status)
                            : QStringLiteral("%1 (keychain status %2)").arg(detail).arg(status);
}

} // namespace

KeychainError::KeychainError(qint32 status, const QString& detail)
    : Error(describe(status, detail))
    , m_status(status) {}

} // namespace quillmere
