#include "ses/send_failure.h"

#include "ses/ses_error.h"
#include "ses/transport_error.h"

namespace quillmere::SendFailure {

namespace {

using Kind = DeliveryResult::Kind;

bool isThrottling(const SESError& error) {
    static const QStringList types = {QStringLiteral("Throttling"),
                                      QStringLiteral("ThrottlingException"),
                                      QStringLiteral("TooManyRequestsException")};
    return error.status() == 429 || types.contains(error.type()) ||
           error.message().contains(QLatin1String("Maximum sending rate exceeded"),
                                    Qt::CaseInsensitive);
}

} // namespace

DeliveryResult classify(const std::exception& error) {
    if (const auto* transport = dynamic_cast<const TransportError*>(&error)) {
        return DeliveryResult::of(transport->requestSent() ? Kind::uncertain : Kind::retry,
                                  transport->description());
    }
    if (const auto* ses = dynamic_cast<const SESError*>(&error)) {
        if (ses->kind() == SESError::Kind::decoding) {
            // SES answered 2xx, so it most likely took the message: never send it again.
            return DeliveryResult::of(Kind::uncertain, ses->description());
        }
        if (ses->message().contains(QLatin1String("Daily message quota exceeded"),
                                    Qt::CaseInsensitive)) {
            return DeliveryResult::of(Kind::quotaExhausted, ses->description());
        }
        if (isThrottling(*ses) || ses->status() >= 500 || ses->status() == 408) {
            return DeliveryResult::of(Kind::retry, ses->description(), ses->retryAfter());
        }
        return DeliveryResult::of(Kind::rejected, ses->description());
    }
    if (const auto* known = dynamic_cast<const Error*>(&error)) {
        return DeliveryResult::of(Kind::rejected, known->description());
    }
    return DeliveryResult::of(Kind::rejected, QString::fromLocal8Bit(error.what()));
}

} // namespace quillmere::SendFailure
