#include "ses/network_transport.h"

#include "ses/http_text.h"
#include "ses/transport_error.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <qcoro/qcoronetworkreply.h>

namespace quillmere {

namespace {

// Marks a reply aborted by the destructor, as opposed to one ended by the transfer time-out:
// Qt reports both as "Operation canceled".
constexpr const char* abortedProperty = "quillmere.aborted";

struct DeleteLater {
    void operator()(QObject* object) const { object->deleteLater(); }
};

// Qt turns an HTTP error status into one of these codes; with a status present they only
// restate it, and the caller judges the status. Any other code (connection, time-out, a
// truncated answer, a protocol failure) means no complete HTTP answer arrived.
bool restatesStatus(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::ProtocolInvalidOperationError:     // 400, 418
    case QNetworkReply::AuthenticationRequiredError:       // 401
    case QNetworkReply::ContentAccessDenied:               // 403
    case QNetworkReply::ContentNotFoundError:              // 404
    case QNetworkReply::ContentOperationNotPermittedError: // 405
    case QNetworkReply::ProxyAuthenticationRequiredError:  // 407
    case QNetworkReply::ContentConflictError:              // 409
    case QNetworkReply::ContentGoneError:                  // 410
    case QNetworkReply::UnknownContentError:               // other 4xx
    case QNetworkReply::InternalServerError:               // 500
    case QNetworkReply::OperationNotImplementedError:      // 501
    case QNetworkReply::ServiceUnavailableError:           // 503
    case QNetworkReply::UnknownServerError:                // other 5xx
        return true;
    default:
        return false;
    }
}

bool isTransportFailure(QNetworkReply::NetworkError code, bool hasStatus) {
    return code != QNetworkReply::NoError && !(hasStatus && restatesStatus(code));
}

// Failures that happen before any byte of the request leaves; after any other the server may
// have received the whole request.
bool failsBeforeSending(QNetworkReply::NetworkError code) {
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::SslHandshakeFailedError:
        return true;
    default:
        return false;
    }
}

} // namespace

NetworkTransport::NetworkTransport(std::chrono::milliseconds timeout)
    : m_timeout(timeout)
    , m_manager(std::make_unique<QNetworkAccessManager>()) {
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

NetworkTransport::~NetworkTransport() {
    // Aborting finishes each reply at once, so no awaiting coroutine is left suspended forever.
    const auto replies = m_manager->findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->setProperty(abortedProperty, true);
        reply->abort();
    }
}

QCoro::Task<HTTPResponse> NetworkTransport::send(HTTPRequest request) {
    if (!HTTPText::isToken(request.method)) {
        throw TransportError(QStringLiteral("Invalid HTTP method \"%1\"").arg(request.method),
                             QNetworkReply::ProtocolInvalidOperationError);
    }
    QNetworkRequest platformRequest(request.url);
    platformRequest.setTransferTimeout(int(m_timeout.count()));
    platformRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::ManualRedirectPolicy);
    platformRequest.setAttribute(QNetworkRequest::CookieLoadControlAttribute,
                                 QNetworkRequest::Manual);
    platformRequest.setAttribute(QNetworkRequest::CookieSaveControlAttribute,
                                 QNetworkRequest::Manual);
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        if (!HTTPText::isToken(it.key()) || !HTTPText::isSafeHeaderValue(it.value())) {
            throw TransportError(QStringLiteral("Invalid HTTP header \"%1\"").arg(it.key()),
                                 QNetworkReply::ProtocolInvalidOperationError);
        }
        platformRequest.setRawHeader(it.key().toLatin1(), it.value().toUtf8());
    }

    const QByteArray method = request.method.toLatin1();
    QNetworkReply* sent = nullptr;
    if (request.body.isEmpty() && method == "GET") {
        // Also serves the non-HTTP schemes Qt knows (data:, file:), which custom verbs do not.
        sent = m_manager->get(platformRequest);
    } else if (request.body.isEmpty() && method == "HEAD") {
        // As a custom verb Qt would wait for the body a HEAD answer announces but never sends.
        sent = m_manager->head(platformRequest);
    } else if (request.body.isEmpty()) {
        // Without a data argument Qt sends no body and no Content-Length; with any QByteArray,
        // even an empty one, it sends "Content-Length: 0".
        sent = m_manager->sendCustomRequest(platformRequest, method);
    } else {
        sent = m_manager->sendCustomRequest(platformRequest, method, request.body);
    }
    std::unique_ptr<QNetworkReply, DeleteLater> reply(sent);
    const QPointer<QNetworkReply> watched(sent);
    co_await sent;
    if (!watched) {
        (void)reply.release(); // already gone with its manager
        throw TransportError(QStringLiteral("Operation canceled"),
                             QNetworkReply::OperationCanceledError, true);
    }

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool hasStatus = statusAttribute.isValid();
    if (reply->error() == QNetworkReply::OperationCanceledError &&
        !reply->property(abortedProperty).toBool()) {
        throw TransportError(QStringLiteral("The request timed out."), QNetworkReply::TimeoutError,
                             true);
    }
    if (isTransportFailure(reply->error(), hasStatus)) {
        throw TransportError(reply->errorString(), reply->error(),
                             !failsBeforeSending(reply->error()));
    }

    HTTPResponse response;
    if (hasStatus) {
        response.status = statusAttribute.toInt();
        const auto pairs = reply->rawHeaderPairs();
        for (const auto& [name, value] : pairs) {
            response.headers.insert(HTTPText::headerText(name), HTTPText::headerText(value));
        }
    }
    response.body = reply->readAll();
    co_return response;
}

} // namespace quillmere
