#include "worker/worker_client_error.h"

namespace quillmere {

WorkerClientError::WorkerClientError(Kind kind, int status, QString message, QString description)
    : Error(std::move(description))
    , m_kind(kind)
    , m_status(status)
    , m_message(std::move(message)) {}

WorkerClientError WorkerClientError::http(int status, const QString& message) {
    const QString head = QStringLiteral("Worker error %1").arg(status);
    return WorkerClientError(Kind::http, status, message,
                             message.isEmpty() ? head : head + QStringLiteral(": ") + message);
}

WorkerClientError WorkerClientError::decoding(const QString& text) {
    return WorkerClientError(Kind::decoding, 0, text, text);
}

} // namespace quillmere
