#pragma once

#include "core/subscriber.h"
#include "import/csv_format.h"
#include "import/skipped_row.h"

#include <QList>

namespace quillmere {

// What one CSV import produced; the application model merges `subscribers` into the library.
struct CSVImportResult {
    CSVFormat format = CSVFormat::generic;
    QList<Subscriber> subscribers;    // accepted rows, in file order
    QList<SkippedRow> skipped;        // rejected rows, in file order
    qsizetype duplicates = 0;         // rows repeating an address seen earlier in the file
    qsizetype confirmedElsewhere = 0; // made active because the export says they subscribed
    qsizetype assumedActive = 0;      // generic rows made active for want of any status

    bool operator==(const CSVImportResult&) const = default;
};

inline size_t qHash(const CSVImportResult& r, size_t seed = 0) {
    return qHashMulti(seed, r.format, qHashRange(r.subscribers.begin(), r.subscribers.end()),
                      qHashRange(r.skipped.begin(), r.skipped.end()), r.duplicates,
                      r.confirmedElsewhere, r.assumedActive);
}

} // namespace quillmere
