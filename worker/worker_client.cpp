#include "worker/worker_client.h"

#include "core/iso_date.h"
#include "core/uuid_text.h"
#include "render/email_address.h"
#include "render/media_reference.h"
#include "worker/worker_client_error.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QUrlQuery>

#include <cmath>

namespace quillmere {

namespace {

const QString expectedSubscribers = QStringLiteral("expected {subscribers:[...]}");
const QString expectedUpserted = QStringLiteral("expected {upserted:n}");

QByteArray compactJson(const QJsonObject& object) {
    // QJsonObject keeps its keys sorted, so this is the compact, key-sorted form.
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        return std::nullopt;
    }
    return text;
}

// Passes a 2xx answer on; anything else becomes http(status, message) with the worker's own
// words where it gave any.
void checkAnswer(const HTTPResponse& response) {
    if (response.status >= 200 && response.status <= 299) {
        return;
    }
    QString message;
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    const QJsonObject object = document.object();
    if (document.isObject() && object.value(QLatin1String("error")).isString()) {
        message = object.value(QLatin1String("error")).toString();
    } else if (document.isObject() && object.value(QLatin1String("message")).isString()) {
        message = object.value(QLatin1String("message")).toString();
    } else {
        message = strictUtf8(response.body).value_or(QString());
    }
    throw WorkerClientError::http(response.status, message);
}

bool allDigits(QStringView s) {
    for (QChar c : s) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return !s.isEmpty();
}

// "yyyy-MM-ddTHH:mm:ss" followed by a fraction, a zone or nothing (then UTC).
std::optional<QDateTime> readIsoWithDefaultZone(const QString& text) {
    if (auto date = IsoDate::parse(text)) {
        return date;
    }
    if (text.size() < 19 || text[10] != u'T') {
        return std::nullopt;
    }
    // Without a zone designator the time is UTC.
    qsizetype end = 19;
    if (end < text.size() && text[end] == u'.') {
        ++end;
        while (end < text.size() && text[end].isDigit() && text[end].unicode() < 128) {
            ++end;
        }
    }
    if (end != text.size()) {
        return std::nullopt;
    }
    return IsoDate::parse(QString(text + QLatin1Char('Z')));
}

std::optional<QDateTime> readFixedPattern(const QString& text) {
    // "yyyy-MM-dd HH:mm:ss", POSIX locale, UTC.
    if (text.size() != 19 || text[4] != u'-' || text[7] != u'-' || text[10] != u' ' ||
        text[13] != u':' || text[16] != u':') {
        return std::nullopt;
    }
    const QStringView s(text);
    for (auto [from, count] : {std::pair{0, 4}, {5, 2}, {8, 2}, {11, 2}, {14, 2}, {17, 2}}) {
        if (!allDigits(s.mid(from, count))) {
            return std::nullopt;
        }
    }
    const QDate date(s.mid(0, 4).toInt(), s.mid(5, 2).toInt(), s.mid(8, 2).toInt());
    const QTime time(s.mid(11, 2).toInt(), s.mid(14, 2).toInt(), s.mid(17, 2).toInt());
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    return QDateTime(date, time, Qt::UTC);
}

// The 36-character canonical text of a UUID, in either case.
std::optional<QUuid> canonicalUuid(const QString& text) {
    if (text.size() != 36) {
        return std::nullopt;
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex =
            (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (dash ? c != u'-' : !hex) {
            return std::nullopt;
        }
    }
    return QUuid::fromString(text);
}

} // namespace

WorkerClient::WorkerClient(QUrl baseURL, QString apiToken, std::shared_ptr<HTTPTransport> transport)
    : m_baseURL(std::move(baseURL))
    , m_apiToken(std::move(apiToken))
    , m_transport(std::move(transport)) {}

QString WorkerClient::wireDate(const QDateTime& date) {
    return IsoDate::formatSeconds(date);
}

QJsonObject WorkerClient::wireObject(const Subscriber& s) {
    return QJsonObject{
        {QLatin1String("id"), uuidLower(s.id)},
        {QLatin1String("email"), s.email},
        {QLatin1String("name"), s.name},
        {QLatin1String("status"), rawValue(s.status)},
        {QLatin1String("source"), s.source},
        {QLatin1String("created_at"), wireDate(s.createdAt)},
        {QLatin1String("updated_at"), wireDate(s.updatedAt)},
    };
}

QUuid WorkerClient::derivedID(const QString& normalisedEmail) {
    QByteArray bytes =
        QCryptographicHash::hash(normalisedEmail.toUtf8(), QCryptographicHash::Sha256).left(16);
    bytes[6] = char((uchar(bytes[6]) & 0x0F) | 0x50);
    bytes[8] = char((uchar(bytes[8]) & 0x3F) | 0x80);
    return QUuid::fromRfc4122(bytes);
}

std::optional<QDateTime> WorkerClient::readWorkerDate(const QJsonValue& value) {
    if (value.isDouble()) {
        double seconds = value.toDouble();
        if (!std::isfinite(seconds)) {
            return std::nullopt;
        }
        if (seconds > 1e10) {
            seconds /= 1000.0;
        }
        const double ms = std::round(seconds * 1000.0);
        // QDateTime covers far more than this; beyond it the number is no date at all.
        if (std::fabs(ms) > 8.64e15) {
            return std::nullopt;
        }
        return QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC);
    }
    if (!value.isString() || value.toString().isEmpty()) {
        return std::nullopt;
    }
    const QString text = value.toString();
    if (auto date = readIsoWithDefaultZone(text)) {
        return date;
    }
    return readFixedPattern(text);
}

std::optional<Subscriber> WorkerClient::subscriberFromWire(const QJsonObject& object,
                                                           const QDateTime& now) {
    const QJsonValue emailValue = object.value(QLatin1String("email"));
    if (!emailValue.isString()) {
        return std::nullopt;
    }
    Subscriber s;
    s.email = EmailAddress::normalised(emailValue.toString());
    // An address of only white space is no address either.
    if (s.email.isEmpty()) {
        return std::nullopt;
    }
    s.id = canonicalUuid(object.value(QLatin1String("id")).toString()).value_or(derivedID(s.email));
    s.status = fromRaw<SubscriberStatus>(object.value(QLatin1String("status")).toString())
                   .value_or(SubscriberStatus::pending);
    s.createdAt = readWorkerDate(object.value(QLatin1String("created_at"))).value_or(now);
    s.updatedAt = readWorkerDate(object.value(QLatin1String("updated_at"))).value_or(s.createdAt);
    const QJsonValue name = object.value(QLatin1String("name"));
    s.name = name.isString() ? name.toString() : QString();
    const QJsonValue source = object.value(QLatin1String("source"));
    s.source = source.isString() ? source.toString() : QStringLiteral("worker");
    return s;
}

HTTPRequest WorkerClient::makeRequest(const QString& method, const QString& path,
                                      const QList<std::pair<QString, QString>>& query,
                                      const QJsonObject* body) const {
    QString text = m_baseURL.toString(QUrl::FullyEncoded);
    while (text.endsWith(QLatin1Char('/'))) {
        text.chop(1);
    }
    text += path;
    if (!query.isEmpty()) {
        QUrlQuery items;
        for (const auto& [key, value] : query) {
            items.addQueryItem(key, value);
        }
        // A "+" in a date-time offset would read as a space on the other side.
        text += QLatin1Char('?') +
                items.query(QUrl::FullyEncoded).replace(QLatin1Char('+'), QLatin1String("%2B"));
    }
    HTTPRequest request;
    request.method = method;
    request.url = QUrl::fromEncoded(text.toUtf8(), QUrl::TolerantMode);
    request.headers.insert(QStringLiteral("Authorization"), QStringLiteral("Bearer ") + m_apiToken);
    request.headers.insert(QStringLiteral("Accept"), QStringLiteral("application/json"));
    if (body) {
        request.body = compactJson(*body);
    }
    if (!request.body.isEmpty()) {
        request.headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
    }
    return request;
}

QCoro::Task<WorkerPage> WorkerClient::fetchPage(std::optional<QDateTime> since,
                                                std::optional<QString> next) const {
    QList<std::pair<QString, QString>> query;
    if (next) {
        query.append({QStringLiteral("next"), *next});
    } else if (since) {
        query.append({QStringLiteral("since"), wireDate(*since)});
    }
    // Everything the coroutine needs after it first suspends is a local: the client may be gone.
    HTTPRequest request =
        makeRequest(QStringLiteral("GET"), QStringLiteral("/api/subscribers"), query, nullptr);
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(std::move(request));
    checkAnswer(response);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(response.body, &error);
    const QJsonObject object = document.object();
    const QJsonValue list = object.value(QLatin1String("subscribers"));
    const QJsonValue syncedAt = object.value(QLatin1String("syncedAt"));
    const QJsonValue nextPage = object.value(QLatin1String("next"));
    if (error.error != QJsonParseError::NoError || !document.isObject() || !list.isArray()) {
        throw WorkerClientError::decoding(expectedSubscribers);
    }
    const QJsonArray array = list.toArray();
    for (const QJsonValue& element : array) {
        if (!element.isObject()) {
            throw WorkerClientError::decoding(expectedSubscribers);
        }
    }
    WorkerPage page;
    // An unreadable clock is no clock: the caller then falls back to its own.
    page.syncedAt = syncedAt.isString() ? IsoDate::parse(syncedAt.toString()) : std::nullopt;
    if (nextPage.isString() && !nextPage.toString().isEmpty()) {
        page.next = nextPage.toString();
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    page.subscribers.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (auto subscriber = subscriberFromWire(element.toObject(), now)) {
            page.subscribers.append(std::move(*subscriber));
        }
    }
    co_return page;
}

QCoro::Task<QList<Subscriber>>
WorkerClient::fetchSubscribers(std::optional<QDateTime> since) const {
    const WorkerClient client = *this;
    QList<Subscriber> subscribers;
    std::optional<QString> next;
    do {
        WorkerPage page = co_await client.fetchPage(since, next);
        subscribers.append(std::move(page.subscribers));
        next = std::move(page.next);
    } while (next);
    co_return subscribers;
}

QCoro::Task<qint64> WorkerClient::upsertSubscribers(QList<Subscriber> subscribers) const {
    QList<HTTPRequest> requests;
    for (qsizetype start = 0; start < subscribers.size() || start == 0; start += pushBatchSize) {
        QJsonArray list;
        const qsizetype end = std::min(subscribers.size(), start + pushBatchSize);
        for (qsizetype i = start; i < end; ++i) {
            list.append(wireObject(subscribers[i]));
        }
        const QJsonObject body{{QLatin1String("subscribers"), list}};
        requests.append(
            makeRequest(QStringLiteral("POST"), QStringLiteral("/api/subscribers"), {}, &body));
    }
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    qint64 upserted = 0;
    for (HTTPRequest& request : requests) {
        const HTTPResponse response = co_await transport->send(std::move(request));
        checkAnswer(response);
        const QJsonDocument document = QJsonDocument::fromJson(response.body);
        const QJsonValue count = document.object().value(QLatin1String("upserted"));
        if (!document.isObject() || !count.isDouble()) {
            throw WorkerClientError::decoding(expectedUpserted);
        }
        const double value = count.toDouble();
        if (!std::isfinite(value) || std::fabs(value) > 9e15) {
            throw WorkerClientError::decoding(expectedUpserted);
        }
        upserted += count.toInteger(qint64(value));
    }
    co_return upserted;
}

QCoro::Task<> WorkerClient::publishIssue(QString slug, QString subject, QString html,
                                         QDateTime publishedAt) const {
    const QJsonObject body{
        {QLatin1String("html"), html},
        {QLatin1String("published_at"), wireDate(publishedAt)},
        {QLatin1String("slug"), slug},
        {QLatin1String("subject"), subject},
    };
    HTTPRequest request =
        makeRequest(QStringLiteral("POST"), QStringLiteral("/api/issues"), {}, &body);
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(std::move(request));
    checkAnswer(response);
}

QCoro::Task<WorkerHealth> WorkerClient::healthReport() const {
    HTTPRequest request =
        makeRequest(QStringLiteral("GET"), QStringLiteral("/api/health"), {}, nullptr);
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(std::move(request));
    checkAnswer(response);
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    const QJsonObject object = document.object();
    if (!document.isObject() || !object.value(QLatin1String("ok")).isBool()) {
        throw WorkerClientError::decoding(QStringLiteral("expected {ok:boolean}"));
    }
    const auto failure = [&](const char* key) -> std::optional<WorkerFailure> {
        const QJsonObject entry = object.value(QLatin1String(key)).toObject();
        const auto at = IsoDate::parse(entry.value(QLatin1String("at")).toString());
        if (!at) {
            return std::nullopt;
        }
        return WorkerFailure{*at, entry.value(QLatin1String("message")).toString()};
    };
    WorkerHealth health;
    health.ok = object.value(QLatin1String("ok")).toBool();
    const QJsonValue account = object.value(QLatin1String("awsAccountId"));
    if (account.isString() && !account.toString().isEmpty()) {
        health.awsAccountId = account.toString();
    }
    if (object.value(QLatin1String("mailConfigured")).isBool()) {
        health.mailConfigured = object.value(QLatin1String("mailConfigured")).toBool();
    }
    health.mailFailure = failure("mailFailure");
    health.snsFailure = failure("snsFailure");
    co_return health;
}

QCoro::Task<bool> WorkerClient::health() const {
    HTTPRequest request =
        makeRequest(QStringLiteral("GET"), QStringLiteral("/api/health"), {}, nullptr);
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    HTTPResponse response;
    try {
        response = co_await transport->send(std::move(request));
    } catch (...) {
        co_return false;
    }
    if (response.status < 200 || response.status > 299) {
        co_return false;
    }
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    const QJsonValue ok = document.object().value(QLatin1String("ok"));
    co_return document.isObject() && ok.isBool() && ok.toBool();
}

// MARK: images

QCoro::Task<bool> WorkerClient::hasMedia(QString name) const {
    HTTPRequest request =
        makeRequest(QStringLiteral("HEAD"), QStringLiteral("/media/") + name, {}, nullptr);
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(std::move(request));
    if (response.status == 404) {
        co_return false;
    }
    checkAnswer(response);
    co_return true;
}

QCoro::Task<> WorkerClient::uploadMedia(QString name, QByteArray bytes) const {
    HTTPRequest request =
        makeRequest(QStringLiteral("PUT"), QStringLiteral("/api/media/") + name, {}, nullptr);
    request.body = std::move(bytes);
    request.headers.insert(QStringLiteral("Content-Type"), MediaReference::contentType(name));
    const std::shared_ptr<HTTPTransport> transport = m_transport;
    const HTTPResponse response = co_await transport->send(std::move(request));
    checkAnswer(response);
}

} // namespace quillmere
