// The workflows that connect the writer's accounts and keep the list in step: AWS keys, the SES
// account and domain, DNS records, the worker's deployment, synchronisation and CSV import.
#include "app/app_model.h"
#include "app/worker_deployment.h"
#include "core/keychain_error.h"
#include "import/csv_importer.h"
#include "render/reader_links.h"
#include "ses/dns_records.h"
#include "ses/ses_client.h"
#include "worker/cloudflare_deployer.h"
#include "worker/worker_resources.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

namespace quillmere {

namespace {

// Spaces and tabs only: a key pasted with a line break is left for the writer to see.
QString trimSpacesAndTabs(const QString& text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (start < end && blank(text[start])) {
        ++start;
    }
    while (end > start && blank(text[end - 1])) {
        --end;
    }
    return text.mid(start, end - start);
}

QString sendingDomain(const SenderProfile& profile) {
    return trimSpacesAndTabs(profile.domain).toLower();
}

} // namespace

std::optional<AWSCredentials> AppModel::loadCredentials() const {
    if (m_fixedAWSCredentials) {
        return m_fixedAWSCredentials;
    }
    const auto accessKey = m_credentials->get(CredentialStore::Key::awsAccessKeyID);
    const auto secretKey = m_credentials->get(CredentialStore::Key::awsSecretAccessKey);
    if (!accessKey || accessKey->isEmpty() || !secretKey || secretKey->isEmpty()) {
        return std::nullopt;
    }
    return AWSCredentials{*accessKey, *secretKey, std::nullopt};
}

void AppModel::saveAWSKeys(const QString& accessKey, const QString& secretKey) {
    try {
        m_credentials->set(trimSpacesAndTabs(accessKey), CredentialStore::Key::awsAccessKeyID);
        m_credentials->set(trimSpacesAndTabs(secretKey), CredentialStore::Key::awsSecretAccessKey);
        setSESError(std::nullopt);
        updateWorkerKeys();
    } catch (const KeychainError& error) {
        setSESError(QStringLiteral("Could not save to the system keychain: ") + errorText(error));
    }
    refreshKeyPresence();
}

QCoro::Task<void> AppModel::refreshSES() {
    const auto keys = loadCredentials();
    if (!keys) {
        co_return;
    }
    QPointer<AppModel> self(this);
    const SESClient client(*keys, m_library.profile.region, m_transport);
    const BusyScope busy(*this);
    try {
        SESAccount account = co_await client.getAccount();
        if (!self) {
            co_return;
        }
        setAccount(std::move(account));
        setSESError(std::nullopt);
    } catch (const std::exception& error) {
        if (!self) {
            co_return;
        }
        setSESError(errorText(error));
    }
}

QCoro::Task<void> AppModel::refreshIdentity() {
    const QString domain = sendingDomain(m_library.profile);
    const auto keys = loadCredentials();
    if (domain.isEmpty() || !keys) {
        co_return;
    }
    QPointer<AppModel> self(this);
    const SESClient client(*keys, m_library.profile.region, m_transport);
    try {
        SESIdentity identity = co_await client.getIdentity(domain);
        if (self) {
            setIdentity(std::move(identity));
        }
    } catch (const std::exception&) {
        // Not known to SES yet, or unreachable: the screen keeps offering "Verify Domain".
    }
}

QCoro::Task<void> AppModel::refreshSESAndIdentity() {
    QPointer<AppModel> self(this);
    co_await refreshSES();
    if (self) {
        co_await refreshIdentity();
    }
}

QCoro::Task<void> AppModel::verifyDomain() {
    const QString domain = sendingDomain(m_library.profile);
    if (domain.isEmpty()) {
        setSESError(QStringLiteral("Enter your sending domain."));
        co_return;
    }
    const auto keys = loadCredentials();
    if (!keys) {
        setSESError(QStringLiteral("Add your IAM access keys first."));
        co_return;
    }
    QPointer<AppModel> self(this);
    const SESClient client(*keys, m_library.profile.region, m_transport);
    const BusyScope busy(*this);
    bool created = false;
    try {
        SESIdentity identity = co_await client.createDomainIdentity(domain);
        if (!self) {
            co_return;
        }
        setIdentity(std::move(identity));
        created = true;
    } catch (const std::exception&) {
        // Most often the domain is already known to SES: read its state instead.
    }
    if (!created) {
        try {
            SESIdentity identity = co_await client.getIdentity(domain);
            if (!self) {
                co_return;
            }
            setIdentity(std::move(identity));
            setSESError(std::nullopt);
        } catch (const std::exception& error) {
            if (!self) {
                co_return;
            }
            setSESError(errorText(error));
        }
    }
}

QList<DNSRecord> AppModel::dnsRecords() const {
    const SenderProfile& profile = m_library.profile;
    if (profile.domain.isEmpty()) {
        return {};
    }
    QList<DNSRecord> records =
        DNSRecords::dkim(profile.domain, m_identity ? m_identity->dkimTokens : QStringList());
    records.append(DNSRecords::spf(profile.domain));
    records.append(DNSRecords::dmarc(
        profile.domain, profile.replyTo.isEmpty() ? std::nullopt : std::optional(profile.replyTo)));
    return records;
}

QCoro::Task<void> AppModel::deployWorker(QString cloudflareToken, QString accountID) {
    QPointer<AppModel> self(this);
    const BusyScope busy(*this);
    const auto script = WorkerResources::script();
    const auto schema = WorkerResources::schema();
    if (!script || !schema) {
        showStatus(QStringLiteral("Worker template missing from the app bundle."));
        co_return;
    }
    auto apiToken = m_credentials->get(CredentialStore::Key::workerAPIToken);
    if (!apiToken || apiToken->isEmpty()) {
        apiToken = ReaderLinks::randomSecret();
    }
    try {
        m_credentials->set(*apiToken, CredentialStore::Key::workerAPIToken);
        m_credentials->set(cloudflareToken, CredentialStore::Key::cloudflareAPIToken);
    } catch (const std::exception&) {
        // The deployment itself does not need them stored; the next one will try again.
    }
    QMap<QString, QString> secrets{
        {QStringLiteral("API_TOKEN"), *apiToken},
        {QStringLiteral("SIGNING_SECRET"), signingSecret()},
    };
    if (const auto keys = loadCredentials()) {
        secrets.insert(QStringLiteral("AWS_ACCESS_KEY_ID"), keys->accessKeyID);
        secrets.insert(QStringLiteral("AWS_SECRET_ACCESS_KEY"), keys->secretAccessKey);
    }
    // The worker accepts bounces and complaints from the topics of this account only.
    QString accountProblem;
    const std::optional<QString> awsAccount = co_await awsAccountID(&accountProblem);
    if (!self) {
        co_return;
    }
    const QMap<QString, QString> vars = WorkerDeployment::vars(m_library.profile, awsAccount);
    const CloudflareDeployer deployer(cloudflareToken, m_transport);
    try {
        auto deployment = deployer.deploy(accountID, WorkerDeployment::scriptName, *script, *schema,
                                          vars, secrets);
        const QUrl url = co_await deployment;
        if (!self) {
            co_return;
        }
        SenderProfile updated = m_library.profile;
        updated.workerBaseURL = url.toString();
        setProfile(updated);
        showStatus(QStringLiteral("Worker live at ") + url.toString() +
                   (accountProblem.isEmpty()
                        ? QString()
                        : QStringLiteral(". Bounce routing stays off until your AWS account can "
                                         "be read: ") +
                              accountProblem));
    } catch (const std::exception& error) {
        if (!self) {
            co_return;
        }
        showStatus(errorText(error));
    }
}

QCoro::Task<void> AppModel::syncSubscribers() {
    if (!makeWorkerClient()) {
        showStatus(QStringLiteral("Deploy the worker first."));
        co_return;
    }
    const BusyScope busy(*this);
    co_await syncWithWorker(false);
}

QCoro::Task<void> AppModel::pushImported(QList<Subscriber> added) {
    const auto client = makeWorkerClient();
    if (!client) {
        co_return;
    }
    QPointer<AppModel> self(this);
    const qsizetype count = added.size();
    try {
        const qint64 pushed = co_await client->upsertSubscribers(std::move(added));
        if (self) {
            showStatus(
                QStringLiteral("Imported %1 and pushed %2 to your worker.").arg(count).arg(pushed));
        }
    } catch (const std::exception& error) {
        if (self) {
            showStatus(QStringLiteral("Imported locally. Push to worker failed: ") +
                       errorText(error));
        }
    }
}

void AppModel::importCSV(const QString& path) {
    const QFileInfo info(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showStatus(QStringLiteral("Could not read ") + info.fileName() + QStringLiteral("."));
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        showStatus(QStringLiteral("Could not read ") + info.fileName() + QStringLiteral("."));
        return;
    }
    const CSVImportResult result =
        CSVImporter::importCSV(CSVImporter::decodeFile(bytes), info.completeBaseName());

    QSet<QString> known;
    known.reserve(m_library.subscribers.size() + result.subscribers.size());
    for (const Subscriber& s : std::as_const(m_library.subscribers)) {
        known.insert(s.email);
    }
    QList<Subscriber> added;
    qsizetype alreadyThere = 0;
    for (const Subscriber& s : result.subscribers) {
        if (known.contains(s.email)) {
            ++alreadyThere;
            continue;
        }
        known.insert(s.email);
        added.append(s);
    }
    m_library.subscribers.append(added);
    libraryEdited(subscribersPart);

    QString format = rawValue(result.format);
    format[0] = format[0].toUpper();
    showStatus(QStringLiteral("Imported %1 from %2 export. Skipped %3, duplicates %4.")
                   .arg(added.size())
                   .arg(format)
                   .arg(result.skipped.size())
                   .arg(result.duplicates + alreadyThere));
    if (!added.isEmpty()) {
        pushImported(std::move(added));
    }
}

} // namespace quillmere
