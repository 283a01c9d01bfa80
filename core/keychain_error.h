#pragma once

#include "core/error.h"

namespace quillmere {

// The system keychain refused a write. `status` is the keychain's own code (QKeychain::Error on
// this platform; timedOut when it did not answer at all).
class KeychainError : public Error {
public:
    static constexpr qint32 timedOut = -1;

    KeychainError(qint32 status, const QString& detail);
    qint32 status() const { return m_status; }
    bool operator==(const KeychainError& other) const { return m_status == other.m_status; }

private:
    qint32 m_status;
};

} // namespace quillmere
