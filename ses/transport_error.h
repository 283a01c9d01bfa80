#pragma once

#include "core/error.h"

#include <QNetworkReply>

namespace quillmere {

// A request that produced no HTTP answer: no connection, time-out, cancellation, or a request
// the platform refused to send. The description is the platform's own text.
class TransportError : public Error {
public:
    explicit TransportError(QString description,
                            QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError,
                            bool requestSent = false);

    QNetworkReply::NetworkError code() const { return m_code; }
    // The whole request may have reached the server before the failure, so the server may have
    // acted on it: sending it again could do the same thing twice.
    bool requestSent() const { return m_requestSent; }

private:
    QNetworkReply::NetworkError m_code;
    bool m_requestSent;
};

} // namespace quillmere
