#pragma once

#include "core/library.h"

namespace quillmere::test {

// The libraries the saver process writes, one per step, rebuilt identically by the test.
// Large enough that a write takes a while, so kills often land in the middle of one.
inline Library saverState(int step) {
    Library library;
    library.profile.publicationName = QStringLiteral("state %1").arg(step);
    const QDateTime base = QDateTime::fromSecsSinceEpoch(1700000000 + step, Qt::UTC);
    for (int i = 0; i < 20000; ++i) {
        Subscriber s;
        s.id = QUuid(uint(i), ushort(step), 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 1);
        s.email = QStringLiteral("reader%1@example.com").arg(i);
        s.name = QStringLiteral("Reader %1 of step %2").arg(i).arg(step);
        s.status = SubscriberStatus::active;
        s.source = QStringLiteral("manual");
        s.createdAt = s.updatedAt = base.addSecs(i);
        library.subscribers.append(s);
    }
    Newsletter issue;
    issue.id = QUuid(uint(step), 0, 0x4000, 0x80, 0, 0, 0, 0, 0, 0, 2);
    issue.subject = QStringLiteral("Issue of step %1").arg(step);
    issue.createdAt = base;
    for (int i = 0; i < 20000; i += 2) {
        issue.deliveredIDs.insert(library.subscribers[i].id);
    }
    issue.stats.sent = issue.deliveredIDs.size();
    library.newsletters.append(issue);
    return library;
}

} // namespace quillmere::test
