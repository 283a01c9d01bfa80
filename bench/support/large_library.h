#pragma once

#include "core/library.h"

#include <QSet>

namespace quillmere::bench {

// A writer two years into a large list: `subscribers` readers (every twentieth unsubscribed),
// `issues` issues, the first `deliveredIssues` of them delivered to every reader.
inline Library largeLibrary(int subscribers, int issues, int deliveredIssues) {
    Library library;
    library.profile.publicationName = QStringLiteral("The Long Letter");
    library.profile.fromName = QStringLiteral("Ann Writer");
    library.profile.fromEmail = QStringLiteral("ann@longletter.example");
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    library.subscribers.reserve(subscribers);
    for (int i = 0; i < subscribers; ++i) {
        Subscriber s;
        s.id = QUuid::createUuid();
        s.email = QStringLiteral("reader%1@mail%2.example").arg(i).arg(i % 97);
        s.name = QStringLiteral("Reader Number %1").arg(i);
        s.status = i % 20 == 0 ? SubscriberStatus::unsubscribed : SubscriberStatus::active;
        s.source = i % 3 == 0 ? QStringLiteral("import:substack") : QStringLiteral("signup-form");
        s.createdAt = start.addSecs(i * 37);
        s.updatedAt = s.createdAt.addSecs(3600);
        library.subscribers.append(s);
    }
    QSet<QUuid> everyone;
    everyone.reserve(subscribers);
    for (const Subscriber& s : std::as_const(library.subscribers)) {
        everyone.insert(s.id);
    }
    for (int i = 0; i < issues; ++i) {
        Newsletter n;
        n.id = QUuid::createUuid();
        n.subject = QStringLiteral("Issue %1: notes from the workshop").arg(issues - i);
        n.previewText = QStringLiteral("What I learned this week, in five short parts.");
        n.markdown = QStringLiteral("# Hello {{name}}\n\n") + QString(3000, u'x');
        n.createdAt = start.addDays(i * 14);
        if (i < deliveredIssues) {
            n.status = CampaignStatus::sent;
            n.sentAt = n.createdAt.addDays(1);
            n.deliveredIDs = everyone; // shared until changed, as in the application
            n.stats.recipients = n.stats.sent = subscribers;
        }
        library.newsletters.append(n);
    }
    return library;
}

} // namespace quillmere::bench
