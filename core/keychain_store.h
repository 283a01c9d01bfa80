#pragma once

#include "core/credential_store.h"

#include <QString>

#include <chrono>

namespace quillmere {

// The system keychain through the Secret Service (gnome-keyring, KWallet, KeePassXC) and
// libsecret, with the items QtKeychain wrote before (schema "org.qt.keychain", attributes user,
// server and type), so keys stored by earlier versions read as they were.
//
// Every call runs on a thread of the store's own, one at a time, so the caller never blocks. A
// locked keychain shows its unlock prompt and the call waits for the writer's answer, up to
// `limit`; no keychain, a dismissed prompt or no answer raises KeychainError::unavailable. A
// call given up on (its CancelToken, or the limit) dismisses its prompt, so a write never lands
// after its caller stopped waiting.
class KeychainStore : public CredentialStore {
public:
    static inline const QString defaultService = QStringLiteral("app.quillmere.Quillmere");

    explicit KeychainStore(std::chrono::milliseconds limit = std::chrono::minutes(2),
                           QString service = defaultService);

    QCoro::Task<std::optional<QString>> read(QString account,
                                             std::shared_ptr<CancelToken> cancel) override;
    QCoro::Task<void> write(QString value, QString account,
                            std::shared_ptr<CancelToken> cancel) override;
    QCoro::Task<void> remove(QString account) override;

    const QString& service() const { return m_service; }

private:
    QString m_service;
    std::chrono::milliseconds m_limit;
};

} // namespace quillmere
