#pragma once

#include "core/aws_credentials.h"
#include "core/error.h"
#include "ses/http_transport.h"
#include "ses/sigv4_signer.h"

#include <QDateTime>
#include <QUrl>
#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>

namespace quillmere {

// A failed STS call: the status and the error code and message STS gave, or a decoding text
// (status 0) when a successful answer could not be read.
class STSError : public Error {
public:
    STSError(int status, QString code, QString message);

    int status() const { return m_status; }
    const QString& code() const { return m_code; }
    const QString& message() const { return m_message; }

private:
    int m_status;
    QString m_code;
    QString m_message;
};

// The one STS call the deployment needs: GetCallerIdentity, which any valid AWS key may make,
// tells which AWS account the writer's keys belong to. Signed with Signature Version 4.
class STSClient {
public:
    using Clock = std::function<QDateTime()>;

    // The regional endpoint unless AWS_ENDPOINT_URL_STS or AWS_ENDPOINT_URL (in that order, as
    // the AWS SDKs read them) name another.
    STSClient(AWSCredentials credentials, QString region, std::shared_ptr<HTTPTransport> transport,
              Clock now = {});

    const QUrl& endpoint() const { return m_endpoint; }

    // The twelve-digit account id.
    QCoro::Task<QString> accountID() const;

private:
    SigV4Signer m_signer;
    std::shared_ptr<HTTPTransport> m_transport;
    Clock m_now;
    QUrl m_endpoint;
};

} // namespace quillmere
