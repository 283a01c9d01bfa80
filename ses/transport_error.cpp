#include "ses/transport_error.h"

namespace quillmere {

TransportError::TransportError(QString description, QNetworkReply::NetworkError code,
                               bool requestSent)
    : Error(std::move(description))
    , m_code(code)
    , m_requestSent(requestSent) {}

} // namespace quillmere
