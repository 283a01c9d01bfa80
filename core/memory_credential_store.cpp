#include "core/memory_credential_store.h"

#include "core/keychain_error.h"

namespace quillmere {

QCoro::Task<std::optional<QString>> MemoryCredentialStore::read(QString account,
                                                                std::shared_ptr<CancelToken>) {
    ++m_reads;
    if (!m_available) {
        throw KeychainError();
    }
    co_return get(account);
}

QCoro::Task<void> MemoryCredentialStore::write(QString value, QString account,
                                               std::shared_ptr<CancelToken>) {
    ++m_writes;
    if (!m_available) {
        throw KeychainError();
    }
    if (m_failStatus) {
        throw KeychainError(*m_failStatus, QStringLiteral("Writes are switched off"));
    }
    set(value, account);
    co_return;
}

QCoro::Task<void> MemoryCredentialStore::remove(QString account) {
    ++m_writes;
    if (m_available) {
        m_values.remove(account);
    }
    co_return;
}

std::optional<QString> MemoryCredentialStore::get(const QString& account) const {
    const auto it = m_values.constFind(account);
    if (it == m_values.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

void MemoryCredentialStore::set(const QString& value, const QString& account) {
    m_values.insert(account, value);
}

} // namespace quillmere
