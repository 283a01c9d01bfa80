#pragma once

#include "core/credential_store.h"

#include <QHash>

namespace quillmere {

// Secrets held in memory only: for tests, and wherever nothing may reach the system keychain.
class MemoryCredentialStore : public CredentialStore {
public:
    std::optional<QString> get(const QString& account) override;
    void set(const QString& value, const QString& account) override;
    void remove(const QString& account) override;

    // Makes every later set() fail with this status, to exercise error paths.
    void failWrites(std::optional<qint32> status) { m_failStatus = status; }

private:
    QHash<QString, QString> m_values;
    std::optional<qint32> m_failStatus;
};

} // namespace quillmere
