#pragma once

#include "ses/http_transport.h"

#include <chrono>
#include <memory>

namespace quillmere {

// The transport of the list send, over libcurl, driven by the Qt event loop of the thread that
// uses it. A request is written at most once: curl reads the body through a callback it cannot
// rewind, so a connection that breaks is reported (TransportError, with requestSent() when the
// whole request had been handed over) instead of being re-sent; SES has no idempotency token and
// a second attempt would mail a reader twice. TCP_NODELAY is on (no 40 ms delayed-ACK stall on
// the second write of a request), HTTP/2 is used over TLS where the server offers it, and any
// number of requests may be in flight at once. As the other transport: redirects are returned,
// never followed; no cookies, no proxy; a request without a body goes out without one.
class CurlTransport : public HTTPTransport {
public:
    static constexpr std::chrono::milliseconds defaultTimeout = std::chrono::seconds(60);

    // `timeout` bounds connecting and the time without any transfer progress (whole seconds,
    // at least one, once connected).
    explicit CurlTransport(std::chrono::milliseconds timeout = defaultTimeout);
    // Requests still in flight end with a TransportError ("Operation canceled").
    ~CurlTransport() override;

    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    QCoro::Task<HTTPResponse> send(HTTPRequest request) override;

    std::chrono::milliseconds timeout() const { return m_timeout; }

    struct Engine;

private:
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<Engine> m_engine;
};

} // namespace quillmere
