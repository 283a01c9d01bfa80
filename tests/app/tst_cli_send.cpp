// quillmere-cli as a script runs it. send, against the SES emulator: bad arguments write
// nothing; a send killed with SIGKILL at random moments and started again reaches every reader,
// mailing again at most the messages of the last moments before each kill; SIGTERM ends it
// resumable; refusals make it exit 3. check, token and verify: findings, exit codes, tokens.
#include "app/list_send.h"
#include "core/library_file.h"
#include "core/sample_data.h"
#include "render/reader_links.h"
#include "ses/network_transport.h"
#include "support/cli_run.h"
#include "support/model_fixture.h"
#include "support/node_peer.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillmere;
using namespace Qt::StringLiterals;

using test::CliRun;
using test::finishCli;
using test::runCli;

class TestCliSend : public QObject {
    Q_OBJECT

    std::unique_ptr<test::SESEmulator> m_ses;
    QTemporaryDir m_dir;

    std::unique_ptr<QProcess> start(const QStringList& arguments, const QString& endpoint) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"AWS_ENDPOINT_URL_SESV2"_s, endpoint);
        environment.insert(u"AWS_ACCESS_KEY_ID"_s, u"AKIDCLI"_s);
        environment.insert(u"AWS_SECRET_ACCESS_KEY"_s, u"cli-secret"_s);
        environment.remove(u"DBUS_SESSION_BUS_ADDRESS"_s); // no keychain: it fails at once
        auto cli = std::make_unique<QProcess>();
        test::startCli(*cli, QStringList{u"send"_s} + arguments, environment);
        return cli;
    }

    QString library(const QString& name, int readers, const QString& domain) {
        const QString path = m_dir.filePath(name + u"/library.json"_s);
        LibraryFile::write(
            path, test::libraryOfReaders(test::profileOf(u"Script"_s), readers, domain, name));
        return path;
    }

    // Messages sent more than once to the same reader.
    int extra(const QString& subject) {
        const QMultiMap<QString, QString> messages = m_ses->stored(subject);
        return int(messages.size() - messages.uniqueKeys().size());
    }

private Q_SLOTS:
    void initTestCase() {
        m_ses = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 100, 1000000, 0));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
    }

    void badArgumentsWriteNothing() {
        const QString path = library(u"Untouched"_s, 3, u"untouched.example"_s);
        const QByteArray before = LibraryFile::encode(LibraryFile::read(path));
        for (const QStringList& arguments :
             {QStringList{u"--issue"_s, u"first"_s},
              {u"--library"_s, path, u"--issue"_s, u"nope"_s},
              {u"--library"_s, path, u"--issue"_s, u"first"_s, u"--rate"_s, u"0"_s},
              {u"--library"_s, m_dir.filePath(u"absent.json"_s), u"--issue"_s, u"first"_s}}) {
            const CliRun run = finishCli(*start(arguments, m_ses->url().toString()));
            QVERIFY2(run.code == 2, qPrintable(arguments.join(u' ') + u": "_s + run.err));
            QVERIFY(run.json().isEmpty());
        }
        QCOMPARE(LibraryFile::encode(LibraryFile::read(path)), before);
    }

    // SIGKILL at ten random moments of a 2,000-reader send at 80 per second, each time started
    // again: nobody is skipped, and each kill costs at most the messages in flight and the
    // journal lines not yet written (fewer than a group), however loaded the machine. Then
    // SIGTERM, which ends resumable, and the end.
    void killedAndResumedReachesEveryoneOnce() {
        const QString subject = u"Killed and resumed"_s;
        const QString path = library(subject, 2000, u"kill.example"_s);
        const QStringList arguments{u"--library"_s, path,    u"--issue"_s,  u"first"_s,
                                    u"--rate"_s,    u"80"_s, u"--secret"_s, u"kill-secret"_s};
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        int worst = 0;
        int previous = 0;
        for (int kill = 0; kill < 10; ++kill) {
            const auto cli = start(arguments, m_ses->url().toString());
            QVERIFY(cli->waitForStarted(30000));
            QTest::qWait(500 + int(random.bounded(2000))); // the moment, not a synchronisation
            test::signalChild(*cli, SIGKILL);
            QCOMPARE(finishCli(*cli).code, -1);
            const int duplicates = extra(subject);
            worst = std::max(worst, duplicates - previous);
            previous = duplicates;
        }

        const auto cli = start(arguments, m_ses->url().toString());
        QByteArray progress;
        QTRY_VERIFY_WITH_TIMEOUT((progress += cli->readAllStandardError()).contains(" sent · "),
                                 60000);
        test::signalChild(*cli, SIGTERM);
        const CliRun stopped = finishCli(*cli);
        QCOMPARE(stopped.code, 4);
        QCOMPARE(stopped.json()[u"state"_s].toString(), u"paused"_s);
        Library onDisk = LibraryFile::read(path);
        const qint64 delivered = onDisk.newsletters.first().deliveredIDs.size();
        QCOMPARE(onDisk.newsletters.first().status, CampaignStatus::paused);
        QCOMPARE(stopped.json()[u"skipped"_s].toInteger() +
                     stopped.json()[u"delivered"_s].toInteger(),
                 delivered);

        const CliRun last = finishCli(*start(arguments, m_ses->url().toString()));
        QCOMPARE(last.code, 0);
        QCOMPARE(last.json()[u"state"_s].toString(), u"sent"_s);
        QCOMPARE(last.json()[u"skipped"_s].toInteger() + last.json()[u"delivered"_s].toInteger(),
                 2000);
        onDisk = LibraryFile::read(path);
        QCOMPARE(onDisk.newsletters.first().status, CampaignStatus::sent);
        QCOMPARE(onDisk.newsletters.first().deliveredIDs.size(), 2000);
        QCOMPARE(onDisk.newsletters.first().stats.recipients, 2000); // counted across the resumes
        QCOMPARE(m_ses->stored(subject).uniqueKeys().size(), 2000);  // nobody skipped
        const int duplicates = extra(subject);
        worst = std::max(worst, duplicates - previous);
        qInfo("kill test (seed %u): %d readers mailed twice in all, at most %d for one kill", seed,
              duplicates, worst);
        const int bound = AppModel::Dependencies().maxInFlight + DeliveryJournal::groupSize - 1;
        QVERIFY2(worst <= bound, qPrintable(QString::number(worst)));
    }

    void refusalsExitThree() {
        test::NodePeer proxy(u"fault_proxy.mjs"_s, QStringList{m_ses->url().toString()});
        const QByteArray plan =
            R"({"faults":[{"kind":"status","status":400,"type":"MessageRejected","every":10}]})";
        const QUrl faults(proxy.value(u"url"_s) + u"/__faults"_s);
        QCOMPARE(test::runTask(NetworkTransport().send({u"PUT"_s, faults, {}, plan})).status, 204);
        const QString path = library(u"Partly refused"_s, 20, u"refused.example"_s);
        const CliRun run = finishCli(
            *start({u"--library"_s, path, u"--issue"_s, u"first"_s, u"--secret"_s, u"s"_s},
                   proxy.value(u"url"_s)));
        QVERIFY2(run.code == 3, run.err.constData());
        QCOMPARE(run.json().keys(),
                 (QStringList{u"delivered"_s, u"failed"_s, u"issue"_s, u"seconds"_s, u"skipped"_s,
                              u"state"_s, u"uncertain"_s}));
        QCOMPARE(run.json()[u"delivered"_s].toInteger(), 18);
        QCOMPARE(run.json()[u"failed"_s].toInteger(), 2);
        QCOMPARE(run.json()[u"state"_s].toString(), u"sent"_s);
    }

    void checkListsFindingsAndExitsOnBlocking() {
        const QString path = m_dir.filePath(u"check.json"_s);
        LibraryFile::write(path, SampleData::library());
        const CliRun clean = runCli({"check", "--library", path, "--issue", "first"});
        QCOMPARE(clean.code, 0);
        QCOMPARE(clean.out, QByteArray());

        Library bare = SampleData::library();
        bare.profile = {.fromEmail = u"ann@elsewhere.example"_s,
                        .domain = u"quietworkshop.news"_s,
                        .workerBaseURL = u"http://worker.example"_s};
        LibraryFile::write(path, bare);
        const CliRun blocked = runCli({"check", "--library", path, "--issue",
                                       SampleData::sampleID(103).toString(QUuid::WithoutBraces)});
        QCOMPARE(blocked.code, 1);
        QCOMPARE(blocked.out,
                 "blocking postal-address: Add a physical postal address. CAN-SPAM requires it "
                 "in every email footer.\n"
                 "blocking from-domain: The From address uses elsewhere.example, but the "
                 "verified domain is quietworkshop.news.\n"
                 "advisory worker-https: The worker URL should use https so unsubscribe links "
                 "are trusted.\n"
                 "advisory publication-name: Name your publication so readers recognize it in "
                 "the footer.\n"_ba);

        QCOMPARE(runCli({"check", "--library", path, "--issue", "nope"}).code, 2);
    }

    void tokensRoundTrip() {
        const CliRun token = runCli({"token", "--purpose", "unsubscribe", "--email",
                                     " Ann@Example.com ", "--secret", "s3cret"});
        QCOMPARE(token.code, 0);
        const QString t = QString::fromUtf8(token.out.trimmed());
        QCOMPARE(t, ReaderLinks::unsubscribeToken(u"ann@example.com"_s, u"s3cret"_s));
        QCOMPARE(
            runCli({"verify", "--purpose", "unsubscribe", "--token", t, "--secret", "s3cret"}).out,
            "ann@example.com\n"_ba);
        QCOMPARE(
            runCli({"verify", "--purpose", "unsubscribe", "--token", t, "--secret", "other"}).code,
            1);
    }
};

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_cli_send.moc"
