#include "core/sample_data.h"
#include "render/email_address.h"

#include <QTest>

using namespace quillmere;

class TestSampleData : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void isComputedOnceFromTheReferenceInstant() {
        QCOMPARE(SampleData::library(), SampleData::library());
        QCOMPARE(SampleData::referenceDate().toSecsSinceEpoch(), 1790000000);
        QCOMPARE(SampleData::library().subscribers[6].id,
                 QUuid::fromString(QStringLiteral("5A3D0000-0000-4000-8000-000000000007")));
        QCOMPARE(SampleData::library().lastSync, SampleData::referenceDate().addDays(-1));
    }

    void subscribersCoverEveryStatusAsTabled() {
        const auto& subscribers = SampleData::library().subscribers;
        QCOMPARE(subscribers.size(), 25);
        QHash<SubscriberStatus, int> statuses;
        QHash<QString, int> sources;
        const QDateTime reference = SampleData::referenceDate();
        for (const Subscriber& s : subscribers) {
            ++statuses[s.status];
            ++sources[s.source];
            QCOMPARE(s.email, s.email.trimmed().toLower());
            QVERIFY2(EmailAddress::isValid(s.email), qPrintable(s.email));
            QVERIFY(s.createdAt <= s.updatedAt);
            QCOMPARE(s.updatedAt, std::max(s.createdAt, reference.addDays(-1)));
        }
        QCOMPARE(statuses[SubscriberStatus::active], 16);
        QCOMPARE(statuses[SubscriberStatus::pending], 3);
        QCOMPARE(statuses[SubscriberStatus::unsubscribed], 3);
        QCOMPARE(statuses[SubscriberStatus::bounced], 2);
        QCOMPARE(statuses[SubscriberStatus::complained], 1);
        QCOMPARE(sources[QStringLiteral("signup-form")], 15);
        QCOMPARE(sources[QStringLiteral("import:substack")], 8);
        QCOMPARE(sources[QStringLiteral("manual")], 2);
        QVERIFY(subscribers[11].name.isEmpty());
        QCOMPARE(subscribers[17].createdAt, reference.addSecs(-43200)); // half a day
        QCOMPARE(subscribers[1].createdAt, reference.addDays(-400));
        QCOMPARE(subscribers[24].status, SubscriberStatus::active);
    }

    void issuesAreInThreeStates() {
        const auto& issues = SampleData::library().newsletters;
        QCOMPARE(issues.size(), 3);
        const QDateTime reference = SampleData::referenceDate();
        struct Expected {
            int number, subject, preview, body;
            EmailTemplate look;
            CampaignStatus status;
            int createdDays;
            CampaignStats stats;
            int delivered;
        };
        const Expected expected[] = {
            {101,
             35,
             69,
             550,
             EmailTemplate::editorial,
             CampaignStatus::sent,
             16,
             {18, 18, 0, 1, 0, 1},
             18},
            {102,
             49,
             69,
             305,
             EmailTemplate::letter,
             CampaignStatus::paused,
             3,
             {18, 7, 1, 0, 0, 0},
             7},
            {103, 42, 57, 1550, EmailTemplate::editorial, CampaignStatus::draft, 1, {}, 0},
        };
        for (int i = 0; i < 3; ++i) {
            const Newsletter& n = issues[i];
            const Expected& e = expected[i];
            QCOMPARE(n.id, SampleData::sampleID(e.number));
            QCOMPARE(n.subject.size(), e.subject);
            QCOMPARE(n.previewText.size(), e.preview);
            QCOMPARE(n.markdown.size(), e.body);
            QVERIFY(n.markdown.contains(QStringLiteral("{{name}}")));
            QCOMPARE(n.emailTemplate, e.look);
            QCOMPARE(n.status, e.status);
            QCOMPARE(n.createdAt, reference.addDays(-e.createdDays));
            QCOMPARE(n.stats, e.stats);
            QCOMPARE(n.deliveredIDs.size(), e.delivered);
            for (int reader = 1; reader <= e.delivered; ++reader) {
                QVERIFY(n.deliveredIDs.contains(SampleData::sampleID(reader)));
            }
        }
        QCOMPARE(issues[0].sentAt, reference.addDays(-14));
        QCOMPARE(issues[1].sentAt, std::nullopt);
        QCOMPARE(issues[0].stats.bounceRate(), 1.0 / 18.0);
        QVERIFY(issues[2].markdown.startsWith(QStringLiteral("# ")));
    }
};

QTEST_GUILESS_MAIN(TestSampleData)
#include "tst_sample_data.moc"
