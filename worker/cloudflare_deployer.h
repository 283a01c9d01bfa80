#pragma once

#include "ses/http_transport.h"

#include <QList>
#include <QMap>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace quillmere {

// One Cloudflare account the API token can see.
struct CloudflareAccount {
    QString id;
    QString name;

    bool operator==(const CloudflareAccount&) const = default;
};

// Installs the signup worker into the writer's Cloudflare account through the v4 client API:
// checks a token, lists accounts, and deploys (find or create the D1 database, apply the schema,
// upload the script with its bindings, switch on the workers.dev route, report the URL).
// Immutable; failures are CloudflareError, or the transport's own error unchanged.
class CloudflareDeployer {
public:
    using BoundaryMaker = std::function<QString()>;

    static constexpr const char* defaultAPIBase = "https://api.cloudflare.com/client/v4";
    static constexpr const char* compatibilityDate = "2025-09-01";
    static constexpr const char* databaseBinding = "DB";
    static constexpr const char* mainModule = "worker.js";
    static constexpr const char* workersDomain = "workers.dev";

    // The boundary is "Postwick-" and a fresh upper-case UUID.
    CloudflareDeployer(QString apiToken, std::shared_ptr<HTTPTransport> transport);
    CloudflareDeployer(QString apiToken, std::shared_ptr<HTTPTransport> transport,
                       BoundaryMaker boundary);

    // The v4 API base: CLOUDFLARE_API_BASE_URL when set (as wrangler reads it), else the
    // public one. Read when the deployer is made.
    const QString& apiBase() const { return m_apiBase; }
    const QString& apiToken() const { return m_apiToken; }

    QCoro::Task<bool> verifyToken() const;
    QCoro::Task<QList<CloudflareAccount>> listAccounts() const;
    QCoro::Task<QUrl> deploy(QString accountID, QString scriptName, QString workerJS,
                             QString schemaSQL, QMap<QString, QString> vars,
                             QMap<QString, QString> secrets) const;

    // Replaces one secret of a deployed script; the script keeps its code and other bindings.
    QCoro::Task<> putSecret(QString accountID, QString scriptName, QString name,
                            QString text) const;
    // The plain-text bindings of a deployed script, by name.
    QCoro::Task<QMap<QString, QString>> scriptVars(QString accountID, QString scriptName) const;
    // The id of the account whose workers.dev subdomain serves `workerURL` (the address deploy
    // returned for `scriptName`), or none when no account the token sees does.
    QCoro::Task<std::optional<QString>> accountServing(QUrl workerURL, QString scriptName) const;

    static QString databaseName(const QString& scriptName);
    static QByteArray metadataJSON(const QString& databaseID, const QMap<QString, QString>& vars,
                                   const QMap<QString, QString>& secrets);
    static QByteArray multipartBody(const QString& boundary, const QByteArray& metadata,
                                    const QString& workerJS);

private:
    QString m_apiToken;
    std::shared_ptr<HTTPTransport> m_transport;
    BoundaryMaker m_makeBoundary;
    QString m_apiBase;
};

} // namespace quillmere
