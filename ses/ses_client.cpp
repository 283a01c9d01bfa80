#include "ses/ses_client.h"

#include "core/json_reader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QStringDecoder>

namespace quillmere {

namespace {

QUrl endpointFor(const QString& region) {
    for (const char* variable : {"AWS_ENDPOINT_URL_SESV2", "AWS_ENDPOINT_URL"}) {
        QString value = qEnvironmentVariable(variable).trimmed();
        while (value.endsWith(u'/')) {
            value.chop(1);
        }
        if (!value.isEmpty()) {
            return QUrl(value);
        }
    }
    // Built by parts so that whatever the region text holds, the host stays under
    // amazonaws.com or the URL is invalid (and the request fails before leaving).
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("email.") + region + QStringLiteral(".amazonaws.com"));
    return url;
}

QByteArray compactJson(const QJsonObject& object) {
    // QJsonObject keeps its keys sorted, so this is the sorted compact form.
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// One JSON string literal, quotes included, escaped as QJsonDocument escapes.
QByteArray jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// Strict reading of one answer: every key optional (absent or null), a present key of the
// wrong type fails the decoding with a readable reason.
class WireReader {
public:
    WireReader(const QByteArray& body, QString operation)
        : m_operation(std::move(operation)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(body, &error);
        if (error.error != QJsonParseError::NoError) {
            throw SESError::decoding(
                QStringLiteral("%1 response is not valid JSON: %2 at offset %3")
                    .arg(m_operation, error.errorString(), QString::number(error.offset)));
        }
        if (!document.isObject()) {
            throw SESError::decoding(
                QStringLiteral("%1 response is not a JSON object").arg(m_operation));
        }
        m_object = document.object();
    }

    WireReader(const QJsonObject& object, QString operation)
        : m_operation(std::move(operation))
        , m_object(object) {}

    std::optional<bool> boolean(QLatin1String key) const {
        return typed<bool>(key, QJsonValue::Bool, "a boolean",
                           [](const QJsonValue& v) { return v.toBool(); });
    }
    std::optional<double> number(QLatin1String key) const {
        return typed<double>(key, QJsonValue::Double, "a number",
                             [](const QJsonValue& v) { return v.toDouble(); });
    }
    std::optional<QString> string(QLatin1String key) const {
        return typed<QString>(key, QJsonValue::String, "text",
                              [](const QJsonValue& v) { return v.toString(); });
    }
    std::optional<WireReader> object(QLatin1String key) const {
        const auto o = typed<QJsonObject>(key, QJsonValue::Object, "an object",
                                          [](const QJsonValue& v) { return v.toObject(); });
        if (!o) {
            return std::nullopt;
        }
        return WireReader(*o, m_operation);
    }
    std::optional<QStringList> strings(QLatin1String key) const {
        const auto array = typed<QJsonArray>(key, QJsonValue::Array, "a list",
                                             [](const QJsonValue& v) { return v.toArray(); });
        if (!array) {
            return std::nullopt;
        }
        QStringList out;
        out.reserve(array->size());
        for (const QJsonValue& element : *array) {
            if (!element.isString()) {
                mismatch(key, "a list of text", element);
            }
            out.append(element.toString());
        }
        return out;
    }

private:
    template <class T, class Convert>
    std::optional<T> typed(QLatin1String key, QJsonValue::Type type, const char* expected,
                           Convert convert) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull()) {
            return std::nullopt;
        }
        if (value.type() != type) {
            mismatch(key, expected, value);
        }
        return convert(value);
    }

    [[noreturn]] void mismatch(QLatin1String key, const char* expected,
                               const QJsonValue& found) const {
        throw SESError::decoding(
            QStringLiteral("%1 response: \"%2\" should be %3, found %4")
                .arg(m_operation, key, QLatin1String(expected), describeJsonValue(found)));
    }

    QString m_operation;
    QJsonObject m_object;
};

// "Retry-After": whole seconds, or an HTTP date.
std::optional<std::chrono::milliseconds> retryAfter(const HTTPResponse& response) {
    const std::optional<QString> value = response.headerValue(QStringLiteral("Retry-After"));
    if (!value) {
        return std::nullopt;
    }
    bool number = false;
    const qint64 seconds = value->trimmed().toLongLong(&number);
    if (number) {
        return std::chrono::seconds(std::max<qint64>(0, seconds));
    }
    // Servers send the IMF-fixdate ("Wed, 21 Oct 2015 07:28:00 GMT"), whose "GMT" Qt's RFC 2822
    // reading refuses; a numeric zone is read as RFC 2822.
    QDateTime when = QLocale::c().toDateTime(value->trimmed(),
                                             QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    when.setTimeSpec(Qt::UTC);
    if (!when.isValid()) {
        when = QDateTime::fromString(value->trimmed(), Qt::RFC2822Date);
    }
    if (!when.isValid()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(
        std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when)));
}

SESIdentity decodeIdentity(const QByteArray& body, const QString& domain,
                           const QString& operation) {
    const WireReader answer(body, operation);
    SESIdentity identity;
    identity.identity = domain;
    identity.verifiedForSending =
        answer.boolean(QLatin1String("VerifiedForSendingStatus")).value_or(false);
    identity.dkimStatus = DKIMStatus::notStarted;
    if (const auto dkim = answer.object(QLatin1String("DkimAttributes"))) {
        if (const auto status = dkim->string(QLatin1String("Status"))) {
            identity.dkimStatus = fromRaw<DKIMStatus>(*status).value_or(DKIMStatus::notStarted);
        }
        identity.dkimTokens = dkim->strings(QLatin1String("Tokens")).value_or(QStringList());
    }
    return identity;
}

} // namespace

SESClient::SESClient(AWSCredentials credentials, QString region,
                     std::shared_ptr<HTTPTransport> transport, Clock now)
    : m_region(std::move(region))
    , m_signer(std::move(credentials), m_region, QStringLiteral("ses"))
    , m_transport(std::move(transport))
    , m_now(now ? std::move(now) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
    , m_endpoint(endpointFor(m_region)) {}

HTTPRequest SESClient::signedRequest(const QString& method, const QString& path,
                                     const QByteArray& body) const {
    HTTPRequest request;
    request.method = method;
    request.url = QUrl(m_endpoint.toString(QUrl::FullyEncoded) + path);
    request.headers.insert(QStringLiteral("Accept"), QStringLiteral("application/json"));
    if (!body.isEmpty()) {
        request.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    }
    request.body = body;
    return m_signer.sign(request, m_now());
}

QCoro::Task<QByteArray> SESClient::perform(QString method, QString path, QByteArray body) const {
    // Everything from `this` is taken before the first suspension, so the call completes even
    // if the client value is gone by the time the answer arrives.
    const HTTPRequest request = signedRequest(method, path, body);
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(request);
    if (response.status < 200 || response.status > 299) {
        throw parseError(response);
    }
    co_return response.body;
}

QCoro::Task<SESAccount> SESClient::getAccount() const {
    const QByteArray body =
        co_await perform(QStringLiteral("GET"), QStringLiteral("/v2/email/account"));
    const WireReader answer(body, QStringLiteral("GetAccount"));
    SESAccount account;
    account.productionAccessEnabled =
        answer.boolean(QLatin1String("ProductionAccessEnabled")).value_or(false);
    account.sendingEnabled = answer.boolean(QLatin1String("SendingEnabled")).value_or(false);
    account.enforcementStatus =
        answer.string(QLatin1String("EnforcementStatus")).value_or(QString());
    if (const auto quota = answer.object(QLatin1String("SendQuota"))) {
        account.max24HourSend = quota->number(QLatin1String("Max24HourSend")).value_or(0);
        account.maxSendRate = quota->number(QLatin1String("MaxSendRate")).value_or(0);
        account.sentLast24Hours = quota->number(QLatin1String("SentLast24Hours")).value_or(0);
    }
    co_return account;
}

QCoro::Task<SESIdentity> SESClient::createDomainIdentity(QString domain) const {
    const QByteArray request = compactJson(QJsonObject{{QStringLiteral("EmailIdentity"), domain}});
    const QByteArray body =
        co_await perform(QStringLiteral("POST"), QStringLiteral("/v2/email/identities"), request);
    co_return decodeIdentity(body, domain, QStringLiteral("CreateEmailIdentity"));
}

QCoro::Task<SESIdentity> SESClient::getIdentity(QString domain) const {
    const QByteArray body =
        co_await perform(QStringLiteral("GET"), QStringLiteral("/v2/email/identities/") + domain);
    co_return decodeIdentity(body, domain, QStringLiteral("GetEmailIdentity"));
}

QCoro::Task<QString> SESClient::sendRaw(QByteArray raw, QString from, QString to,
                                        std::optional<QString> configurationSet) const {
    // The compact JSON with sorted keys, written directly: the message is by far the largest
    // part and its Base64 needs no escaping, while a JSON document would copy and scan it
    // several times (about a millisecond for a 30 KB message). The short texts are escaped by
    // QJsonDocument itself.
    QByteArray request;
    request.reserve(raw.size() * 4 / 3 + 256);
    request += '{';
    if (configurationSet && !configurationSet->isEmpty()) {
        request += "\"ConfigurationSetName\":" + jsonString(*configurationSet) + ',';
    }
    request += "\"Content\":{\"Raw\":{\"Data\":\"";
    request += raw.toBase64();
    request += "\"}},\"Destination\":{\"ToAddresses\":[" + jsonString(to) +
               "]},\"FromEmailAddress\":" + jsonString(from) + '}';
    const QByteArray body = co_await perform(QStringLiteral("POST"),
                                             QStringLiteral("/v2/email/outbound-emails"), request);
    const WireReader answer(body, QStringLiteral("SendEmail"));
    const std::optional<QString> messageID = answer.string(QLatin1String("MessageId"));
    if (!messageID) {
        throw SESError::decoding(QStringLiteral("SendEmail response has no MessageId"));
    }
    co_return *messageID;
}

SESError SESClient::parseError(const HTTPResponse& response) {
    QString type = response.headerValue(QStringLiteral("x-amzn-ErrorType")).value_or(QString());
    QString message;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &parseError);
    if (parseError.error == QJsonParseError::NoError && document.isObject()) {
        const QJsonObject object = document.object();
        if (type.isEmpty()) {
            for (const char* key : {"__type", "code", "Code"}) {
                const QJsonValue value = object.value(QLatin1String(key));
                if (value.isString()) {
                    type = value.toString();
                    break;
                }
            }
        }
        for (const char* key : {"message", "Message"}) {
            const QJsonValue value = object.value(QLatin1String(key));
            if (value.isString()) {
                message = value.toString();
                break;
            }
        }
    }
    if (const qsizetype colon = type.indexOf(u':'); colon >= 0) {
        type.truncate(colon);
    }
    if (const qsizetype hash = type.lastIndexOf(u'#'); hash >= 0) {
        type = type.mid(hash + 1);
    }
    if (type.isEmpty()) {
        type = QStringLiteral("HTTP") + QString::number(response.status);
    }
    if (message.isEmpty()) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decoder.decode(response.body);
        if (!decoder.hasError()) {
            message = text;
        }
    }
    SESError error = SESError::http(response.status, type, message);
    error.setRetryAfter(retryAfter(response));
    return error;
}

} // namespace quillmere
