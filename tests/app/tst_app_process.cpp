// A real application process (workflow_host) and what it leaves behind.
//
// The last edit is on disk however the process is asked to end, even well inside the 0.4 s save
// debounce, and in the middle of a list send through the SES emulator so is every reader it
// reported as delivered. (Killed without the orderly quit, the send's journal keeps them:
// tst_cli_send.)
//
// Secrets stay in the keychain. The process (with the system keychain, the production library and
// settings locations, and every Qt debug message switched on) deploys the worker to a fake
// Cloudflare API, syncs with the deployed worker, sends an issue through the SES emulator and
// quits. Then the library file, the settings file, every other file the process left in its folders
// and everything it wrote to its standard output and error are searched for the AWS secret key, the
// Cloudflare token, the worker's API token and the link-signing secret, as they are and
// percent-encoded. The peers themselves receive the secrets by design; their own logs are not ours
// to search.
#include "app/list_send.h"
#include "core/keychain_store.h"
#include "core/library_file.h"
#include "ses/network_transport.h"
#include "support/model_fixture.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"
#include "workflow_host_driver.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace quillmere;
using namespace Qt::StringLiterals;

namespace {

const QString cloudflareToken = u"cf-Token_9f3c1e0d2b4a5968-secret"_s;
const QString accountID = u"9f3c1e0d2b4a59687766554433221100"_s;
// With the characters that encodings change.
const QString awsSecret = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCY/Quill+mere"_s;

struct Secret {
    QString name;
    QString value;
};

// Where each secret shows up in the given bytes, as it is or percent-encoded.
QStringList findSecrets(const QList<Secret>& secrets, const QString& where,
                        const QByteArray& bytes) {
    QStringList found;
    for (const Secret& secret : secrets) {
        const QByteArray plain = secret.value.toUtf8();
        const QByteArray encoded = QUrl::toPercentEncoding(secret.value);
        if (bytes.contains(plain) || bytes.contains(encoded)) {
            found.append(secret.name + u" in "_s + where);
        }
    }
    return found;
}

QStringList searchFolder(const QList<Secret>& secrets, const QString& folder) {
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            found += findSecrets(secrets, path, file.readAll());
        }
    }
    return found;
}

} // namespace

class TestAppProcess : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<test::NodePeer> m_cloudflare;
    std::unique_ptr<test::NodePeer> m_sts; // tells the deployment which AWS account the key is
    std::unique_ptr<test::SESEmulator> m_ses;
    std::shared_ptr<NetworkTransport> m_http = std::make_shared<NetworkTransport>();
    test::WorkflowHostDriver m_host;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QJsonObject config{{"token", cloudflareToken},
                                 {"accountId", accountID},
                                 {"accountName", "Writer's account"},
                                 {"subdomain", "quill-writer"}};
        m_cloudflare = std::make_unique<test::NodePeer>(u"fake_cloudflare.mjs"_s, config);
        QVERIFY(m_cloudflare->value(u"api"_s).startsWith(u"http://127.0.0.1:"_s));
        m_ses = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 100, 50000, 0));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
    }

    void deploySyncSendLeaveNoSecretBehind() {
        // The process's own folders: the library and settings go where they go for a writer.
        const QString data = m_dir.filePath(u"data"_s);
        const QString config = m_dir.filePath(u"config"_s);
        const QString cache = m_dir.filePath(u"cache"_s);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_s, data);
        environment.insert(u"XDG_CONFIG_HOME"_s, config);
        environment.insert(u"XDG_CACHE_HOME"_s, cache);
        environment.insert(u"AWS_ENDPOINT_URL_SESV2"_s, m_ses->url().toString());
        environment.insert(u"CLOUDFLARE_API_BASE_URL"_s, m_cloudflare->value(u"api"_s));
        m_sts = std::make_unique<test::NodePeer>(
            u"sts_stub.mjs"_s, QStringList{R"({"AKIDSECRETSTEST": "123456789012"})"});
        environment.insert(u"AWS_ENDPOINT_URL_STS"_s, m_sts->value(u"url"_s));
        environment.insert(u"QT_LOGGING_RULES"_s, u"*.debug=true"_s);
        m_host.start({}, environment);

        QJsonObject profile = test::profileOf(u"Quill"_s).toJson();
        profile[u"replyTo"_s] = u"letters@quill.example"_s;
        profile[u"workerBaseURL"_s] = QString(); // until the deployment
        profile[u"doubleOptIn"_s] = false;
        m_host.send({"credential", "aws.accessKeyID", "AKIDSECRETSTEST"});
        m_host.send({"credential", "aws.secretAccessKey", awsSecret});
        m_host.send({"refreshSES"});
        m_host.send({"profile", profile});
        m_host.send({"readers", 12, "quill.example"});
        m_host.send({"deploy", cloudflareToken, accountID});
        QVERIFY(m_host.waitDone(u"deploy"_s));
        QVERIFY2(
            m_host.statuses.contains(u"Worker live at https://postwick.quill-writer.workers.dev"_s),
            qPrintable(m_host.statuses.join(QLatin1Char('\n'))));

        // The deployed script answers on loopback; the writer's profile points there.
        const HTTPResponse script = test::runTask(m_http->send(HTTPRequest{
            u"GET"_s, QUrl(m_cloudflare->value(u"control"_s) + u"/scripts/postwick"_s), {}, {}}));
        const QString workerURL =
            QJsonDocument::fromJson(script.body).object()[u"url"_s].toString();
        QVERIFY(workerURL.startsWith(u"http://127.0.0.1:"_s));
        m_host.send({"profile", QJsonObject{{"workerBaseURL", workerURL}}});
        m_host.send({"sync"});
        m_host.send({"issue", "A secret-free issue"});
        m_host.send({"send"});
        m_host.send({"waitStatus", "Sent and published to"});
        m_host.send({"finishOnboarding"});
        m_host.send({"quit"});
        QVERIFY2(m_host.waitDone(u"waitStatus"_s), qPrintable(m_host.statuses.join(u'\n')));
        QVERIFY(m_host.ended(20000));
        QCOMPARE(m_host.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_host.process.exitCode(), 0);
        m_host.output += m_host.process.readAllStandardOutput();
        const QByteArray errors = m_host.process.readAllStandardError();
        QVERIFY2(m_host.statuses.contains(u"Synced 12 changes from the worker."_s),
                 qPrintable(m_host.statuses.join(QLatin1Char('\n'))));

        // The workflow really ran: the library and settings hold what it did.
        const QString libraryPath = data + u"/Postwick/library.json"_s;
        const QString settingsPath = config + u"/Quillmere/Quillmere.conf"_s;
        const Library library = LibraryFile::read(libraryPath);
        QCOMPARE(library.profile.workerBaseURL, workerURL);
        QVERIFY(library.lastSync.has_value());
        QCOMPARE(library.newsletters.size(), 1);
        QCOMPARE(library.newsletters.first().status, CampaignStatus::sent);
        QCOMPARE(library.newsletters.first().deliveredIDs.size(), 12);
        QVERIFY(QFile::exists(settingsPath));

        // The secrets, as the keychain holds them.
        KeychainStore keychain;
        QList<Secret> secrets;
        for (const auto& [name, account] :
             {std::pair{"the AWS secret key", CredentialStore::Key::awsSecretAccessKey},
              std::pair{"the Cloudflare token", CredentialStore::Key::cloudflareAPIToken},
              std::pair{"the worker API token", CredentialStore::Key::workerAPIToken},
              std::pair{"the signing secret", CredentialStore::Key::workerSigningSecret}}) {
            const auto value = test::runTask(keychain.read(account, {}));
            QVERIFY2(value && value->size() >= 16, name);
            secrets.append({QString::fromLatin1(name), *value});
        }
        QCOMPARE(secrets[0].value, awsSecret);
        QCOMPARE(secrets[1].value, cloudflareToken);

        // The search finds a secret where there is one, plain or percent-encoded.
        const QString control = m_dir.filePath(u"control"_s);
        QDir().mkpath(control);
        const auto put = [&](const QString& name, const QByteArray& bytes) {
            QFile file(control + u'/' + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        };
        for (const Secret& secret : secrets) {
            put(secret.name, "token=" + secret.value.toUtf8() + "&next");
        }
        put(u"encoded"_s, "?k=" + QUrl::toPercentEncoding(awsSecret));
        QCOMPARE(searchFolder(secrets, control).size(), secrets.size() + 1);

        // None anywhere the process wrote.
        QStringList found = searchFolder(secrets, data) + searchFolder(secrets, config) +
                            searchFolder(secrets, cache);
        found += findSecrets(secrets, u"its standard output"_s, m_host.output);
        found += findSecrets(secrets, u"its standard error"_s, errors);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u", "_s)));
        // The searched output is real: the run spoke.
        QVERIFY(m_host.output.contains("Sent and published to"));
    }

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
        const QJsonObject profile = test::profileOf(u"Stop"_s).toJson();
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

    void cleanupTestCase() {
        test::killGroup(m_host.process);
        m_sts.reset();
        m_cloudflare.reset();
        m_ses.reset();
    }
};

QTEST_GUILESS_MAIN(TestAppProcess)
#include "tst_app_process.moc"
