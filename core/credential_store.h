#pragma once

#include <QString>

#include <optional>

namespace quillmere {

// The few secrets kept outside the library file, each one text under an account name.
// Implementations: KeychainStore (the system keychain) and MemoryCredentialStore (tests, demo).
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

    // The stored text, or none when missing, unreadable or the store is unavailable.
    virtual std::optional<QString> get(const QString& account) = 0;
    // Update or add; raises KeychainError.
    virtual void set(const QString& value, const QString& account) = 0;
    // Never fails; a missing entry is no error.
    virtual void remove(const QString& account) = 0;
};

} // namespace quillmere
