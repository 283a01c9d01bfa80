#pragma once

#include "core/error.h"

namespace quillmere {

// The system keychain could not do what was asked. `status` is `unavailable` when it is locked,
// not running or not answering (or the wait for it was given up), else the keychain's own code.
class KeychainError : public Error {
public:
    static constexpr qint32 unavailable = -1;

    // The one text for an unavailable keychain, shown as it is.
    static inline const QString unavailableText =
        QStringLiteral("Your system keychain is locked or not answering. Unlock it and try again.");

    explicit KeychainError(qint32 status = unavailable, const QString& detail = QString());
    qint32 status() const { return m_status; }
    bool isUnavailable() const { return m_status == unavailable; }
    bool operator==(const KeychainError& other) const { return m_status == other.m_status; }

private:
    qint32 m_status;
};

} // namespace quillmere
