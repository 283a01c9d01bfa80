#pragma once

#include "ses/http_transport.h"

#include <QList>

#include <stdexcept>
#include <variant>

namespace quillmere::test {

// A transport-level failure only a scripted transport raises, to see it pass through clients
// unchanged.
struct ScriptedTransportFailure : std::runtime_error {
    ScriptedTransportFailure()
        : std::runtime_error("scripted transport failure") {}
};

// Answers requests from a script, in order, and keeps every request it was given. For what a
// real peer cannot be made to answer.
class ScriptedTransport : public HTTPTransport {
public:
    QList<HTTPRequest> requests;

    void answer(int status, QByteArray body = {}) {
        m_script.append(HTTPResponse{status, {}, body});
    }
    void answerJson(int status, const char* json) { answer(status, QByteArray(json)); }
    void fail() { m_script.append(ScriptedTransportFailure()); }
    qsizetype pending() const { return m_script.size(); }

    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        requests.append(request);
        if (m_script.isEmpty()) {
            throw std::logic_error("the script has no answer for this request");
        }
        auto next = m_script.takeFirst();
        if (std::holds_alternative<ScriptedTransportFailure>(next)) {
            throw std::get<ScriptedTransportFailure>(next);
        }
        co_return std::get<HTTPResponse>(next);
    }

private:
    QList<std::variant<HTTPResponse, ScriptedTransportFailure>> m_script;
};

} // namespace quillmere::test
