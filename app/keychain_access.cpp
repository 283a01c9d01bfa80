#include "app/keychain_access.h"

#include "core/keychain_error.h"

#include <QPointer>
#include <QPromise>
#include <qcoro/qcorofuture.h>

namespace quillmere {

namespace {

constexpr int waitingAfterMilliseconds = 300;

} // namespace

KeychainAccess::KeychainAccess(std::shared_ptr<CredentialStore> store, QObject* parent)
    : QObject(parent)
    , m_store(std::move(store)) {
    m_waitingAfter.setSingleShot(true);
    m_waitingAfter.setInterval(waitingAfterMilliseconds);
    connect(&m_waitingAfter, &QTimer::timeout, this, [this] { setWaiting(m_calls > 0); });
}

void KeychainAccess::begin() {
    if (m_calls++ == 0) {
        m_waitingAfter.start();
    }
}

void KeychainAccess::end() {
    if (--m_calls == 0) {
        m_waitingAfter.stop();
        setWaiting(false);
    }
}

void KeychainAccess::setWaiting(bool waiting) {
    if (m_waiting != waiting) {
        m_waiting = waiting;
        Q_EMIT waitingChanged();
    }
}

void KeychainAccess::cancel() {
    m_cancel->cancel();
    m_cancel = std::make_shared<CancelToken>();
}

QCoro::Task<std::optional<QString>> KeychainAccess::read(QString account) {
    if (const auto value = known(account)) {
        co_return *value;
    }
    QPointer<KeychainAccess> self(this);
    begin();
    std::optional<QString> value;
    try {
        value = co_await m_store->read(account, m_cancel);
    } catch (...) {
        if (self) {
            end();
        }
        throw;
    }
    if (value && value->isEmpty()) {
        value.reset(); // an empty entry counts as none
    }
    if (self) {
        end();
        if (value) {
            m_known.insert(account, value);
        }
    }
    co_return value;
}

QCoro::Task<void> KeychainAccess::write(QString value, QString account) {
    QPointer<KeychainAccess> self(this);
    begin();
    m_known.remove(account); // until the keychain has it, nothing is known
    try {
        co_await m_store->write(value, account, m_cancel);
    } catch (...) {
        if (self) {
            end();
        }
        throw;
    }
    if (self) {
        end();
        if (!value.isEmpty()) {
            m_known.insert(account, value);
        }
    }
}

QCoro::Task<QString> KeychainAccess::readOrMake(QString account, std::function<QString()> make) {
    QPointer<KeychainAccess> self(this);
    while (m_making.contains(account)) {
        QFuture<void> other = m_making.value(account);
        co_await other;
        if (!self) {
            throw KeychainError();
        }
    }
    QPromise<void> making;
    making.start();
    m_making.insert(account, making.future());
    const auto done = [&] {
        if (self) {
            m_making.remove(account);
        }
        making.finish();
    };
    try {
        if (const auto stored = co_await read(account)) {
            done();
            co_return *stored;
        }
        const QString fresh = make();
        co_await write(fresh, account);
        done();
        co_return fresh;
    } catch (...) {
        done();
        throw;
    }
}

} // namespace quillmere
