#pragma once

#include "core/cancel_token.h"

#include <QString>
#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace quillmere {

// The few secrets kept outside the library file, each one text under an account name.
// Implementations: KeychainStore (the system keychain) and MemoryCredentialStore (tests).
//
// "Not there" and "cannot tell" are different answers: a locked keychain, none running or one
// that does not answer raises KeychainError (KeychainError::unavailable), never gives none.
class CredentialStore {
public:
    struct Key {
        static inline const QString awsAccessKeyID = QStringLiteral("aws.accessKeyID");
        static inline const QString awsSecretAccessKey = QStringLiteral("aws.secretAccessKey");
        static inline const QString cloudflareAPIToken = QStringLiteral("cloudflare.apiToken");
        static inline const QString workerAPIToken = QStringLiteral("worker.apiToken");
        static inline const QString workerSigningSecret = QStringLiteral("worker.signingSecret");
    };

    virtual ~CredentialStore() = default;

    // The stored text, or none when there is no such entry. Waits through the system's unlock
    // prompt; `cancel` ends the wait with KeychainError.
    virtual QCoro::Task<std::optional<QString>> read(QString account,
                                                     std::shared_ptr<CancelToken> cancel) = 0;
    // Update or add, waiting through the system's unlock or new-keyring prompt. Raises
    // KeychainError; a write that raised (cancelled too) never lands later.
    virtual QCoro::Task<void> write(QString value, QString account,
                                    std::shared_ptr<CancelToken> cancel) = 0;
    // Never fails; a missing entry is no error.
    virtual QCoro::Task<void> remove(QString account) = 0;
};

} // namespace quillmere
