// The pure rule sets of sending: compliance findings, the bounce guard, the DNS records.

#include "ses/bounce_guard.h"
#include "ses/compliance.h"
#include "ses/dns_records.h"

#include <QTest>

using namespace quillmere;

namespace {

SenderProfile completeProfile() {
    SenderProfile p;
    p.publicationName = QStringLiteral("The Weekly Loaf");
    p.fromName = QStringLiteral("Ada");
    p.fromEmail = QStringLiteral("ada@example.com");
    p.postalAddress = QStringLiteral("1 Bakery Lane, Springfield");
    p.domain = QStringLiteral("example.com");
    p.workerBaseURL = QStringLiteral("https://loaf.ada.workers.dev");
    return p;
}

Newsletter completeIssue() {
    Newsletter n;
    n.subject = QStringLiteral("Sourdough, again");
    n.previewText = QStringLiteral("Starters and patience");
    n.markdown = QStringLiteral("# Hello\n\nBread.");
    return n;
}

QStringList ids(const QList<ComplianceIssue>& issues) {
    QStringList out;
    for (const ComplianceIssue& i : issues) {
        out.append(i.id);
    }
    return out;
}

CampaignStats stats(qint64 sent, qint64 bounced, qint64 complained) {
    CampaignStats s;
    s.sent = sent;
    s.bounced = bounced;
    s.complained = complained;
    return s;
}

} // namespace

class TestCompliance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void emptyEverything();
    void fromAddressRules();
    void workerURL_data();
    void workerURL();
    void bounceGuard();
    void dnsRecords();
};

void TestCompliance::emptyEverything() {
    QVERIFY(Compliance::check(completeProfile(), completeIssue()).isEmpty());

    // White space and line breaks alone count as empty.
    SenderProfile blank;
    blank.postalAddress = QStringLiteral(" \n\t");
    blank.publicationName = QStringLiteral("\n");
    Newsletter empty;
    empty.subject = QStringLiteral("   ");
    const QList<ComplianceIssue> issues = Compliance::check(blank, empty);
    QCOMPARE(ids(issues),
             (QStringList{QStringLiteral("postal-address"), QStringLiteral("from-email"),
                          QStringLiteral("subject"), QStringLiteral("body"),
                          QStringLiteral("worker-url"), QStringLiteral("publication-name"),
                          QStringLiteral("preview-text")}));
    QCOMPARE(issues[0], (ComplianceIssue{QStringLiteral("postal-address"),
                                         QStringLiteral("Add a physical postal address. CAN-SPAM "
                                                        "requires it in every email footer."),
                                         true}));
    QCOMPARE(issues[1].message, QStringLiteral("Set a From email address."));
    QCOMPARE(issues[2].message, QStringLiteral("Write a subject line."));
    QCOMPARE(issues[3].message, QStringLiteral("The newsletter body is empty."));
    QCOMPARE(issues[4].message, QStringLiteral("Deploy the Cloudflare Worker first. Without it "
                                               "there is no unsubscribe endpoint."));
    QCOMPARE(issues[5], (ComplianceIssue{QStringLiteral("publication-name"),
                                         QStringLiteral("Name your publication so readers "
                                                        "recognize it in the footer."),
                                         false}));
    QCOMPARE(issues[6], (ComplianceIssue{QStringLiteral("preview-text"),
                                         QStringLiteral("Add preview text to control the inbox "
                                                        "snippet."),
                                         false}));
    for (int i = 0; i < 5; ++i) {
        QVERIFY(issues[i].blocking);
    }
}

void TestCompliance::fromAddressRules() {
    const Newsletter issue = completeIssue();
    SenderProfile p = completeProfile();

    p.fromEmail = QStringLiteral("  not an address \n");
    QCOMPARE(Compliance::check(p, issue),
             (QList<ComplianceIssue>{{QStringLiteral("from-email"),
                                      QStringLiteral("The From email address \"not an address\" "
                                                     "is not valid."),
                                      true}}));

    p.fromEmail = QStringLiteral("ada@example.com");
    p.domain = QStringLiteral(" \t");
    QCOMPARE(Compliance::check(p, issue),
             (QList<ComplianceIssue>{{QStringLiteral("domain"),
                                      QStringLiteral("No verified sending domain is set. Verify "
                                                     "your domain in Amazon SES."),
                                      true}}));

    p.domain = QStringLiteral("example.com");
    p.fromEmail = QStringLiteral("ada@Other.org");
    QCOMPARE(Compliance::check(p, issue),
             (QList<ComplianceIssue>{{QStringLiteral("from-domain"),
                                      QStringLiteral("The From address uses other.org, but the "
                                                     "verified domain is example.com."),
                                      true}}));

    // A lookalike is not a subdomain.
    p.fromEmail = QStringLiteral("ada@badexample.com");
    QCOMPARE(ids(Compliance::check(p, issue)), QStringList{QStringLiteral("from-domain")});

    // A subdomain passes; case and surrounding space do not matter.
    p.fromEmail = QStringLiteral("ada@news.example.com");
    p.domain = QStringLiteral(" Example.COM ");
    QVERIFY(Compliance::check(p, issue).isEmpty());
    p.fromEmail = QStringLiteral("ADA@EXAMPLE.COM");
    QVERIFY(Compliance::check(p, issue).isEmpty());
}

void TestCompliance::workerURL_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("id");
    QTest::newRow("https") << QStringLiteral("https://x.workers.dev") << QString();
    QTest::newRow("HTTPS upper-case") << QStringLiteral("HTTPS://x.workers.dev/") << QString();
    QTest::newRow("http is advisory")
        << QStringLiteral("http://x.workers.dev") << QStringLiteral("worker-https");
    QTest::newRow("no scheme, so no host")
        << QStringLiteral("x.workers.dev") << QStringLiteral("worker-url");
    QTest::newRow("scheme without host")
        << QStringLiteral("https://") << QStringLiteral("worker-url");
    QTest::newRow("not a URL") << QStringLiteral("https://exa mple.com")
                               << QStringLiteral("worker-url");
    QTest::newRow("mailto has no host")
        << QStringLiteral("mailto:a@b.co") << QStringLiteral("worker-url");
}

void TestCompliance::workerURL() {
    QFETCH(QString, url);
    QFETCH(QString, id);
    SenderProfile p = completeProfile();
    p.workerBaseURL = url;
    const QList<ComplianceIssue> issues = Compliance::check(p, completeIssue());
    QCOMPARE(ids(issues), id.isEmpty() ? QStringList() : QStringList{id});
    if (id == QLatin1String("worker-https")) {
        QCOMPARE(
            issues[0].message,
            QStringLiteral("The worker URL should use https so unsubscribe links are trusted."));
        QVERIFY(!issues[0].blocking);
    }
}

void TestCompliance::bounceGuard() {
    const BounceGuard guard{0.05, 0.001, 50};
    QCOMPARE(guard.shouldHalt(stats(49, 49, 49)), std::nullopt); // below the sample
    QCOMPARE(guard.shouldHalt(stats(50, 3, 0)),
             QStringLiteral("Bounce rate 6.00% is above the 5.00% limit (3 of 50 sent). Sending "
                            "paused to protect your SES reputation."));
    QCOMPARE(guard.shouldHalt(stats(100, 5, 0)), std::nullopt); // exactly at the limit
    QCOMPARE(guard.shouldHalt(stats(1000, 0, 2)),
             QStringLiteral("Complaint rate 0.20% is above the 0.10% limit (2 of 1000 sent). "
                            "Sending paused to protect your SES reputation."));
    QCOMPARE(guard.shouldHalt(stats(1000, 1, 1)), std::nullopt);
    // Both over: the bounce sentence wins.
    QVERIFY(guard.shouldHalt(stats(200, 20, 20))->startsWith(QStringLiteral("Bounce rate 10.00%")));
    // Nothing sent is never judged, even without a sample size.
    QCOMPARE((BounceGuard{0.05, 0.001, 0}).shouldHalt(stats(0, 3, 3)), std::nullopt);
    QCOMPARE((BounceGuard{0.05, 0.001, 0}).shouldHalt(stats(3, 1, 0)),
             QStringLiteral("Bounce rate 33.33% is above the 5.00% limit (1 of 3 sent). Sending "
                            "paused to protect your SES reputation."));
}

void TestCompliance::dnsRecords() {
    const QList<DNSRecord> dkim =
        DNSRecords::dkim(QStringLiteral("example.com"),
                         {QStringLiteral("tok1"), QStringLiteral("tok2"), QStringLiteral("tok3")});
    QCOMPARE(dkim.size(), 3);
    QCOMPARE(dkim[1],
             (DNSRecord{QStringLiteral("CNAME"), QStringLiteral("tok2._domainkey.example.com"),
                        QStringLiteral("tok2.dkim.amazonses.com"), QStringLiteral("DKIM")}));
    QCOMPARE(dkim[1].id(),
             QStringLiteral("CNAME tok2._domainkey.example.com tok2.dkim.amazonses.com"));
    QVERIFY(DNSRecords::dkim(QStringLiteral("example.com"), {}).isEmpty());

    QCOMPARE(
        DNSRecords::spf(QStringLiteral("example.com")),
        (DNSRecord{QStringLiteral("TXT"), QStringLiteral("example.com"),
                   QStringLiteral("v=spf1 include:amazonses.com ~all"), QStringLiteral("SPF")}));

    const DNSRecord plain = DNSRecords::dmarc(QStringLiteral("example.com"));
    QCOMPARE(plain, (DNSRecord{QStringLiteral("TXT"), QStringLiteral("_dmarc.example.com"),
                               QStringLiteral("v=DMARC1; p=none;"), QStringLiteral("DMARC")}));
    QCOMPARE(DNSRecords::dmarc(QStringLiteral("example.com"), QStringLiteral(" \t ")), plain);
    QCOMPARE(
        DNSRecords::dmarc(QStringLiteral("example.com"), QStringLiteral("\tdmarc@example.com "))
            .value,
        QStringLiteral("v=DMARC1; p=none; rua=mailto:dmarc@example.com;"));

    // Identity is type, name and value together: the records of one domain never collide.
    QSet<QString> seen;
    for (const DNSRecord& r :
         dkim + QList<DNSRecord>{DNSRecords::spf(QStringLiteral("example.com")), plain}) {
        seen.insert(r.id());
    }
    QCOMPARE(seen.size(), 5);
}

QTEST_GUILESS_MAIN(TestCompliance)
#include "tst_compliance.moc"
