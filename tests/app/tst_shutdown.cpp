#include "app/list_send.h"
#include "core/library_file.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"
#include "workflow_host_driver.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillmere;
using namespace Qt::StringLiterals;

// A real process (workflow_host), a real file: the last edit must be on disk however the
// process is asked to end, even when that happens well inside the 0.4 s save debounce, and in
// the middle of a list send through the SES emulator every reader it reported as delivered.
// (Killed without the orderly quit, the send's journal keeps them: tst_cli_send.)
class TestShutdown : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void stopRightAfterAnEdit_data() {
        QTest::addColumn<int>("signal"); // 0: the application quits by itself
        QTest::newRow("quit") << 0;
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void stopRightAfterAnEdit() {
        QFETCH(int, signal);
        QTemporaryDir dir;
        test::WorkflowHostDriver host;
        const QString library = host.startIn(dir.path());
        host.send({"readers", 1, "edited.example"});
        QVERIFY(host.waitDone(u"readers"_s, 10000));
        if (signal) {
            test::signalChild(host.process, signal);
        } else {
            host.send({"quit"});
        }
        QVERIFY(host.ended(10000));
        QCOMPARE(host.process.exitStatus(), QProcess::NormalExit);
        const Library saved = LibraryFile::read(library);
        QCOMPARE(saved.subscribers.size(), 1);
        QCOMPARE(saved.subscribers.first().email, u"reader0@edited.example"_s);
    }

    // A send of 400 readers gets SIGTERM once 40 deliveries were reported. No fixed deadline
    // for the send: only a stall (nothing reported for a minute) fails, so a loaded machine is
    // merely slow.
    void terminatedMidSendKeepsEveryCountedDelivery() {
        const test::SESEmulator ses(test::sesAccountJSON(true, 50, 50000, 0));
        QVERIFY2(ses.isRunning(), qPrintable(ses.error()));
        QTemporaryDir dir;
        test::WorkflowHostDriver host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"AWS_ENDPOINT_URL_SESV2"_s, ses.url().toString());
        host.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QString library = host.startIn(dir.path(), environment);
        const QJsonObject profile{{"publicationName", "Stop Notes"},
                                  {"fromName", "Ann Stop"},
                                  {"fromEmail", "ann@stop.example"},
                                  {"postalAddress", "1 Main St\nSpringfield"},
                                  {"domain", "stop.example"},
                                  {"workerBaseURL", "https://postwick.stop.workers.dev"}};
        for (const QJsonArray& command :
             {QJsonArray{"credential", "aws.accessKeyID", "AKIDSTOP"},
              QJsonArray{"credential", "aws.secretAccessKey", "stop-secret"},
              QJsonArray{"refreshSES"}, QJsonArray{"profile", profile},
              QJsonArray{"readers", 400, "stop.example"}, QJsonArray{"issue", "Stopped mid-send"},
              QJsonArray{"flush"}, QJsonArray{"send"}}) {
            host.send(command);
        }
        QSet<QUuid> reported;
        const auto collect = [&](const QJsonObject& event) {
            if (event.contains(u"delivered"_s)) {
                reported.insert(QUuid(event[u"delivered"_s].toString()));
            }
            return reported.size() >= 40;
        };
        QVERIFY2(host.readUntil(collect), host.output.right(300).constData());
        test::signalChild(host.process, SIGTERM);
        host.readUntil([&](const QJsonObject& event) { return collect(event) && false; });
        QVERIFY2(host.ended(10000), "it did not stop within a minute of SIGTERM");
        QCOMPARE(host.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.process.exitCode(), 0);
        QVERIFY2(reported.size() < 400, "the send ended before the signal arrived");

        Library onDisk = LibraryFile::read(library);
        const Newsletter issue = onDisk.newsletters.first();
        QCOMPARE(issue.deliveredIDs, reported); // nothing counted is missing, nothing added
        QCOMPARE(issue.stats.sent, issue.deliveredIDs.size());
        QCOMPARE(issue.stats.recipients, 400);
        bool changed = false;
        ListSend::recover(onDisk, library, &changed);
        QCOMPARE(onDisk.newsletters.first().status, CampaignStatus::paused); // resumable
    }
};

QTEST_GUILESS_MAIN(TestShutdown)
#include "tst_shutdown.moc"
