#include "core/library_file.h"
#include "saver_states.h"
#include "support/child_process.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillmere;

// Brute force against the atomic replace: a process saving a large library over and over is
// killed without warning at random moments; every time, the file on disk must read back as
// exactly one of the libraries it was saving. The saver is always inside a save, so most kills
// land while a new file is being encoded or written.
class TestCrashSafety : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void killedAtRandomTheFileIsAlwaysAWholeSave() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Postwick/library.json"));
        QRandomGenerator random(20261206);
        for (int round = 0; round < 100; ++round) {
            QProcess saver;
            saver.start(QStringLiteral(QUILLMERE_BINARY_DIR "/tests/core/library_saver"), {path});
            QVERIFY(saver.waitForStarted());
            if (round == 0) {
                QVERIFY(saver.waitForReadyRead(20000)); // a first whole file to start from
            }
            QTest::qWait(int(random.bounded(10, 400)));
            test::signalChild(saver, SIGKILL);
            QVERIFY(saver.waitForFinished(10000));

            Library onDisk;
            try {
                onDisk = LibraryFile::read(path);
            } catch (const std::exception& error) {
                QFAIL(qPrintable(QStringLiteral("round %1: %2")
                                     .arg(round)
                                     .arg(QString::fromUtf8(error.what()))));
            }
            const QString name = onDisk.profile.publicationName;
            QVERIFY2(name.startsWith(QStringLiteral("state ")), qPrintable(name));
            QCOMPARE(onDisk, test::saverState(name.mid(6).toInt()));
        }
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crash_safety.moc"
