#include "app/production_access.h"

#include <QTest>

using namespace quillmere;

class TestProductionAccess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyProfileUsesTheFallbacks() {
        const QString text = ProductionAccess::requestText(SenderProfile(), QString(),
                                                           ProductionAccess::defaultListSource,
                                                           ProductionAccess::defaultVolume);
        QVERIFY(text.startsWith(QStringLiteral(
            "I publish my newsletter, an editorial newsletter at my website. I send one issue "
            "per week to subscribers, about 2,000 emails per month.")));
        QVERIFY(text.endsWith(QStringLiteral("available at my website/archive.")));
        QVERIFY(text.contains(QStringLiteral(
            ".\n\nHow recipients join: the list is made only of people who signed up on my "
            "website through a double opt-in form. Every new signup receives")));
        QVERIFY(text.contains(QStringLiteral(
            "pauses a campaign if the bounce rate passes 5% or the complaint rate passes 0.1%."
            "\n\nContent: original articles written by me.")));
    }

    void domainOrWebsiteFillTheSite() {
        const SenderProfile profile{.publicationName = QStringLiteral("Field Notes"),
                                    .domain = QStringLiteral("fieldnotes.example")};
        const QString fromDomain = ProductionAccess::requestText(
            profile, QString(), QStringLiteral("readers"), QStringLiteral("a few hundred emails"));
        // A typed website wins over the domain.
        QVERIFY(ProductionAccess::requestText(profile, QStringLiteral("https://site.example"),
                                              QString(), QString())
                    .endsWith(QStringLiteral("at https://site.example/archive.")));
        QVERIFY(fromDomain.startsWith(QStringLiteral(
            "I publish Field Notes, an editorial newsletter at https://fieldnotes.example. I send "
            "one issue per week to subscribers, a few hundred emails.")));
        QVERIFY(fromDomain.endsWith(QStringLiteral("at https://fieldnotes.example/archive.")));
    }
};

QTEST_GUILESS_MAIN(TestProductionAccess)
#include "tst_production_access.moc"
