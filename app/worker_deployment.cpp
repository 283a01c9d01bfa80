// The signup worker's deployment beyond the upload itself: its bindings, the AWS account it
// trusts, its health, the Cloudflare accounts a token sees, and new AWS keys reaching it.
#include "app/worker_deployment.h"

#include "app/app_model.h"
#include "core/keychain_error.h"
#include "worker/cloudflare_deployer.h"
#include "worker/sts_client.h"

#include <QLocale>
#include <QPointer>

namespace quillmere {

QMap<QString, QString> WorkerDeployment::vars(const SenderProfile& profile,
                                              const std::optional<QString>& awsAccountID) {
    QMap<QString, QString> vars{
        {QStringLiteral("PUBLICATION_NAME"), profile.publicationName},
        {QStringLiteral("FROM_EMAIL"), profile.fromEmail},
        {QStringLiteral("AWS_REGION"), profile.region},
        {QStringLiteral("DOUBLE_OPT_IN"),
         profile.doubleOptIn ? QStringLiteral("true") : QStringLiteral("false")},
        {QStringLiteral("SIGNUPS_PER_CLIENT_PER_HOUR"), QString::number(signupsPerClientPerHour)},
        {QStringLiteral("SIGNUPS_PER_MAILBOX_PER_10_MINUTES"),
         QString::number(signupsPerMailboxPer10Minutes)},
        {QStringLiteral("SIGNUPS_PER_HOUR"), QString::number(signupsPerHour)},
    };
    if (awsAccountID) {
        vars.insert(QStringLiteral("AWS_ACCOUNT_ID"), *awsAccountID);
    }
    return vars;
}

namespace {

QString failureLine(const QString& what, const WorkerFailure& failure) {
    return what + QStringLiteral(" (") +
           QLocale().toString(failure.at.toLocalTime(), QLocale::ShortFormat) +
           QStringLiteral("): ") + failure.message;
}

} // namespace

QStringList AppModel::workerHealthProblems(const std::optional<QDateTime>& after) const {
    QStringList problems;
    if (!m_workerHealth) {
        return problems;
    }
    const auto recent = [&](const std::optional<WorkerFailure>& failure) {
        // Whole seconds on both sides: a failure in the second of the last sync counts as new.
        return failure && (!after || failure->at >= *after);
    };
    if (recent(m_workerHealth->mailFailure)) {
        problems.append(
            failureLine(QStringLiteral("Confirmation mail failed"), *m_workerHealth->mailFailure));
    }
    if (recent(m_workerHealth->snsFailure)) {
        problems.append(failureLine(QStringLiteral("A bounce or complaint notification failed"),
                                    *m_workerHealth->snsFailure));
    }
    return problems;
}

QCoro::Task<void> AppModel::refreshWorkerHealth() {
    const auto client = makeWorkerClient();
    if (!client) {
        co_return;
    }
    QPointer<AppModel> self(this);
    try {
        WorkerHealth health = co_await client->healthReport();
        if (self) {
            m_workerHealth = std::move(health);
            Q_EMIT workerHealthChanged();
        }
    } catch (const std::exception&) {
        // Unreachable now: the screen keeps what it knew.
    }
}

QCoro::Task<void> AppModel::reportWorkerFailures(std::optional<QDateTime> after) {
    QPointer<AppModel> self(this);
    const std::optional<QString> synced = m_statusMessage;
    co_await refreshWorkerHealth();
    if (!self) {
        co_return;
    }
    const QStringList problems = workerHealthProblems(after);
    if (!problems.isEmpty() && synced) {
        showStatus(*synced + QStringLiteral(" The worker reports: ") +
                   problems.join(QStringLiteral(" ")));
    }
}

QCoro::Task<std::optional<QList<CloudflareAccount>>>
AppModel::cloudflareAccounts(QString token) const {
    const CloudflareDeployer deployer(token, m_transport);
    const bool active = co_await deployer.verifyToken();
    if (!active) {
        co_return std::nullopt;
    }
    co_return co_await deployer.listAccounts();
}

QCoro::Task<std::optional<QString>> AppModel::awsAccountID(QString* problem) {
    std::optional<AWSCredentials> keys;
    try {
        keys = co_await loadCredentials();
    } catch (const KeychainError& error) {
        if (problem) {
            *problem = error.description();
        }
        co_return std::nullopt;
    }
    if (!keys) {
        co_return std::nullopt;
    }
    const STSClient sts(*keys, m_library.profile.region, m_transport);
    try {
        co_return co_await sts.accountID();
    } catch (const std::exception& error) {
        if (problem) {
            *problem = errorText(error);
        }
    }
    co_return std::nullopt;
}

QCoro::Task<void> AppModel::updateWorkerKeys() {
    QPointer<AppModel> self(this);
    std::optional<AWSCredentials> keys;
    std::optional<QString> cloudflareToken;
    try {
        keys = co_await loadCredentials();
        cloudflareToken = co_await m_keychain->read(CredentialStore::Key::cloudflareAPIToken);
    } catch (const KeychainError& error) {
        if (self) {
            showStatus(error.description());
        }
        co_return;
    }
    const auto client = self ? makeWorkerClient() : std::nullopt;
    if (!keys || !client) {
        co_return;
    }
    if (!cloudflareToken) {
        showStatus(QStringLiteral("Deploy the worker again on the Signup Worker screen, so it "
                                  "sends confirmation mail with your new AWS keys."));
        co_return;
    }
    const CloudflareDeployer deployer(*cloudflareToken, m_transport);
    const QUrl workerURL = client->baseURL();
    try {
        auto finding = deployer.accountServing(workerURL, WorkerDeployment::scriptName);
        const std::optional<QString> account = co_await finding;
        if (!self) {
            co_return;
        }
        if (!account) {
            showStatus(QStringLiteral("Your Cloudflare token no longer sees the worker at ") +
                       workerURL.toString() +
                       QStringLiteral(". Deploy it again so it gets your new AWS keys."));
            co_return;
        }
        // Keys of another AWS account: the worker must trust that account's topics instead,
        // which only a deployment can change.
        const std::optional<QString> keyAccount = co_await awsAccountID(nullptr);
        if (!self) {
            co_return;
        }
        auto reading = deployer.scriptVars(*account, WorkerDeployment::scriptName);
        const QMap<QString, QString> deployed = co_await reading;
        if (!self) {
            co_return;
        }
        if (keyAccount && *keyAccount != deployed.value(QStringLiteral("AWS_ACCOUNT_ID"))) {
            co_await deployWorker(*cloudflareToken, *account);
            co_return;
        }
        co_await deployer.putSecret(*account, WorkerDeployment::scriptName,
                                    QStringLiteral("AWS_ACCESS_KEY_ID"), keys->accessKeyID);
        co_await deployer.putSecret(*account, WorkerDeployment::scriptName,
                                    QStringLiteral("AWS_SECRET_ACCESS_KEY"), keys->secretAccessKey);
        if (self) {
            showStatus(QStringLiteral("Your worker now sends confirmation mail with the new AWS "
                                      "keys."));
        }
    } catch (const std::exception& error) {
        if (self) {
            showStatus(QStringLiteral("Could not give your worker the new AWS keys: ") +
                       errorText(error));
        }
    }
}

} // namespace quillmere
