#include "core/keychain_error.h"
#include "core/keychain_store.h"

#include <QElapsedTimer>
#include <QTest>

using namespace quillmere;
using namespace std::chrono_literals;

// Runs against the real Secret Service (QUILLMERE_KEYRING=available, inside
// tests/support/with-keyring) or with none reachable (QUILLMERE_KEYRING=unavailable).
class TestKeychainStore : public QObject {
    Q_OBJECT

    bool available() const { return qgetenv("QUILLMERE_KEYRING") == "available"; }

private Q_SLOTS:
    void roundTripsTexts() {
        if (!available()) {
            QSKIP("needs the Secret Service");
        }
        KeychainStore store;
        const QString account = QStringLiteral("worker.signingSecret");
        QCOMPARE(store.get(account), std::nullopt);

        const QString unicode = QStringLiteral("clé-秘密-🔑 with spaces\tand tab");
        store.set(unicode, account);
        QCOMPARE(store.get(account), unicode);

        store.set(QStringLiteral("second"), account); // update, not a second item
        QCOMPARE(store.get(account), QStringLiteral("second"));

        store.set(QString(), QStringLiteral("aws.accessKeyID"));
        const auto empty = store.get(QStringLiteral("aws.accessKeyID"));
        QVERIFY(!empty || empty->isEmpty()); // callers treat both as absent

        store.remove(account);
        QCOMPARE(store.get(account), std::nullopt);
        store.remove(account); // deleting a missing entry is no error
    }

    void servicesAndAccountsAreSeparate() {
        if (!available()) {
            QSKIP("needs the Secret Service");
        }
        KeychainStore ours;
        KeychainStore other(4s, QStringLiteral("app.quillmere.Other"));
        ours.set(QStringLiteral("A"), QStringLiteral("cloudflare.apiToken"));
        other.set(QStringLiteral("B"), QStringLiteral("cloudflare.apiToken"));
        ours.set(QStringLiteral("C"), QStringLiteral("worker.apiToken"));
        QCOMPARE(ours.get(QStringLiteral("cloudflare.apiToken")), QStringLiteral("A"));
        QCOMPARE(other.get(QStringLiteral("cloudflare.apiToken")), QStringLiteral("B"));
        QCOMPARE(ours.get(QStringLiteral("worker.apiToken")), QStringLiteral("C"));
    }

    void unavailableStoreFailsPromptly() {
        if (available()) {
            QSKIP("the keyring is reachable in this run");
        }
        KeychainStore store(2s);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(store.get(QStringLiteral("aws.accessKeyID")), std::nullopt);
        try {
            store.set(QStringLiteral("x"), QStringLiteral("aws.accessKeyID"));
            QFAIL("a write without a keychain must fail");
        } catch (const KeychainError& error) {
            QVERIFY(!error.description().isEmpty());
        }
        store.remove(QStringLiteral("aws.accessKeyID"));
        // Each call gives up after its own time-out instead of hanging behind a prompt.
        QVERIFY2(timer.elapsed() < 9000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestKeychainStore)
#include "tst_keychain_store.moc"
