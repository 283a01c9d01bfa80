// Secrets stay in the keychain. A real application process (workflow_host, with the system
// keychain, the production library and settings locations, and every Qt debug message
// switched on) deploys the worker to a fake Cloudflare API, syncs with the deployed worker,
// sends an issue through the SES emulator and quits. Then the library file, the settings file,
// every other file the process left in its folders and everything it wrote to its standard
// output and error are searched for the AWS secret key, the Cloudflare token, the worker's API
// token and the link-signing secret, as they are and percent-encoded. The peers themselves
// receive the secrets by design; their own logs are not ours to search.
#include "core/keychain_store.h"
#include "core/library_file.h"
#include "ses/network_transport.h"
#include "support/node_peer.h"
#include "support/run_task.h"
#include "support/ses_account.h"
#include "support/ses_emulator.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace quillmere;

namespace {

const QString cloudflareToken = QStringLiteral("cf-Token_9f3c1e0d2b4a5968-secret");
const QString accountID = QStringLiteral("9f3c1e0d2b4a59687766554433221100");
// With the characters that encodings change.
const QString awsSecret = QStringLiteral("wJalrXUtnFEMI/K7MDENG+bPxRfiCY/Quill+mere");

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
            found.append(secret.name + QStringLiteral(" in ") + where);
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

class TestSecrets : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<test::NodePeer> m_cloudflare;
    std::unique_ptr<test::NodePeer> m_sts; // tells the deployment which AWS account the key is
    std::unique_ptr<test::SESEmulator> m_ses;
    std::shared_ptr<NetworkTransport> m_http = std::make_shared<NetworkTransport>();
    QProcess m_host;
    QByteArray m_output;
    QStringList m_statuses;

    void send(const QJsonArray& command) {
        m_host.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    }

    // Reads the host's output until it reports `done` for a command.
    bool waitDone(const QString& command, int timeoutMs = 60000) {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            while (m_host.canReadLine()) {
                const QByteArray line = m_host.readLine();
                m_output += line;
                const QJsonObject event = QJsonDocument::fromJson(line).object();
                if (event.contains(QLatin1String("status"))) {
                    m_statuses.append(event[QLatin1String("status")].toString());
                }
                if (event[QLatin1String("done")].toString() == command) {
                    return true;
                }
            }
            if (m_host.state() != QProcess::Running) {
                return false;
            }
            m_host.waitForReadyRead(200);
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QJsonObject config{{"token", cloudflareToken},
                                 {"accountId", accountID},
                                 {"accountName", "Writer's account"},
                                 {"subdomain", "quill-writer"}};
        m_cloudflare = std::make_unique<test::NodePeer>(
            QStringLiteral("fake_cloudflare.mjs"),
            QStringList{QString::fromUtf8(QJsonDocument(config).toJson(QJsonDocument::Compact))});
        QVERIFY(m_cloudflare->value(QStringLiteral("api"))
                    .startsWith(QStringLiteral("http://127.0.0.1:")));
        m_ses = std::make_unique<test::SESEmulator>(test::sesAccountJSON(true, 100, 50000, 0));
        QVERIFY2(m_ses->isRunning(), qPrintable(m_ses->error()));
    }

    void deploySyncSendLeaveNoSecretBehind() {
        // The process's own folders: the library and settings go where they go for a writer.
        const QString data = m_dir.filePath(QStringLiteral("data"));
        const QString config = m_dir.filePath(QStringLiteral("config"));
        const QString cache = m_dir.filePath(QStringLiteral("cache"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), cache);
        environment.insert(QStringLiteral("AWS_ENDPOINT_URL_SESV2"), m_ses->url().toString());
        environment.insert(QStringLiteral("CLOUDFLARE_API_BASE_URL"),
                           m_cloudflare->value(QStringLiteral("api")));
        m_sts = std::make_unique<test::NodePeer>(
            QStringLiteral("sts_stub.mjs"), QStringList{R"({"AKIDSECRETSTEST": "123456789012"})"});
        environment.insert(QStringLiteral("AWS_ENDPOINT_URL_STS"),
                           m_sts->value(QStringLiteral("url")));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=true"));
        m_host.setProcessEnvironment(environment);
        m_host.start(QStringLiteral(QUILLMERE_BINARY_DIR "/tests/app/workflow_host"), {});
        QVERIFY(m_host.waitForStarted(10000));

        const QJsonObject profile{{"publicationName", "Secret Notes"},
                                  {"fromName", "Ann Quill"},
                                  {"fromEmail", "ann@quill.example"},
                                  {"replyTo", "letters@quill.example"},
                                  {"postalAddress", "1 Main St\nSpringfield"},
                                  {"domain", "quill.example"},
                                  {"doubleOptIn", false}};
        send({"credential", "aws.accessKeyID", "AKIDSECRETSTEST"});
        send({"credential", "aws.secretAccessKey", awsSecret});
        send({"refreshSES"});
        send({"profile", profile});
        send({"readers", 12, "quill.example"});
        send({"deploy", cloudflareToken, accountID});
        QVERIFY(waitDone(QStringLiteral("deploy")));
        QVERIFY2(m_statuses.contains(
                     QStringLiteral("Worker live at https://postwick.quill-writer.workers.dev")),
                 qPrintable(m_statuses.join(QLatin1Char('\n'))));

        // The deployed script answers on loopback; the writer's profile points there.
        const HTTPResponse script = test::runTask(
            m_http->send(HTTPRequest{QStringLiteral("GET"),
                                     QUrl(m_cloudflare->value(QStringLiteral("control")) +
                                          QStringLiteral("/scripts/postwick")),
                                     {},
                                     {}}));
        const QString workerURL =
            QJsonDocument::fromJson(script.body).object()[QLatin1String("url")].toString();
        QVERIFY(workerURL.startsWith(QStringLiteral("http://127.0.0.1:")));
        send({"workerURL", workerURL});
        send({"sync"});
        send({"issue", "A secret-free issue"});
        send({"send"});
        send({"waitSend"});
        send({"waitStatus", "Sent and published to"});
        send({"finishOnboarding"});
        send({"quit"});
        QVERIFY2(waitDone(QStringLiteral("waitStatus")), qPrintable(m_statuses.join(u'\n')));
        QVERIFY(m_host.waitForFinished(20000));
        QCOMPARE(m_host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_host.exitCode(), 0);
        m_output += m_host.readAllStandardOutput();
        const QByteArray errors = m_host.readAllStandardError();
        QVERIFY2(m_statuses.contains(QStringLiteral("Synced 12 changes from the worker.")),
                 qPrintable(m_statuses.join(QLatin1Char('\n'))));

        // The workflow really ran: the library and settings hold what it did.
        const QString libraryPath = data + QStringLiteral("/Postwick/library.json");
        const QString settingsPath = config + QStringLiteral("/Quillmere/Quillmere.conf");
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
        const QString control = m_dir.filePath(QStringLiteral("control"));
        QDir().mkpath(control);
        for (const Secret& secret : secrets) {
            QFile plain(control + QStringLiteral("/plain-") + QString::number(qHash(secret.name)));
            QVERIFY(plain.open(QIODevice::WriteOnly));
            plain.write("token=" + secret.value.toUtf8() + "&next");
        }
        QFile encoded(control + QStringLiteral("/encoded"));
        QVERIFY(encoded.open(QIODevice::WriteOnly));
        encoded.write("?k=" + QUrl::toPercentEncoding(awsSecret));
        encoded.close();
        QCOMPARE(searchFolder(secrets, control).size(), secrets.size() + 1);

        // None anywhere the process wrote.
        QStringList found;
        found += searchFolder(secrets, data);
        found += searchFolder(secrets, config);
        found += searchFolder(secrets, cache);
        found += findSecrets(secrets, QStringLiteral("its standard output"), m_output);
        found += findSecrets(secrets, QStringLiteral("its standard error"), errors);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral(", "))));
        // The searched output is real: the run spoke.
        QVERIFY(m_output.contains("Sent and published to"));
    }

    void cleanupTestCase() {
        if (m_host.state() != QProcess::NotRunning) {
            m_host.kill();
            m_host.waitForFinished(5000);
        }
        m_sts.reset();
        m_cloudflare.reset();
        m_ses.reset();
    }
};

QTEST_GUILESS_MAIN(TestSecrets)
#include "tst_secrets.moc"
