#pragma once

// A transport that records every request and answers from a script, for what no real peer can
// be made to do (odd error shapes, missing fields, a failing connection).

#include "ses/http_transport.h"

#include <QList>

#include <exception>
#include <variant>

namespace quillmere::test {

class ScriptedTransport : public HTTPTransport {
public:
    using Answer = std::variant<HTTPResponse, std::exception_ptr>;

    void enqueue(HTTPResponse response) { m_answers.append(std::move(response)); }
    void enqueue(int status, QByteArray body, QMap<QString, QString> headers = {}) {
        m_answers.append(HTTPResponse{status, std::move(headers), std::move(body)});
    }
    template <class E>
    void enqueueFailure(E error) {
        m_answers.append(std::make_exception_ptr(std::move(error)));
    }

    QCoro::Task<HTTPResponse> send(HTTPRequest request) override {
        m_requests.append(request);
        if (m_answers.isEmpty()) {
            throw std::logic_error("ScriptedTransport: no answer left for " +
                                   request.url.toString().toStdString());
        }
        const Answer answer = m_answers.takeFirst();
        if (const auto* failure = std::get_if<std::exception_ptr>(&answer)) {
            std::rethrow_exception(*failure);
        }
        co_return std::get<HTTPResponse>(answer);
    }

    const QList<HTTPRequest>& requests() const { return m_requests; }
    qsizetype pending() const { return m_answers.size(); }

private:
    QList<Answer> m_answers;
    QList<HTTPRequest> m_requests;
};

} // namespace quillmere::test
