#pragma once

#include "ses/http_request.h"
#include "ses/http_response.h"

#include <qcoro/qcorotask.h>

namespace quillmere {

// Every network call of the system goes through this one operation, so each client can be
// driven by a scripted transport in tests. Only transport-level failures raise (TransportError);
// any HTTP status is returned as a response.
class HTTPTransport {
public:
    virtual ~HTTPTransport() = default;
    virtual QCoro::Task<HTTPResponse> send(HTTPRequest request) = 0;
};

} // namespace quillmere
