#pragma once

#include "core/error.h"

#include <QNetworkReply>

namespace quillmere {

// A request that produced no HTTP answer: no connection, time-out, cancellation, or a request
// the platform refused to send. The description is the platform's own text.
class TransportError : public Error {
public:
    explicit TransportError(QString description,
                            QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError);

    QNetworkReply::NetworkError code() const { return m_code; }

private:
    QNetworkReply::NetworkError m_code;
};

} // namespace quillmere
