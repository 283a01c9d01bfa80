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
#include "workflow_host_driver.h"

#include <QDirIterator>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

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

class TestSecrets : public QObject {
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

        const QJsonObject profile{{"publicationName", "Secret Notes"},
                                  {"fromName", "Ann Quill"},
                                  {"fromEmail", "ann@quill.example"},
                                  {"replyTo", "letters@quill.example"},
                                  {"postalAddress", "1 Main St\nSpringfield"},
                                  {"domain", "quill.example"},
                                  {"doubleOptIn", false}};
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
        m_host.send({"workerURL", workerURL});
        m_host.send({"sync"});
        m_host.send({"issue", "A secret-free issue"});
        m_host.send({"send"});
        m_host.send({"waitSend"});
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
        for (const Secret& secret : secrets) {
            QFile plain(control + u"/plain-"_s + QString::number(qHash(secret.name)));
            QVERIFY(plain.open(QIODevice::WriteOnly));
            plain.write("token=" + secret.value.toUtf8() + "&next");
        }
        QFile encoded(control + u"/encoded"_s);
        QVERIFY(encoded.open(QIODevice::WriteOnly));
        encoded.write("?k=" + QUrl::toPercentEncoding(awsSecret));
        encoded.close();
        QCOMPARE(searchFolder(secrets, control).size(), secrets.size() + 1);

        // None anywhere the process wrote.
        QStringList found;
        found += searchFolder(secrets, data);
        found += searchFolder(secrets, config);
        found += searchFolder(secrets, cache);
        found += findSecrets(secrets, u"its standard output"_s, m_host.output);
        found += findSecrets(secrets, u"its standard error"_s, errors);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u", "_s)));
        // The searched output is real: the run spoke.
        QVERIFY(m_host.output.contains("Sent and published to"));
    }

    void cleanupTestCase() {
        test::killGroup(m_host.process);
        m_sts.reset();
        m_cloudflare.reset();
        m_ses.reset();
    }
};

QTEST_GUILESS_MAIN(TestSecrets)
#include "tst_secrets.moc"
