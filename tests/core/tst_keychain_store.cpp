#include "core/keychain_error.h"
#include "core/keychain_store.h"
#include "support/keyring_prompt.h"
#include "support/run_task.h"
#include "support/silent_bus.h"

#include <QTest>

using namespace quillmere;
using namespace std::chrono_literals;
using test::KeyringUser;
using test::runTask;

namespace {

const QString account = QStringLiteral("worker.signingSecret");

// True when the call raised KeychainError, the keychain's "cannot tell".
template <class T>
bool unavailable(QCoro::Task<T>&& task) {
    try {
        runTask(std::move(task));
        return false;
    } catch (const KeychainError& error) {
        return error.isUnavailable();
    }
}

} // namespace

// Runs against the real gnome-keyring of tests/support/with-keyring on a virtual display, where
// its unlock prompt shows and the test answers it as a writer would
// (QUILLMERE_KEYRING=available); or with no bus at all, or one that never answers.
class TestKeychainStore : public QObject {
    Q_OBJECT

    bool available() const { return qgetenv("QUILLMERE_KEYRING") == "available"; }

private Q_SLOTS:
    void roundTripsTexts() {
        if (!available()) {
            QSKIP("needs the Secret Service");
        }
        KeychainStore store;
        KeychainStore other(2min, QStringLiteral("app.quillmere.Other"));
        runTask(store.remove(account)); // the keyring outlives a run
        QCOMPARE(runTask(store.read(account, {})), std::nullopt);
        const QString unicode = QStringLiteral("clé-秘密-🔑 with spaces\tand tab");
        runTask(store.write(unicode, account, {}));
        runTask(store.write(QStringLiteral("second"), account, {})); // update, not a second item
        runTask(other.write(QStringLiteral("other"), account, {}));
        QCOMPARE(runTask(store.read(account, {})), QStringLiteral("second"));
        QCOMPARE(runTask(other.read(account, {})), QStringLiteral("other"));
        runTask(store.write(unicode, QStringLiteral("aws.accessKeyID"), {}));
        QCOMPARE(runTask(store.read(QStringLiteral("aws.accessKeyID"), {})), unicode);
        runTask(store.remove(account));
        QCOMPARE(runTask(store.read(account, {})), std::nullopt);
        runTask(store.remove(account)); // deleting a missing entry is no error
    }

    // Locked is not empty: the call waits for the writer at the prompt, fails when they turn it
    // down, and a call given up on never lands later.
    void lockedKeychainWaitsForTheWriter() {
        if (!available()) {
            QSKIP("needs the Secret Service");
        }
        KeychainStore store;
        runTask(store.write(QStringLiteral("stored"), account, {}));

        KeyringUser::lock();
        auto read = store.read(account, {});
        KeyringUser::answerPrompt();
        QCOMPARE(runTask(std::move(read)), QStringLiteral("stored"));

        KeyringUser::lock();
        auto refused = store.read(account, {});
        KeyringUser::dismissPrompt();
        QVERIFY(unavailable(std::move(refused)));

        auto write = store.write(QStringLiteral("typed"), account, {});
        KeyringUser::answerPrompt();
        runTask(std::move(write));
        QCOMPARE(runTask(store.read(account, {})), QStringLiteral("typed"));

        KeyringUser::lock();
        auto cancel = std::make_shared<CancelToken>();
        auto abandoned = store.write(QStringLiteral("late"), account, cancel);
        KeyringUser::waitForPrompt();
        cancel->cancel();
        QVERIFY(unavailable(std::move(abandoned)));
        // Dismissed with the call, nothing left to answer (the window closes a moment later).
        QTRY_VERIFY_WITH_TIMEOUT(!KeyringUser::promptShown(), 20000);
        KeyringUser::unlock();
        QCOMPARE(runTask(store.read(account, {})), QStringLiteral("typed"));
    }

    // No session bus, or one that takes the connection and never answers: the call fails at its
    // limit, or sooner when cancelled, and never blocks the calling thread.
    void unreachableKeychainFailsWithinItsLimit() {
        if (available()) {
            QSKIP("the keyring is reachable in this run");
        }
        test::SilentBus silent;
        if (qEnvironmentVariableIsSet("QUILLMERE_SILENT_BUS")) {
            QVERIFY(silent.isListening());
            qputenv("DBUS_SESSION_BUS_ADDRESS", silent.address());
        }
        KeychainStore store(2s);
        QVERIFY(unavailable(store.read(account, {})));
        QVERIFY(unavailable(store.write(QStringLiteral("x"), account, {})));

        // Cancelled from the calling thread's event loop, which must keep running meanwhile.
        KeychainStore patient(10min);
        auto cancel = std::make_shared<CancelToken>();
        auto waiting = patient.read(account, cancel);
        QTimer::singleShot(0, [cancel] { cancel->cancel(); });
        QVERIFY(unavailable(std::move(waiting)));
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_keychain_store.moc"
