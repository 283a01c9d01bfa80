#pragma once

#include "core/subscriber.h"
#include "ses/http_transport.h"
#include "worker/worker_health.h"
#include "worker/worker_page.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace quillmere {

// The application's side of the deployed worker's token-protected sync API: push local
// subscriber changes, pull the worker's changes since the last sync, publish a sent issue to
// the public archive. Immutable; built afresh for each workflow run. Failures are
// WorkerClientError, or the transport's own error unchanged.
class WorkerClient {
public:
    // Subscribers per push request. Larger lists go out in several requests, so a first sync of
    // a big list stays within the worker's request and CPU limits; the counts are added up.
    static constexpr qsizetype pushBatchSize = 500;

    WorkerClient(QUrl baseURL, QString apiToken, std::shared_ptr<HTTPTransport> transport);

    const QUrl& baseURL() const { return m_baseURL; }
    const QString& apiToken() const { return m_apiToken; }

    // One page of the worker's changes at or after `since`, or the page that `next` names.
    QCoro::Task<WorkerPage> fetchPage(std::optional<QDateTime> since,
                                      std::optional<QString> next = std::nullopt) const;
    // Every page, followed to the end.
    QCoro::Task<QList<Subscriber>> fetchSubscribers(std::optional<QDateTime> since) const;
    QCoro::Task<qint64> upsertSubscribers(QList<Subscriber> subscribers) const;
    QCoro::Task<> publishIssue(QString slug, QString subject, QString html,
                               QDateTime publishedAt) const;
    // Never fails: any failure is false.
    QCoro::Task<bool> health() const;
    // What the worker reports about itself; fails like the other calls.
    QCoro::Task<WorkerHealth> healthReport() const;

    // The issue's own images: whether the worker serves media/<name> already, and the upload
    // of one (the type follows from the name).
    QCoro::Task<bool> hasMedia(QString name) const;
    QCoro::Task<> uploadMedia(QString name, QByteArray bytes) const;

    // The wire forms, exposed for tests and tools.
    static QString wireDate(const QDateTime& date);
    static QJsonObject wireObject(const Subscriber& subscriber);
    // One pulled object as a subscriber; none when it has no usable "email". `now` stands in for
    // a missing or unreadable "created_at".
    static std::optional<Subscriber> subscriberFromWire(const QJsonObject& object,
                                                        const QDateTime& now);
    // A worker date: seconds (or milliseconds above 10^10) since 1970, or ISO 8601 text in the
    // forms the worker may write, or "yyyy-MM-dd HH:mm:ss" in UTC.
    static std::optional<QDateTime> readWorkerDate(const QJsonValue& value);
    // The identifier of a pulled record without a usable id: version-5 style from the SHA-256
    // of the normalised address, so the same address always gets the same identifier.
    static QUuid derivedID(const QString& normalisedEmail);

private:
    HTTPRequest makeRequest(const QString& method, const QString& path,
                            const QList<std::pair<QString, QString>>& query,
                            const QJsonObject* body) const;

    QUrl m_baseURL;
    QString m_apiToken;
    std::shared_ptr<HTTPTransport> m_transport;
};

} // namespace quillmere
