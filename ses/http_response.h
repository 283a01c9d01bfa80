#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QMap>
#include <QString>

#include <optional>

namespace quillmere {

// One HTTP response. A status outside 200-299 is an ordinary response here; clients judge it.
struct HTTPResponse {
    int status = 0; // 0 when the answer was not HTTP
    QMap<QString, QString> headers;
    QByteArray body;

    // Case-insensitive lookup: the first header whose lower-cased name matches.
    std::optional<QString> headerValue(const QString& name) const;

    bool operator==(const HTTPResponse&) const = default;
};

inline size_t qHash(const HTTPResponse& r, size_t seed = 0) {
    seed = qHashMulti(seed, r.status, r.body);
    for (auto it = r.headers.cbegin(); it != r.headers.cend(); ++it) {
        seed = qHashMulti(seed, it.key(), it.value());
    }
    return seed;
}

} // namespace quillmere
