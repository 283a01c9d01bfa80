#pragma once

#include "core/aws_credentials.h"
#include "ses/http_transport.h"
#include "ses/ses_account.h"
#include "ses/ses_error.h"
#include "ses/ses_identity.h"
#include "ses/sigv4_signer.h"

#include <QDateTime>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace quillmere {

// The client of the SES v2 HTTP API: one signed JSON request per call, the answer decoded into
// our records. No retries and no pacing here. An immutable value: build one per workflow run.
// A call fails with SESError, or with the transport's own error (TransportError).
class SESClient {
public:
    using Clock = std::function<QDateTime()>;

    // `now` is the wall clock used for signing; empty means the current time. The endpoint is
    // the documented regional one unless AWS_ENDPOINT_URL_SESV2 or AWS_ENDPOINT_URL (in that
    // order, as the AWS SDKs read them) name another, read once here.
    SESClient(AWSCredentials credentials, QString region, std::shared_ptr<HTTPTransport> transport,
              Clock now = {});

    const QString& region() const { return m_region; }
    const SigV4Signer& signer() const { return m_signer; }
    // The base URL of the API, no path: https://email.<region>.amazonaws.com by default.
    const QUrl& endpoint() const { return m_endpoint; }

    QCoro::Task<SESAccount> getAccount() const;
    QCoro::Task<SESIdentity> createDomainIdentity(QString domain) const;
    QCoro::Task<SESIdentity> getIdentity(QString domain) const;
    // Sends one raw MIME message to one recipient; returns the SES message id.
    QCoro::Task<QString> sendRaw(QByteArray raw, QString from, QString to,
                                 std::optional<QString> configurationSet = std::nullopt) const;

    // One request to `path` under the endpoint, with the JSON headers, signed for now().
    HTTPRequest signedRequest(const QString& method, const QString& path,
                              const QByteArray& body = {}) const;

    // A non-2xx answer as SESError::http: the error type from "x-amzn-ErrorType" or the body,
    // reduced to its bare name; the message from the body, else the body's text.
    static SESError parseError(const HTTPResponse& response);

private:
    QCoro::Task<QByteArray> perform(QString method, QString path, QByteArray body = {}) const;

    QString m_region;
    SigV4Signer m_signer;
    std::shared_ptr<HTTPTransport> m_transport;
    Clock m_now;
    QUrl m_endpoint;
};

} // namespace quillmere
