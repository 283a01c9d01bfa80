#pragma once

#include "core/credential_store.h"

#include <QString>

#include <chrono>
#include <memory>

namespace quillmere {

// The system keychain (Secret Service on Linux, Keychain on macOS, Credential Manager on
// Windows) through QtKeychain. The keychain answers asynchronously and may never answer (a
// locked keyring behind a password prompt, no session bus), so every call runs on a thread of
// the store's own and gives up after `timeout`: get() then gives none, set() raises.
class KeychainStore : public CredentialStore {
public:
    static inline const QString defaultService = QStringLiteral("app.quillmere.Quillmere");

    explicit KeychainStore(std::chrono::milliseconds timeout = std::chrono::seconds(4),
                           QString service = defaultService);
    ~KeychainStore() override;

    std::optional<QString> get(const QString& account) override;
    void set(const QString& value, const QString& account) override;
    void remove(const QString& account) override;

    const QString& service() const { return m_service; }

private:
    struct Worker;
    QString m_service;
    std::chrono::milliseconds m_timeout;
    Worker* m_worker; // shared by every store, see keychain_store.cpp
};

} // namespace quillmere
