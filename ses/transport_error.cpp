#include "ses/transport_error.h"

namespace quillmere {

TransportError::TransportError(QString description, QNetworkReply::NetworkError code)
    : Error(std::move(description))
    , m_code(code) {}

} // namespace quillmere
