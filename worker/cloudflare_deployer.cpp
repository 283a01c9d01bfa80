#include "worker/cloudflare_deployer.h"

#include "core/uuid_text.h"
#include "worker/cloudflare_error.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringDecoder>
#include <QUrlQuery>
#include <QUuid>

#include <cmath>

namespace quillmere {

namespace {

// What a deploy needs after its first suspension, held by value: the deployer may be gone by
// then.
struct Endpoint {
    QString apiBase;
    QString apiToken;
    std::shared_ptr<HTTPTransport> transport;
};

struct Call {
    QString method;
    QString path; // percent-encoded where it holds names
    QList<std::pair<QString, QString>> query = {};
    std::optional<QJsonObject> json = std::nullopt;
    QByteArray body = {};
    QString contentType = {};
};

QString apiBaseFromEnvironment() {
    QString base = qEnvironmentVariable("CLOUDFLARE_API_BASE_URL").trimmed();
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base.isEmpty() ? QString::fromLatin1(CloudflareDeployer::defaultAPIBase) : base;
}

// Every byte other than A-Z, a-z, 0-9, "-", ".", "_" and "~" as %XX (upper-case hex).
QString encodePathSegment(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

HTTPRequest makeRequest(const Endpoint& endpoint, const Call& call) {
    QUrl url(endpoint.apiBase + call.path, QUrl::TolerantMode);
    if (!call.query.isEmpty()) {
        QUrlQuery query;
        for (const auto& [key, value] : call.query) {
            query.addQueryItem(key, value);
        }
        url.setQuery(query);
    }
    HTTPRequest request;
    request.method = call.method;
    request.url = url;
    request.headers.insert(QStringLiteral("Authorization"),
                           QStringLiteral("Bearer ") + endpoint.apiToken);
    request.headers.insert(QStringLiteral("Accept"), QStringLiteral("application/json"));
    if (call.json) {
        request.body = QJsonDocument(*call.json).toJson(QJsonDocument::Compact);
        request.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    } else {
        request.body = call.body;
    }
    if (!call.contentType.isEmpty()) {
        request.headers.insert(QStringLiteral("Content-Type"), call.contentType);
    }
    return request;
}

// A JSON value as plain text: text as it is, integers as their digits.
QString plainText(const QJsonValue& value) {
    switch (value.type()) {
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::trunc(d) == d && std::fabs(d) < 9.0e15) {
            return QString::number(value.toInteger(qint64(d)));
        }
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    default:
        return QStringLiteral("null");
    }
}

QString fallbackMessage(const HTTPResponse& response) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(response.body);
    return utf8.hasError() ? QStringLiteral("HTTP %1").arg(response.status) : text;
}

CloudflareError collectErrors(const HTTPResponse& response, const QJsonObject& object) {
    QStringList messages;
    const QJsonArray errors = object.value(QLatin1String("errors")).toArray();
    for (const QJsonValue& element : errors) {
        const QJsonObject error = element.toObject();
        const QJsonValue message = error.value(QLatin1String("message"));
        if (!message.isString()) {
            continue;
        }
        if (error.contains(QLatin1String("code"))) {
            messages.append(QStringLiteral("%1 (%2)").arg(
                message.toString(), plainText(error.value(QLatin1String("code")))));
        } else {
            messages.append(message.toString());
        }
    }
    if (messages.isEmpty()) {
        messages.append(fallbackMessage(response));
    }
    return CloudflareError::api(response.status, messages);
}

QCoro::Task<std::optional<QJsonValue>> send(std::shared_ptr<HTTPTransport> transport,
                                            HTTPRequest request) {
    const HTTPResponse response = co_await transport->send(std::move(request));
    const bool successful = response.status >= 200 && response.status <= 299;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (successful) {
            throw CloudflareError::decoding(QStringLiteral("response is not a JSON object"));
        }
        throw CloudflareError::api(response.status, {fallbackMessage(response)});
    }
    const QJsonObject object = document.object();
    const QJsonValue success = object.value(QLatin1String("success"));
    const bool reportedSuccess = success.isBool() ? success.toBool() : true;
    if (!successful || !reportedSuccess) {
        throw collectErrors(response, object);
    }
    if (!object.contains(QLatin1String("result"))) {
        co_return std::nullopt;
    }
    co_return object.value(QLatin1String("result"));
}

QString scriptPath(const QString& accountID, const QString& scriptName) {
    return QStringLiteral("/accounts/") + encodePathSegment(accountID) +
           QStringLiteral("/workers/scripts/") + encodePathSegment(scriptName);
}

// https://<script>.<subdomain>.workers.dev, from the account's workers.dev subdomain.
QCoro::Task<QUrl> workersDevURL(Endpoint endpoint, QString accountPath, QString scriptName) {
    Call subdomainCall{QStringLiteral("GET"), accountPath + QStringLiteral("/workers/subdomain")};
    HTTPRequest subdomainRequest = makeRequest(endpoint, subdomainCall);
    const auto subdomainResult = co_await send(endpoint.transport, std::move(subdomainRequest));
    const QJsonValue subdomain = subdomainResult
                                     ? subdomainResult->toObject().value(QLatin1String("subdomain"))
                                     : QJsonValue();
    const QString notSetUp = QLatin1String(CloudflareDeployer::workersDomain) +
                             QStringLiteral(" subdomain is not set up for this account");
    if (!subdomain.isString() || subdomain.toString().isEmpty()) {
        throw CloudflareError::decoding(notSetUp);
    }
    const QUrl url(QStringLiteral("https://") + scriptName + QLatin1Char('.') +
                       subdomain.toString() + QLatin1Char('.') +
                       QLatin1String(CloudflareDeployer::workersDomain),
                   QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        throw CloudflareError::decoding(notSetUp);
    }
    co_return url;
}

} // namespace

CloudflareDeployer::CloudflareDeployer(QString apiToken, std::shared_ptr<HTTPTransport> transport)
    : CloudflareDeployer(std::move(apiToken), std::move(transport), [] {
        return QStringLiteral("Postwick-") + uuidUpper(QUuid::createUuid());
    }) {}

CloudflareDeployer::CloudflareDeployer(QString apiToken, std::shared_ptr<HTTPTransport> transport,
                                       BoundaryMaker boundary)
    : m_apiToken(std::move(apiToken))
    , m_transport(std::move(transport))
    , m_makeBoundary(std::move(boundary))
    , m_apiBase(apiBaseFromEnvironment()) {}

QString CloudflareDeployer::databaseName(const QString& scriptName) {
    return scriptName + QStringLiteral("-db");
}

QByteArray CloudflareDeployer::metadataJSON(const QString& databaseID,
                                            const QMap<QString, QString>& vars,
                                            const QMap<QString, QString>& secrets) {
    QJsonArray bindings;
    bindings.append(QJsonObject{{QLatin1String("id"), databaseID},
                                {QLatin1String("name"), QLatin1String(databaseBinding)},
                                {QLatin1String("type"), QLatin1String("d1")}});
    // QMap iterates its keys in ascending order.
    for (auto it = vars.cbegin(); it != vars.cend(); ++it) {
        bindings.append(QJsonObject{{QLatin1String("name"), it.key()},
                                    {QLatin1String("text"), it.value()},
                                    {QLatin1String("type"), QLatin1String("plain_text")}});
    }
    for (auto it = secrets.cbegin(); it != secrets.cend(); ++it) {
        bindings.append(QJsonObject{{QLatin1String("name"), it.key()},
                                    {QLatin1String("text"), it.value()},
                                    {QLatin1String("type"), QLatin1String("secret_text")}});
    }
    QJsonObject metadata{
        {QLatin1String("bindings"), bindings},
        {QLatin1String("compatibility_date"), QLatin1String(compatibilityDate)},
        {QLatin1String("main_module"), QLatin1String(mainModule)},
    };
    if (secrets.isEmpty()) {
        // Cloudflare then keeps the secrets already set on the script.
        metadata.insert(QLatin1String("keep_bindings"), QJsonArray{QLatin1String("secret_text")});
    }
    return QJsonDocument(metadata).toJson(QJsonDocument::Compact);
}

QByteArray CloudflareDeployer::multipartBody(const QString& boundary, const QByteArray& metadata,
                                             const QString& workerJS) {
    const QByteArray b = boundary.toUtf8();
    QByteArray body;
    body += "--" + b + "\r\n";
    body += "Content-Disposition: form-data; name=\"metadata\"\r\n";
    body += "Content-Type: application/json\r\n\r\n";
    body += metadata;
    body += "\r\n--" + b + "\r\n";
    body += "Content-Disposition: form-data; name=\"worker.js\"; filename=\"worker.js\"\r\n";
    body += "Content-Type: application/javascript+module\r\n\r\n";
    body += workerJS.toUtf8();
    body += "\r\n--" + b + "--\r\n";
    return body;
}

QCoro::Task<bool> CloudflareDeployer::verifyToken() const {
    const Endpoint endpoint{m_apiBase, m_apiToken, m_transport};
    HTTPRequest request =
        makeRequest(endpoint, {QStringLiteral("GET"), QStringLiteral("/user/tokens/verify")});
    const auto result = co_await send(endpoint.transport, std::move(request));
    co_return result && result->isObject() &&
        result->toObject().value(QLatin1String("status")) == QLatin1String("active");
}

QCoro::Task<QList<CloudflareAccount>> CloudflareDeployer::listAccounts() const {
    const Endpoint endpoint{m_apiBase, m_apiToken, m_transport};
    HTTPRequest request =
        makeRequest(endpoint, {QStringLiteral("GET"), QStringLiteral("/accounts")});
    const auto result = co_await send(endpoint.transport, std::move(request));
    if (!result || !result->isArray()) {
        throw CloudflareError::decoding(QStringLiteral("accounts result is not a list"));
    }
    QList<CloudflareAccount> accounts;
    const QJsonArray list = result->toArray();
    for (const QJsonValue& element : list) {
        const QJsonObject account = element.toObject();
        const QJsonValue id = account.value(QLatin1String("id"));
        if (!id.isString()) {
            continue;
        }
        const QJsonValue name = account.value(QLatin1String("name"));
        accounts.append({id.toString(), name.isString() ? name.toString() : id.toString()});
    }
    co_return accounts;
}

// Every request below is built into a named local before it is awaited: g++ 12 mishandles
// temporaries inside co_await expressions.
QCoro::Task<QUrl> CloudflareDeployer::deploy(QString accountID, QString scriptName,
                                             QString workerJS, QString schemaSQL,
                                             QMap<QString, QString> vars,
                                             QMap<QString, QString> secrets) const {
    const Endpoint endpoint{m_apiBase, m_apiToken, m_transport};
    const BoundaryMaker makeBoundary = m_makeBoundary;
    const QString account = QStringLiteral("/accounts/") + encodePathSegment(accountID);
    const QString script = scriptPath(accountID, scriptName);
    const QString dbname = databaseName(scriptName);

    // 1. Find the database by its exact name.
    Call findCall{QStringLiteral("GET"), account + QStringLiteral("/d1/database")};
    findCall.query.append({QStringLiteral("name"), dbname});
    HTTPRequest find = makeRequest(endpoint, findCall);
    const auto found = co_await send(endpoint.transport, std::move(find));
    QString uuid;
    if (found && found->isArray()) {
        const QJsonArray list = found->toArray();
        for (const QJsonValue& element : list) {
            const QJsonObject database = element.toObject();
            if (database.value(QLatin1String("name")) == dbname) {
                uuid = database.value(QLatin1String("uuid")).toString();
                break;
            }
        }
    }

    // 2. Or create it.
    if (uuid.isEmpty()) {
        Call createCall{QStringLiteral("POST"), account + QStringLiteral("/d1/database")};
        createCall.json = QJsonObject{{QLatin1String("name"), dbname}};
        HTTPRequest create = makeRequest(endpoint, createCall);
        const auto created = co_await send(endpoint.transport, std::move(create));
        const QJsonValue createdID =
            created ? created->toObject().value(QLatin1String("uuid")) : QJsonValue();
        if (!createdID.isString()) {
            throw CloudflareError::decoding(QStringLiteral("D1 response has no uuid"));
        }
        uuid = createdID.toString();
    }

    // 3. The schema, on every deployment: it is written to be run again.
    if (!schemaSQL.trimmed().isEmpty()) {
        Call schemaCall{QStringLiteral("POST"), account + QStringLiteral("/d1/database/") +
                                                    encodePathSegment(uuid) +
                                                    QStringLiteral("/query")};
        schemaCall.json = QJsonObject{{QLatin1String("sql"), schemaSQL}};
        HTTPRequest schema = makeRequest(endpoint, schemaCall);
        co_await send(endpoint.transport, std::move(schema));
    }

    // 4. The script with its bindings.
    const QString boundary = makeBoundary();
    Call uploadCall{QStringLiteral("PUT"), script};
    uploadCall.body = multipartBody(boundary, metadataJSON(uuid, vars, secrets), workerJS);
    uploadCall.contentType = QStringLiteral("multipart/form-data; boundary=") + boundary;
    HTTPRequest upload = makeRequest(endpoint, uploadCall);
    co_await send(endpoint.transport, std::move(upload));

    // 5. The workers.dev route of the script.
    Call routeCall{QStringLiteral("POST"), script + QStringLiteral("/subdomain")};
    routeCall.json = QJsonObject{{QLatin1String("enabled"), true}};
    HTTPRequest route = makeRequest(endpoint, routeCall);
    co_await send(endpoint.transport, std::move(route));

    // 6. The account's workers.dev subdomain names the worker's address.
    QCoro::Task<QUrl> address = workersDevURL(endpoint, account, scriptName);
    co_return co_await address;
}

QCoro::Task<> CloudflareDeployer::putSecret(QString accountID, QString scriptName, QString name,
                                            QString text) const {
    const Endpoint endpoint{m_apiBase, m_apiToken, m_transport};
    Call call{QStringLiteral("PUT"),
              scriptPath(accountID, scriptName) + QStringLiteral("/secrets")};
    call.json = QJsonObject{{QLatin1String("name"), name},
                            {QLatin1String("text"), text},
                            {QLatin1String("type"), QLatin1String("secret_text")}};
    HTTPRequest request = makeRequest(endpoint, call);
    co_await send(endpoint.transport, std::move(request));
}

QCoro::Task<QMap<QString, QString>> CloudflareDeployer::scriptVars(QString accountID,
                                                                   QString scriptName) const {
    const Endpoint endpoint{m_apiBase, m_apiToken, m_transport};
    Call call{QStringLiteral("GET"),
              scriptPath(accountID, scriptName) + QStringLiteral("/settings")};
    HTTPRequest request = makeRequest(endpoint, call);
    const auto result = co_await send(endpoint.transport, std::move(request));
    QMap<QString, QString> vars;
    const QJsonArray bindings =
        result ? result->toObject().value(QLatin1String("bindings")).toArray() : QJsonArray();
    for (const QJsonValue& element : bindings) {
        const QJsonObject binding = element.toObject();
        if (binding.value(QLatin1String("type")) == QLatin1String("plain_text")) {
            vars.insert(binding.value(QLatin1String("name")).toString(),
                        binding.value(QLatin1String("text")).toString());
        }
    }
    co_return vars;
}

QCoro::Task<std::optional<QString>> CloudflareDeployer::accountServing(QUrl workerURL,
                                                                       QString scriptName) const {
    const Endpoint endpoint{m_apiBase, m_apiToken, m_transport};
    QCoro::Task<QList<CloudflareAccount>> listing = listAccounts();
    const QList<CloudflareAccount> accounts = co_await listing;
    for (const CloudflareAccount& account : accounts) {
        const QString path = QStringLiteral("/accounts/") + encodePathSegment(account.id);
        try {
            QCoro::Task<QUrl> address = workersDevURL(endpoint, path, scriptName);
            const QUrl url = co_await address;
            if (url.host() == workerURL.host()) {
                co_return account.id;
            }
        } catch (const CloudflareError&) {
            // An account without a workers.dev subdomain serves no worker.
        }
    }
    co_return std::nullopt;
}

} // namespace quillmere
