#include "core/library_file.h"
#include "support/child_process.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillmere;

// A real process, a real file: the last edit must be on disk however the process is asked to
// end, even when that happens well inside the 0.4 s save debounce.
class TestShutdown : public QObject {
    Q_OBJECT

    QString host() const { return QStringLiteral(QUILLMERE_BINARY_DIR "/tests/app/model_host"); }

    void runAndStop(const QStringList& arguments, int signal) {
        QTemporaryDir dir;
        const QString library = dir.filePath(QStringLiteral("Postwick/library.json"));
        QProcess process;
        process.start(host(), QStringList{library} + arguments);
        QVERIFY(process.waitForStarted());
        QVERIFY(process.waitForReadyRead(10000));
        QCOMPARE(process.readLine().trimmed(), QByteArray("edited"));
        if (signal) {
            QTest::qWait(50);
            test::signalChild(process, signal);
        }
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        const Library saved = LibraryFile::read(library);
        QCOMPARE(saved.subscribers.size(), 1);
        QCOMPARE(saved.subscribers.first().email, QStringLiteral("edited@example.com"));
    }

private Q_SLOTS:
    void quitRightAfterAnEdit() { runAndStop({QStringLiteral("50")}, 0); }
    void terminatedRightAfterAnEdit() { runAndStop({}, SIGTERM); }
    void interruptedRightAfterAnEdit() { runAndStop({}, SIGINT); }
    void hungUpRightAfterAnEdit() { runAndStop({}, SIGHUP); }
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "tst_shutdown.moc"
