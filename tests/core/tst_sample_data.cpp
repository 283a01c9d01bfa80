#include "core/sample_data.h"
#include "render/email_address.h"

#include <QTest>

using namespace quillmere;

class TestSampleData : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void isComputedOnceFromTheReferenceInstant() {
        QCOMPARE(SampleData::library(), SampleData::library());
        QCOMPARE(SampleData::library().subscribers[6].id,
                 QUuid::fromString(QStringLiteral("5A3D0000-0000-4000-8000-000000000007")));
        QCOMPARE(SampleData::library().lastSync, SampleData::referenceDate().addDays(-1));
    }

    void subscribersCoverEveryStatusAsTabled() {
        const auto& subscribers = SampleData::library().subscribers;
        QCOMPARE(subscribers.size(), 25);
        QHash<QString, int> statuses;
        QHash<QString, int> sources;
        const QDateTime reference = SampleData::referenceDate();
        for (const Subscriber& s : subscribers) {
            ++statuses[rawValue(s.status)];
            ++sources[s.source];
            QCOMPARE(s.email, s.email.trimmed().toLower());
            QVERIFY2(EmailAddress::isValid(s.email), qPrintable(s.email));
            QVERIFY(s.createdAt <= s.updatedAt);
            QCOMPARE(s.updatedAt, std::max(s.createdAt, reference.addDays(-1)));
        }
        QCOMPARE(statuses, (QHash<QString, int>{{"active", 16},
                                                {"pending", 3},
                                                {"unsubscribed", 3},
                                                {"bounced", 2},
                                                {"complained", 1}}));
        QCOMPARE(sources,
                 (QHash<QString, int>{{"signup-form", 15}, {"import:substack", 8}, {"manual", 2}}));
        QCOMPARE(subscribers[17].createdAt, reference.addSecs(-43200)); // half a day
        QCOMPARE(subscribers[1].createdAt, reference.addDays(-400));
    }

    void issuesAreInThreeStates() {
        const QDateTime reference = SampleData::referenceDate();
        const auto& issues = SampleData::library().newsletters;
        // Subject/preview/body lengths, look, status, age, stats, delivered readers.
        const QStringList expected{"35/69/550 editorial sent 16d 18,18,0,1,0,1 18",
                                   "49/69/305 letter paused 3d 18,7,1,0,0,0 7",
                                   "42/57/1550 editorial draft 1d 0,0,0,0,0,0 0"};
        QStringList actual;
        for (const Newsletter& n : issues) {
            QCOMPARE(n.id, SampleData::sampleID(101 + int(actual.size())));
            QCOMPARE(n.createdAt.time(), reference.time());
            QVERIFY(n.markdown.contains(QStringLiteral("{{name}}")));
            for (int reader = 1; reader <= n.deliveredIDs.size(); ++reader) {
                QVERIFY(n.deliveredIDs.contains(SampleData::sampleID(reader)));
            }
            const CampaignStats& c = n.stats;
            actual.append(QString::asprintf(
                "%d/%d/%d %s %s %lldd %lld,%lld,%lld,%lld,%lld,%lld %d", int(n.subject.size()),
                int(n.previewText.size()), int(n.markdown.size()),
                qPrintable(rawValue(n.emailTemplate)), qPrintable(rawValue(n.status)),
                n.createdAt.daysTo(reference), c.recipients, c.sent, c.failed, c.bounced,
                c.complained, c.unsubscribed, int(n.deliveredIDs.size())));
        }
        QCOMPARE(actual, expected);
        QCOMPARE(issues[0].sentAt, reference.addDays(-14));
        QCOMPARE(issues[1].sentAt, std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSampleData)
#include "tst_sample_data.moc"
