// The workflows that connect the writer's accounts and keep the list in step: AWS keys, the SES
// account and domain, DNS records, the worker's deployment, synchronisation and CSV import.
#include "app/app_model.h"
#include "app/worker_deployment.h"
#include "core/keychain_error.h"
#include "import/csv_importer.h"
#include "render/email_address.h"
#include "render/reader_links.h"
#include "render/trim_spaces_and_tabs.h"
#include "ses/dns_records.h"
#include "ses/ses_client.h"
#include "worker/cloudflare_deployer.h"
#include "worker/worker_resources.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <atomic>

namespace quillmere {

namespace {

QString sendingDomain(const SenderProfile& profile) {
    return EmailAddress::normalisedDomain(profile.domain);
}

} // namespace

QCoro::Task<std::optional<AWSCredentials>> AppModel::loadCredentials() {
    if (m_fixedAWSCredentials) {
        co_return m_fixedAWSCredentials;
    }
    const auto accessKey = co_await m_keychain->read(CredentialStore::Key::awsAccessKeyID);
    if (!accessKey) {
        co_return std::nullopt;
    }
    const auto secretKey = co_await m_keychain->read(CredentialStore::Key::awsSecretAccessKey);
    if (!secretKey) {
        co_return std::nullopt;
    }
    co_return AWSCredentials{*accessKey, *secretKey, std::nullopt};
}

QCoro::Task<bool> AppModel::saveAWSKeys(QString accessKey, QString secretKey) {
    if (refusedInDemo(true)) {
        co_return false;
    }
    QPointer<AppModel> self(this);
    const BusyScope busy(*this);
    bool saved = false;
    try {
        co_await m_keychain->write(trimSpacesAndTabs(accessKey).toString(),
                                   CredentialStore::Key::awsAccessKeyID);
        co_await m_keychain->write(trimSpacesAndTabs(secretKey).toString(),
                                   CredentialStore::Key::awsSecretAccessKey);
        saved = true;
    } catch (const KeychainError& error) {
        if (self) {
            setSESError(error.isUnavailable()
                            ? error.description()
                            : QStringLiteral("Could not save to the system keychain: ") +
                                  errorText(error));
        }
    }
    if (!self) {
        co_return false;
    }
    if (saved) {
        setSESError(std::nullopt);
        updateWorkerKeys();
    }
    co_await refreshKeyPresence();
    co_return saved;
}

QCoro::Task<void> AppModel::refreshSES() {
    if (refusedInDemo(true)) {
        co_return;
    }
    QPointer<AppModel> self(this);
    std::optional<AWSCredentials> keys;
    try {
        keys = co_await loadCredentials();
    } catch (const KeychainError& error) {
        if (self) {
            setSESError(error.description());
        }
        co_return;
    }
    if (!self || !keys) {
        co_return;
    }
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
    if (m_isDemo || domain.isEmpty()) {
        co_return;
    }
    QPointer<AppModel> self(this);
    std::optional<AWSCredentials> keys;
    try {
        keys = co_await loadCredentials();
    } catch (const KeychainError&) {
        co_return; // a background check: the SES screen says why when asked
    }
    if (!self || !keys) {
        co_return;
    }
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
    if (refusedInDemo(true)) {
        co_return;
    }
    const QString domain = sendingDomain(m_library.profile);
    if (domain.isEmpty()) {
        setSESError(QStringLiteral("Enter your sending domain."));
        co_return;
    }
    QPointer<AppModel> self(this);
    std::optional<AWSCredentials> keys;
    try {
        keys = co_await loadCredentials();
    } catch (const KeychainError& error) {
        if (self) {
            setSESError(error.description());
        }
        co_return;
    }
    if (!self) {
        co_return;
    }
    if (!keys) {
        setSESError(QStringLiteral("Add your IAM access keys first."));
        co_return;
    }
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
    if (refusedInDemo()) {
        co_return;
    }
    QPointer<AppModel> self(this);
    const BusyScope busy(*this);
    const auto script = WorkerResources::script();
    const auto schema = WorkerResources::schema();
    if (!script || !schema) {
        showStatus(QStringLiteral("Worker template missing from the app bundle."));
        co_return;
    }
    // Everything the worker is handed comes from the keychain, and a new token or secret is kept
    // there before it is deployed: the app must be able to speak to its worker and sign links
    // it accepts. A keychain that cannot answer stops the deployment here.
    std::optional<AWSCredentials> keys;
    QString apiToken;
    QString signing;
    try {
        keys = co_await loadCredentials();
        apiToken = co_await m_keychain->readOrMake(CredentialStore::Key::workerAPIToken,
                                                   &ReaderLinks::randomSecret);
        signing = co_await signingSecret();
    } catch (const KeychainError& error) {
        if (self) {
            showStatus(error.description());
        }
        co_return;
    }
    if (!self) {
        co_return;
    }
    try {
        co_await m_keychain->write(cloudflareToken, CredentialStore::Key::cloudflareAPIToken);
    } catch (const KeychainError&) {
        // The deployment does not need it kept; the next one asks for it again.
    }
    if (!self) {
        co_return;
    }
    QMap<QString, QString> secrets{
        {QStringLiteral("API_TOKEN"), apiToken},
        {QStringLiteral("SIGNING_SECRET"), signing},
    };
    if (keys) {
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
    if (refusedInDemo()) {
        co_return;
    }
    QPointer<AppModel> self(this);
    try {
        co_await m_keychain->read(CredentialStore::Key::workerAPIToken);
    } catch (const KeychainError& error) {
        if (self) {
            showStatus(error.description());
        }
        co_return;
    }
    if (!self) {
        co_return;
    }
    if (!makeWorkerClient()) {
        showStatus(QStringLiteral("Deploy the worker first."));
        co_return;
    }
    const BusyScope busy(*this);
    co_await syncWithWorker(false);
}

QCoro::Task<void> AppModel::pushImported(QList<Subscriber> added) {
    if (m_isDemo) {
        co_return;
    }
    QPointer<AppModel> self(this);
    try {
        co_await m_keychain->read(CredentialStore::Key::workerAPIToken);
    } catch (const KeychainError&) {
        co_return; // the next sync pushes them
    }
    const auto client = self ? makeWorkerClient() : std::nullopt;
    if (!client) {
        co_return;
    }
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

// What the interface thread and a running import share.
struct ImportJob {
    std::atomic<qint64> read{0};
    std::atomic<qint64> size{0};
    std::atomic<bool> cancelled{false};
};

namespace {

struct ImportOutcome {
    enum { imported, unreadable, cancelled } kind = unreadable;
    CSVImportResult result;   // its subscribers moved into `merged`
    QList<Subscriber> merged; // the library's list with the new readers after it
    qsizetype added = 0;
    qsizetype alreadyThere = 0;
};

// Everything that takes time, on a thread of the pool: reading, decoding, importing, and
// leaving out the addresses the library already holds.
ImportOutcome importOffThread(const QString& path, const QList<Subscriber>& existing,
                              const QDateTime& now, const std::shared_ptr<ImportJob>& job) {
    ImportOutcome outcome;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return outcome;
    }
    auto result = CSVImporter::importFile(file, QFileInfo(path).completeBaseName(), now,
                                          [&job](qint64 read, qint64 size) {
                                              job->read = read;
                                              job->size = size;
                                              return !job->cancelled.load();
                                          });
    if (!result) {
        outcome.kind = ImportOutcome::cancelled;
        return outcome;
    }
    if (file.error() != QFileDevice::NoError) {
        return outcome;
    }
    QSet<QString> known;
    known.reserve(existing.size() + result->subscribers.size());
    for (const Subscriber& s : existing) {
        known.insert(s.email);
    }
    const qsizetype imported = result->subscribers.size();
    result->subscribers.removeIf([&known](const Subscriber& s) {
        const qsizetype before = known.size();
        known.insert(s.email);
        return known.size() == before;
    });
    outcome.added = result->subscribers.size();
    outcome.alreadyThere = imported - outcome.added;
    if (existing.isEmpty()) {
        outcome.merged = std::move(result->subscribers);
    } else {
        outcome.merged = existing;
        outcome.merged.append(std::move(result->subscribers));
    }
    result->subscribers.clear();
    outcome.result = std::move(*result);
    outcome.kind = ImportOutcome::imported;
    return outcome;
}

} // namespace

void AppModel::cancelImport() {
    if (m_importJob) {
        m_importJob->cancelled = true;
    }
}

void AppModel::clearLastImport() {
    if (m_lastImport) {
        m_lastImport.reset();
        Q_EMIT lastImportChanged();
    }
}

QCoro::Task<void> AppModel::importCSV(QString path) {
    if (m_importJob) {
        showStatus(QStringLiteral("An import is running already."));
        co_return;
    }
    QPointer<AppModel> self(this);
    const QString fileName = QFileInfo(path).fileName();
    auto job = std::make_shared<ImportJob>();
    m_importJob = job;
    const auto setProgress = [this](std::optional<ImportProgress> progress) {
        if (m_importProgress != progress) {
            m_importProgress = std::move(progress);
            Q_EMIT importProgressChanged();
        }
    };
    setProgress(ImportProgress{fileName, 0});
    QTimer poll; // the progress bar follows the import, at the pace of the eye
    poll.setInterval(100);
    connect(&poll, &QTimer::timeout, this, [job, fileName, setProgress] {
        const qint64 size = job->size;
        setProgress(ImportProgress{fileName, size > 0 ? double(job->read) / double(size) : 0});
    });
    poll.start();

    const QList<Subscriber> existing = m_library.subscribers; // shared, not copied
    auto work = [path, existing, time = now(), job] {
        return importOffThread(path, existing, time, job);
    };
    auto future = QtConcurrent::run(std::move(work));
    ImportOutcome outcome = co_await future;
    if (!self) {
        co_return;
    }
    poll.stop();
    m_importJob.reset();
    setProgress(std::nullopt);
    if (outcome.kind == ImportOutcome::unreadable) {
        showStatus(QStringLiteral("Could not read ") + fileName + QStringLiteral("."));
        co_return;
    }
    if (outcome.kind == ImportOutcome::cancelled) {
        showStatus(QStringLiteral("Import of %1 cancelled; nothing was added.").arg(fileName));
        co_return;
    }

    if (m_library.subscribers.isSharedWith(existing)) {
        // Nothing changed meanwhile: the list made off the interface thread takes its place.
        m_library.subscribers = std::move(outcome.merged);
    } else {
        // The list changed while the file was read: add the new readers to it as it is now.
        QSet<QString> known;
        for (const Subscriber& s : std::as_const(m_library.subscribers)) {
            known.insert(s.email);
        }
        QList<Subscriber> added;
        for (const Subscriber& s : outcome.merged.sliced(existing.size())) {
            if (!known.contains(s.email)) {
                known.insert(s.email);
                added.append(s);
            }
        }
        outcome.alreadyThere += outcome.added - added.size();
        outcome.added = added.size();
        m_library.subscribers.append(added);
    }
    libraryEdited(subscribersPart);

    const CSVImportResult& result = outcome.result;
    QString format = rawValue(result.format);
    format[0] = format[0].toUpper();
    showStatus(QStringLiteral("Imported %1 from %2 export. Skipped %3, duplicates %4.")
                   .arg(outcome.added)
                   .arg(format)
                   .arg(result.skipped.size())
                   .arg(result.duplicates + outcome.alreadyThere));
    m_lastImport = ImportReport{fileName, result.skipped};
    Q_EMIT lastImportChanged();
    if (outcome.added > 0) {
        pushImported(m_library.subscribers.sliced(m_library.subscribers.size() - outcome.added));
    }
}

} // namespace quillmere
