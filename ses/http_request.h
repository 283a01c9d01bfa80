#pragma once

#include <QByteArray>
#include <QHashFunctions>
#include <QMap>
#include <QString>
#include <QUrl>

namespace quillmere {

// One HTTP request. Header names keep the caller's case; one value per name.
struct HTTPRequest {
    QString method;
    QUrl url;
    QMap<QString, QString> headers;
    QByteArray body; // empty means no body at all

    bool operator==(const HTTPRequest&) const = default;
};

inline size_t qHash(const HTTPRequest& r, size_t seed = 0) {
    seed = qHashMulti(seed, r.method, r.url, r.body);
    for (auto it = r.headers.cbegin(); it != r.headers.cend(); ++it) {
        seed = qHashMulti(seed, it.key(), it.value());
    }
    return seed;
}

} // namespace quillmere
