#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// One finding of the pre-send check, identified by the key of its rule.
struct ComplianceIssue {
    QString id;
    QString message;
    bool blocking = false; // must be fixed before a list send; otherwise advisory

    bool operator==(const ComplianceIssue&) const = default;
};

inline size_t qHash(const ComplianceIssue& i, size_t seed = 0) {
    return qHashMulti(seed, i.id, i.message, i.blocking);
}

} // namespace quillmere
