#pragma once

#include <QString>

#include <chrono>
#include <optional>

namespace quillmere {

// What became of one attempt to deliver one reader's message, as the bulk sender acts on it.
struct DeliveryResult {
    enum class Kind {
        delivered,      // accepted
        rejected,       // refused for good (a 4xx such as MessageRejected): counted as failed
        uncertain,      // may have been accepted: never tried again automatically
        retry,          // throttled, a server error or no connection: try again later
        quotaExhausted, // the account's daily quota is used up: pause the whole send
    };

    Kind kind = Kind::delivered;
    QString reason;                                   // what went wrong, one line
    std::optional<std::chrono::milliseconds> waitFor; // retry: the server's Retry-After

    static DeliveryResult delivered() { return {}; }
    static DeliveryResult of(Kind kind, QString reason,
                             std::optional<std::chrono::milliseconds> waitFor = std::nullopt) {
        return {kind, std::move(reason), waitFor};
    }

    bool operator==(const DeliveryResult&) const = default;
};

} // namespace quillmere
