#pragma once

#include "core/error.h"

namespace quillmere {

// A failure of the worker's sync API: `http` when the worker answered outside 200-299 (with the
// message it gave), `decoding` when a successful answer did not have the expected shape.
class WorkerClientError : public Error {
public:
    enum class Kind { http, decoding };

    static WorkerClientError http(int status, const QString& message);
    static WorkerClientError decoding(const QString& text);

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }              // http only; 0 for decoding
    const QString& message() const { return m_message; } // the worker's message, or the text

    bool operator==(const WorkerClientError& other) const {
        return m_kind == other.m_kind && m_status == other.m_status && m_message == other.m_message;
    }

private:
    WorkerClientError(Kind kind, int status, QString message, QString description);

    Kind m_kind;
    int m_status;
    QString m_message;
};

} // namespace quillmere
