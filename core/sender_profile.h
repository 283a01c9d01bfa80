#pragma once

#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

namespace quillmere {

// Publication and sender settings. The defaults are those of a new library.
struct SenderProfile {
    QString publicationName;
    QString fromName;
    QString fromEmail;
    QString replyTo;       // empty means none
    QString postalAddress; // printed in every footer
    QString region = QStringLiteral("us-east-1");
    QString domain;
    QString workerBaseURL; // empty until the worker is deployed
    bool doubleOptIn = true;
    QJsonObject otherMembers = {}; // kept as read and written back: see Library::otherMembers

    QJsonObject toJson() const;
    static SenderProfile fromJson(const QJsonValue& value, const QString& path);

    bool operator==(const SenderProfile&) const = default;
};

inline size_t qHash(const SenderProfile& p, size_t seed = 0) {
    return qHashMulti(seed, p.publicationName, p.fromName, p.fromEmail, p.replyTo, p.postalAddress,
                      p.region, p.domain, p.workerBaseURL, p.doubleOptIn, p.otherMembers);
}

} // namespace quillmere
