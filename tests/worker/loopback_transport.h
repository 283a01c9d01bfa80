#pragma once

#include "ses/http_transport.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <qcoro/qcoronetworkreply.h>

#include <stdexcept>

namespace quillmere::test {

// Real HTTP for the tests that talk to local peers, over QNetworkAccessManager. Test-only: it
// refuses every host but a loopback address, so no test can reach the internet.
// TODO: replace with the production NetworkTransport once the SES subsystem lands.
class LoopbackTransport : public HTTPTransport {
public:
    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        const QHostAddress host(request.url.host());
        if (host.isNull() || !host.isLoopback()) {
            throw std::runtime_error("tests may only contact loopback addresses: " +
                                     request.url.toString().toStdString());
        }
        QNetworkRequest networkRequest(request.url);
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::ManualRedirectPolicy);
        for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
            networkRequest.setRawHeader(it.key().toUtf8(), it.value().toUtf8());
        }
        const QByteArray verb = request.method.toLatin1();
        QNetworkReply* reply =
            request.body.isEmpty()
                ? m_manager.sendCustomRequest(networkRequest, verb)
                : m_manager.sendCustomRequest(networkRequest, verb, request.body);
        co_await reply;
        HTTPResponse response;
        response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const auto pairs = reply->rawHeaderPairs();
        for (const auto& [name, value] : pairs) {
            response.headers.insert(QString::fromLatin1(name), QString::fromLatin1(value));
        }
        response.body = reply->readAll();
        const QString error = reply->errorString();
        reply->deleteLater();
        if (response.status == 0) {
            throw std::runtime_error("transport failure: " + error.toStdString());
        }
        co_return response;
    }

private:
    QNetworkAccessManager m_manager;
};

} // namespace quillmere::test
