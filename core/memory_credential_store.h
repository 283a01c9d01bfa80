#pragma once

#include "core/credential_store.h"

#include <QHash>

namespace quillmere {

// Secrets held in memory only, for tests: it counts what it was asked, and can play a keychain
// that refuses writes or cannot be reached at all.
class MemoryCredentialStore : public CredentialStore {
public:
    QCoro::Task<std::optional<QString>> read(QString account,
                                             std::shared_ptr<CancelToken> cancel) override;
    QCoro::Task<void> write(QString value, QString account,
                            std::shared_ptr<CancelToken> cancel) override;
    QCoro::Task<void> remove(QString account) override;

    // The same, at once, for setting up and checking tests; not counted.
    std::optional<QString> get(const QString& account) const;
    void set(const QString& value, const QString& account);

    // Makes every later write fail with this status.
    void failWrites(std::optional<qint32> status) { m_failStatus = status; }
    // Makes every later call raise KeychainError::unavailable, as a locked keychain does.
    void setAvailable(bool available) { m_available = available; }

    int reads() const { return m_reads; }
    int writes() const { return m_writes; }

private:
    QHash<QString, QString> m_values;
    std::optional<qint32> m_failStatus;
    bool m_available = true;
    int m_reads = 0;
    int m_writes = 0;
};

} // namespace quillmere
