#include "core/memory_credential_store.h"

#include "core/keychain_error.h"

namespace quillmere {

std::optional<QString> MemoryCredentialStore::get(const QString& account) {
    const auto it = m_values.constFind(account);
    if (it == m_values.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void MemoryCredentialStore::set(const QString& value, const QString& account) {
    if (m_failStatus) {
        throw KeychainError(*m_failStatus, QStringLiteral("Writes are switched off"));
    }
    m_values.insert(account, value);
}

void MemoryCredentialStore::remove(const QString& account) {
    m_values.remove(account);
}

} // namespace quillmere
