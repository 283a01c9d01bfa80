#include "worker/sts_client.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace quillmere {

namespace {

QUrl endpointFor(const QString& region) {
    for (const char* variable : {"AWS_ENDPOINT_URL_STS", "AWS_ENDPOINT_URL"}) {
        QString value = qEnvironmentVariable(variable).trimmed();
        while (value.endsWith(u'/')) {
            value.chop(1);
        }
        if (!value.isEmpty()) {
            return QUrl(value + QLatin1Char('/'));
        }
    }
    // Built by parts, so that whatever the region holds the host stays under amazonaws.com.
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QStringLiteral("sts.") + region + QStringLiteral(".amazonaws.com"));
    url.setPath(QStringLiteral("/"));
    return url;
}

// The text of the first element of each name, from an STS XML answer.
QMap<QString, QString> elements(const QByteArray& xml, const QStringList& names) {
    QMap<QString, QString> found;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd() && reader.readNext() != QXmlStreamReader::Invalid) {
        if (reader.isStartElement() && names.contains(reader.name()) &&
            !found.contains(reader.name().toString())) {
            const QString name = reader.name().toString();
            found.insert(name, reader.readElementText(QXmlStreamReader::SkipChildElements));
        }
    }
    return found;
}

} // namespace

STSError::STSError(int status, QString code, QString message)
    : Error(status == 0
                ? message
                : QStringLiteral("AWS STS %1 %2: %3").arg(QString::number(status), code, message))
    , m_status(status)
    , m_code(std::move(code))
    , m_message(std::move(message)) {}

STSClient::STSClient(AWSCredentials credentials, QString region,
                     std::shared_ptr<HTTPTransport> transport, Clock now)
    : m_signer(std::move(credentials), region, QStringLiteral("sts"))
    , m_transport(std::move(transport))
    , m_now(now ? std::move(now) : Clock([] { return QDateTime::currentDateTimeUtc(); }))
    , m_endpoint(endpointFor(region)) {}

QCoro::Task<QString> STSClient::accountID() const {
    HTTPRequest request;
    request.method = QStringLiteral("POST");
    request.url = m_endpoint;
    request.headers.insert(QStringLiteral("Content-Type"),
                           QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
    request.body = "Action=GetCallerIdentity&Version=2011-06-15";
    HTTPRequest signedRequest = m_signer.sign(request, m_now());
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(std::move(signedRequest));
    if (response.status < 200 || response.status > 299) {
        const auto error =
            elements(response.body, {QStringLiteral("Code"), QStringLiteral("Message")});
        throw STSError(
            response.status, error.value(QStringLiteral("Code"), QStringLiteral("Error")),
            error.value(QStringLiteral("Message"), QString::fromUtf8(response.body.left(300))));
    }
    const QString account =
        elements(response.body, {QStringLiteral("Account")}).value(QStringLiteral("Account"));
    static const QRegularExpression twelveDigits(QStringLiteral("^\\d{12}$"));
    if (!twelveDigits.match(account).hasMatch()) {
        throw STSError(0, {}, QStringLiteral("GetCallerIdentity answered without an account id"));
    }
    co_return account;
}

} // namespace quillmere
