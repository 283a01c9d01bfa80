// The workflows that connect the writer's accounts and keep the list in step: AWS keys, the SES
// account and domain, DNS records, the worker's deployment, synchronisation and CSV import.
#include "app/app_model.h"
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
    const SenderProfile& profile = m_library.profile;
    const QMap<QString, QString> vars{
        {QStringLiteral("PUBLICATION_NAME"), profile.publicationName},
        {QStringLiteral("FROM_EMAIL"), profile.fromEmail},
        {QStringLiteral("AWS_REGION"), profile.region},
        {QStringLiteral("DOUBLE_OPT_IN"),
         profile.doubleOptIn ? QStringLiteral("true") : QStringLiteral("false")},
    };
    const CloudflareDeployer deployer(cloudflareToken, m_transport);
    try {
        auto deployment =
            deployer.deploy(accountID, QStringLiteral("postwick"), *script, *schema, vars, secrets);
        const QUrl url = co_await deployment;
        if (!self) {
            co_return;
        }
        SenderProfile updated = m_library.profile;
        updated.workerBaseURL = url.toString();
        setProfile(updated);
        showStatus(QStringLiteral("Worker live at ") + url.toString());
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
    co_await pushAndPull(false);
}

QCoro::Task<bool> AppModel::pushAndPull(bool quiet) {
    const auto client = makeWorkerClient();
    if (!client) {
        co_return false;
    }
    QPointer<AppModel> self(this);
    m_pulling = true;
    const std::optional<QDateTime> since = m_library.lastSync;
    QList<Subscriber> changed;
    for (const Subscriber& s : std::as_const(m_library.subscribers)) {
        if (!since || s.updatedAt > *since) {
            changed.append(s);
        }
    }
    try {
        if (!changed.isEmpty()) {
            co_await client->upsertSubscribers(std::move(changed));
            if (!self) {
                co_return false;
            }
        }
        const QList<Subscriber> fetched = co_await client->fetchSubscribers(since);
        if (!self) {
            co_return false;
        }
        mergeFetched(fetched);
        m_library.lastSync = now();
        // A send's pulls reach the disk with the send's own saves (pause, end).
        libraryEdited(subscribersPart | syncPart, !quiet);
        if (quiet && !m_isDemo) {
            m_unsaved = true;
        }
        if (!quiet) {
            showStatus(QStringLiteral("Synced %1 changes from the worker.").arg(fetched.size()));
        }
    } catch (const std::exception& error) {
        if (!self) {
            co_return false;
        }
        m_pulling = false;
        if (!quiet) {
            showStatus(errorText(error));
        }
        co_return false;
    }
    m_pulling = false;
    co_return true;
}

void AppModel::mergeFetched(const QList<Subscriber>& fetched) {
    QHash<QString, qsizetype> byAddress;
    byAddress.reserve(m_library.subscribers.size());
    for (qsizetype i = 0; i < m_library.subscribers.size(); ++i) {
        byAddress.insert(m_library.subscribers[i].email, i);
    }
    QList<std::pair<QUuid, SubscriberStatus>> changes;
    for (const Subscriber& remote : fetched) {
        const auto found = byAddress.constFind(remote.email);
        if (found == byAddress.constEnd()) {
            byAddress.insert(remote.email, m_library.subscribers.size());
            m_library.subscribers.append(remote);
            continue;
        }
        Subscriber& local = m_library.subscribers[*found];
        if (local.status != remote.status) {
            changes.append({local.id, remote.status});
        }
        local.status = remote.status; // the worker's state wins
        local.updatedAt = remote.updatedAt;
    }
    if (m_listSend && m_listSend->isAttributing()) {
        m_listSend->attribute(changes);
    }
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
