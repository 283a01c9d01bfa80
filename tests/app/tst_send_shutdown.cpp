// A list send stopped by SIGTERM: a real application process (workflow_host) sends through the
// SES emulator and reports every reader it counts as delivered; it is terminated in the middle
// of the send. With the orderly quit the library file itself holds every reported reader;
// without it (SIGTERM's default action, as good as a crash) the send's journal does, up to its
// last flush window, so sending the issue again never mails them twice.
#include "app/list_send.h"
#include "core/library_file.h"
#include "support/child_process.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QDeadlineTimer>
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

    // Starts a host, sets it up, starts a send of 400 readers and sends SIGTERM once 40
    // deliveries were reported. No fixed deadline for the send: only a stall (nothing reported
    // for a minute) fails, so a loaded machine is merely slow.
    Run sendAndTerminate(const QString& name, bool flush) {
        Run run;
        QProcess host;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("AWS_ENDPOINT_URL_SESV2"), m_ses->url().toString());
        host.setProcessEnvironment(environment);
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        test::dieWithTest(host);
        QStringList arguments{QStringLiteral("--library"), libraryPath(name),
                              QStringLiteral("--settings"),
                              m_dir.filePath(name + QStringLiteral("/settings.ini")),
                              QStringLiteral("--memory-credentials")};
        if (!flush) {
            arguments.append(QStringLiteral("--no-flush"));
        }
        host.start(QStringLiteral(QUILLMERE_BINARY_DIR "/tests/app/workflow_host"), arguments);
        if (!host.waitForStarted(30000)) {
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
              QJsonArray{"readers", 400, "stop.example"}, QJsonArray{"issue", run.issueSubject},
              QJsonArray{"flush"}, QJsonArray{"send"}}) {
            host.write(line(command));
        }

        QStringList seen; // the host's last words, for a failure message
        bool signalled = false;
        QDeadlineTimer stall(60000);
        while (host.state() == QProcess::Running && !stall.hasExpired()) {
            host.waitForReadyRead(200);
            while (host.canReadLine()) {
                const QByteArray text = host.readLine();
                seen.append(QString::fromUtf8(text).trimmed());
                if (seen.size() > 4) {
                    seen.removeFirst();
                }
                const QJsonObject event = QJsonDocument::fromJson(text).object();
                if (event.contains(QLatin1String("delivered"))) {
                    run.reported.insert(QUuid(event[QLatin1String("delivered")].toString()));
                    stall.setRemainingTime(60000);
                }
            }
            if (!signalled && run.reported.size() >= 40) {
                test::signalChild(host, SIGTERM);
                signalled = true;
                stall.setRemainingTime(60000);
            }
        }
        if (host.state() == QProcess::Running) {
            test::killGroup(host);
            qFatal("workflow_host %s: %s",
                   signalled ? "did not stop within a minute of SIGTERM"
                             : "reported no delivery for a minute",
                   qPrintable(seen.join(u' ')));
        }
        host.waitForFinished(10000);
        run.exitStatus = host.exitStatus();
        run.exitCode = host.exitCode();
        if (!signalled) {
            qFatal("workflow_host ended before the signal: %s", qPrintable(seen.join(u' ')));
        }
        return run;
    }

    Newsletter issueOnDisk(const QString& name, const QString& subject, bool foldJournals) {
        Library library = LibraryFile::read(libraryPath(name));
        if (foldJournals) {
            bool changed = false;
            ListSend::recover(library, libraryPath(name), &changed);
        }
        for (const Newsletter& issue : library.newsletters) {
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
        const Run run = sendAndTerminate(QStringLiteral("flushed"), true);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.reported.size() < 400, "the send ended before the signal arrived");

        const QString subject = run.issueSubject;
        const Newsletter issue = issueOnDisk(QStringLiteral("flushed"), subject, false);
        QCOMPARE(issue.deliveredIDs, run.reported); // nothing counted is missing, nothing added
        QCOMPARE(issue.stats.sent, issue.deliveredIDs.size());
        QCOMPARE(issue.stats.recipients, 400);
        QCOMPARE(issueOnDisk(QStringLiteral("flushed"), subject, true).status,
                 CampaignStatus::paused); // resumable
    }

    // Killed without any orderly save, the journal still knows who was reached, all but the
    // last flush window (0.1 s, 4 readers at this rate) and the messages then in flight.
    void withoutTheFlushTheJournalKeepsThem() {
        const Run run = sendAndTerminate(QStringLiteral("unflushed"), false);
        QCOMPARE(run.exitStatus, QProcess::CrashExit); // SIGTERM's default action
        const Newsletter issue = issueOnDisk(QStringLiteral("unflushed"), run.issueSubject, true);
        QVERIFY(run.reported.contains(issue.deliveredIDs));
        QVERIFY2(run.reported.size() - issue.deliveredIDs.size() <= 8,
                 qPrintable(QStringLiteral("%1 reported, %2 on disk")
                                .arg(run.reported.size())
                                .arg(issue.deliveredIDs.size())));
        QCOMPARE(issue.status, CampaignStatus::paused);
    }
};

QTEST_GUILESS_MAIN(TestSendShutdown)
#include "tst_send_shutdown.moc"
