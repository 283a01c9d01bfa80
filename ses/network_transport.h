#pragma once

#include "ses/http_transport.h"

#include <chrono>
#include <memory>

class QNetworkAccessManager;

namespace quillmere {

// The production transport over one QNetworkAccessManager, used from the interface thread.
// Redirects are returned, never followed, so signature and bearer headers never reach another
// host; no cookies are stored or sent. A request without a body goes out without one (no
// Content-Length either), whatever its method.
class NetworkTransport : public HTTPTransport {
public:
    static constexpr std::chrono::milliseconds defaultTimeout = std::chrono::seconds(60);

    // `timeout` bounds the time without any transfer progress.
    explicit NetworkTransport(std::chrono::milliseconds timeout = defaultTimeout);
    // Requests still in flight end with a TransportError ("Operation canceled").
    ~NetworkTransport() override;

    NetworkTransport(const NetworkTransport&) = delete;
    NetworkTransport& operator=(const NetworkTransport&) = delete;

    QCoro::Task<HTTPResponse> send(HTTPRequest request) override;

    std::chrono::milliseconds timeout() const { return m_timeout; }

private:
    std::chrono::milliseconds m_timeout;
    std::unique_ptr<QNetworkAccessManager> m_manager;
};

} // namespace quillmere
