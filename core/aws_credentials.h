#pragma once

#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace quillmere {

// Transient: built from the credential store for one workflow, never part of the library.
struct AWSCredentials {
    QString accessKeyID;
    QString secretAccessKey;
    std::optional<QString> sessionToken; // temporary credentials only

    QJsonObject toJson() const;
    static AWSCredentials fromJson(const QJsonValue& value);

    bool operator==(const AWSCredentials&) const = default;
};

inline size_t qHash(const AWSCredentials& c, size_t seed = 0) {
    return qHashMulti(seed, c.accessKeyID, c.secretAccessKey, c.sessionToken.value_or(QString()),
                      c.sessionToken.has_value());
}

} // namespace quillmere
