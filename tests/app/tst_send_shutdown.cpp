// A list send stopped by SIGTERM: a real application process (workflow_host) sends through the
// SES emulator and reports every reader it counts as delivered; it is terminated in the middle
// of the send, and every reader it reported must be in the delivered set on disk, so sending
// the issue again never mails them twice. The periodic save of the delivered set is pushed far
// out of reach here: only the flush on shutdown can put them there, which the control case
// (the same run without that flush) shows.
#include "core/library_file.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillmere;

namespace {

QByteArray line(const QJsonArray& command) {
    return QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n';
}

struct Run {
    QSet<QUuid> reportedBeforeSignal;
    QSet<QUuid> reported;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QString issueSubject;
};

} // namespace

class TestSendShutdown : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SESEmulator> m_ses;
    QTemporaryDir m_dir;

    QString libraryPath(const QString& name) const {
        return m_dir.filePath(name + QStringLiteral("/Postwick/library.json"));
    }

    // Starts a host, sets it up, starts a send of `readers` readers and sends SIGTERM once
    // `stopAfter` deliveries were reported.
    Run sendAndTerminate(const QString& name, bool flush, int readers, int stopAfter) {
        Run run;
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("AWS_ENDPOINT_URL_SESV2"), m_ses->url().toString());
        host.setProcessEnvironment(environment);
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{QStringLiteral("--library"),
                              libraryPath(name),
                              QStringLiteral("--settings"),
                              m_dir.filePath(name + QStringLiteral("/settings.ini")),
                              QStringLiteral("--memory-credentials"),
                              QStringLiteral("--delivery-save-interval"),
                              QStringLiteral("600000")};
        if (!flush) {
            arguments.append(QStringLiteral("--no-flush"));
        }
        host.start(QStringLiteral(QUILLMERE_BINARY_DIR "/tests/app/workflow_host"), arguments);
        if (!host.waitForStarted(10000)) {
            qFatal("workflow_host did not start");
        }
        const QJsonObject profile{{"publicationName", "Stop Notes"},
                                  {"fromName", "Ann Stop"},
                                  {"fromEmail", "ann@stop.example"},
                                  {"postalAddress", "1 Main St\nSpringfield"},
                                  {"domain", "stop.example"},
                                  {"workerBaseURL", "https://postwick.stop.workers.dev"}};
        run.issueSubject = QStringLiteral("Stopped mid-send ") + name;
        for (const QJsonArray& command :
             {QJsonArray{"credential", "aws.accessKeyID", "AKIDSTOP"},
              QJsonArray{"credential", "aws.secretAccessKey", "stop-secret"},
              QJsonArray{"refreshSES"}, QJsonArray{"profile", profile},
              QJsonArray{"readers", readers, "stop.example"}, QJsonArray{"issue", run.issueSubject},
              QJsonArray{"flush"}, QJsonArray{"send"}}) {
            host.write(line(command));
        }

        bool signalled = false;
        const auto readEvents = [&] {
            while (host.canReadLine()) {
                const QJsonObject event = QJsonDocument::fromJson(host.readLine()).object();
                if (event.contains(QLatin1String("delivered"))) {
                    const QUuid id(event[QLatin1String("delivered")].toString());
                    run.reported.insert(id);
                    if (!signalled) {
                        run.reportedBeforeSignal.insert(id);
                    }
                }
            }
        };
        const QDeadlineTimer deadline(60000);
        while (!signalled && !deadline.hasExpired() && host.state() == QProcess::Running) {
            host.waitForReadyRead(200);
            readEvents();
            if (run.reported.size() >= stopAfter) {
                ::kill(pid_t(host.processId()), SIGTERM);
                signalled = true;
            }
        }
        if (!host.waitForFinished(10000)) {
            host.kill();
            host.waitForFinished(5000);
            qFatal("workflow_host did not stop after SIGTERM");
        }
        readEvents(); // what it reported between the signal and its exit
        run.exitStatus = host.exitStatus();
        run.exitCode = host.exitCode();
        return run;
    }

    Newsletter issueOnDisk(const QString& name, const QString& subject) {
        for (const Newsletter& issue : LibraryFile::read(libraryPath(name)).newsletters) {
            if (issue.subject == subject) {
                return issue;
            }
        }
        return {};
    }

private Q_SLOTS:
    void initTestCase() {
        m_ses = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 50, 50000, 0));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
        QVERIFY(m_dir.isValid());
    }

    void terminatedMidSendKeepsEveryCountedDelivery() {
        const Run run = sendAndTerminate(QStringLiteral("flushed"), true, 400, 40);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.reportedBeforeSignal.size() >= 40);
        QVERIFY2(run.reported.size() < 400, "the send ended before the signal arrived");

        const Newsletter issue = issueOnDisk(QStringLiteral("flushed"), run.issueSubject);
        QCOMPARE(issue.status, CampaignStatus::sending); // resumable
        QVERIFY(issue.deliveredIDs.contains(run.reportedBeforeSignal));
        QCOMPARE(issue.deliveredIDs, run.reported); // nothing counted is missing, nothing added
        QCOMPARE(issue.stats.sent, issue.deliveredIDs.size());
        QCOMPARE(issue.stats.recipients, 400);
    }

    // Without the flush the same run loses what the process had counted: the test above can
    // tell the difference.
    void withoutTheFlushTheCountedDeliveriesAreLost() {
        const Run run = sendAndTerminate(QStringLiteral("unflushed"), false, 400, 40);
        QCOMPARE(run.exitStatus, QProcess::CrashExit); // SIGTERM's default action
        const Newsletter issue = issueOnDisk(QStringLiteral("unflushed"), run.issueSubject);
        QCOMPARE(issue.status, CampaignStatus::sending);
        QVERIFY(!issue.deliveredIDs.contains(run.reportedBeforeSignal));
    }
};

QTEST_GUILESS_MAIN(TestSendShutdown)
#include "tst_send_shutdown.moc"
