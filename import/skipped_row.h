#pragma once

#include <QHashFunctions>
#include <QString>

namespace quillmere {

// A data row the import rejected: its physical line and why ("Missing email", "Invalid email: x",
// "No email column found in header").
struct SkippedRow {
    qsizetype line = 0;
    QString reason;

    bool operator==(const SkippedRow&) const = default;
};

inline size_t qHash(const SkippedRow& row, size_t seed = 0) {
    return qHashMulti(seed, row.line, row.reason);
}

} // namespace quillmere
