#pragma once

#include "core/cancel_token.h"
#include "core/credential_store.h"

#include <QFuture>
#include <QHash>
#include <QObject>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace quillmere {

// The model's door to the credential store. Every call runs off the interface thread; what a
// call found is remembered for the session (only the app writes these entries), so synchronous
// code (a worker client, the editor's preview) can use it and the keychain is asked once. A
// missing entry is asked for again each time: something may have put it there since. While a call
// waits longer than a moment (behind an unlock prompt, or for a keychain that does not answer),
// `isWaiting` is set and cancel() gives up on every call waiting.
class KeychainAccess : public QObject {
    Q_OBJECT

public:
    explicit KeychainAccess(std::shared_ptr<CredentialStore> store, QObject* parent = nullptr);

    // The stored text, none when missing or empty. Raises KeychainError (unavailable) when the
    // keychain cannot tell, or the wait was given up.
    QCoro::Task<std::optional<QString>> read(QString account);
    // Raises KeychainError; a write that raised never lands.
    QCoro::Task<void> write(QString value, QString account);
    // The stored text, or a new one from `make` that is stored first: what cannot be stored is
    // never handed out. One at a time per account, so two callers never make two.
    QCoro::Task<QString> readOrMake(QString account, std::function<QString()> make);

    // The text this session's calls found, if any.
    std::optional<QString> known(const QString& account) const { return m_known.value(account); }

    bool isWaiting() const { return m_waiting; }
    void cancel();

    CredentialStore& store() const { return *m_store; }

Q_SIGNALS:
    void waitingChanged();

private:
    void begin();
    void end();
    void setWaiting(bool waiting);

    std::shared_ptr<CredentialStore> m_store;
    std::shared_ptr<CancelToken> m_cancel = std::make_shared<CancelToken>();
    QHash<QString, std::optional<QString>> m_known; // found texts only
    QHash<QString, QFuture<void>> m_making;
    int m_calls = 0;
    bool m_waiting = false;
    QTimer m_waitingAfter; // calls that answer at once never show a wait
};

} // namespace quillmere
