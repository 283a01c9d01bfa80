// The pure rule sets of sending: compliance findings, the bounce guard, the DNS records.

#include "ses/bounce_guard.h"
#include "ses/compliance.h"
#include "ses/dns_records.h"

#include <QTest>

using namespace quillmere;
using namespace Qt::StringLiterals;

class TestCompliance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void findings();
    void bounceGuard();
    void dnsRecords();
};

void TestCompliance::findings() {
    const SenderProfile complete{.publicationName = u"The Weekly Loaf"_s,
                                 .fromName = u"Ada"_s,
                                 .fromEmail = u"ada@example.com"_s,
                                 .postalAddress = u"1 Bakery Lane, Springfield"_s,
                                 .domain = u"example.com"_s,
                                 .workerBaseURL = u"https://loaf.ada.workers.dev"_s};
    const Newsletter issue{.subject = u"Sourdough, again"_s,
                           .previewText = u"Starters and patience"_s,
                           .markdown = u"# Hello\n\nBread."_s};

    // Each case changes the complete profile and lists the findings: "id" for a blocking one,
    // "id?" for advice, with the message where it is built from the input.
    using Case = std::tuple<const char*, std::function<void(SenderProfile&)>, QStringList>;
    const auto set = [](QString SenderProfile::*field) {
        return [field](const char* value) {
            return [field, value](SenderProfile& p) { p.*field = QString::fromUtf8(value); };
        };
    };
    const auto from = set(&SenderProfile::fromEmail);
    const auto url = set(&SenderProfile::workerBaseURL);
    const Case cases[] = {
        {"complete", [](SenderProfile&) {}, {}},
        {"from address not valid",
         from("  not an address \n"),
         {u"from-email: The From email address \"not an address\" is not valid."_s}},
        {"no domain", set(&SenderProfile::domain)(" \t"), {u"domain"_s}},
        {"from another domain",
         from("ada@Other.org"),
         {u"from-domain: The From address uses other.org, but the verified domain "
          "is example.com."_s}},
        {"a lookalike is not a subdomain", from("ada@badexample.com"), {u"from-domain"_s}},
        {"a subdomain passes", from("ada@news.example.com"), {}},
        {"case and space do not matter",
         [](SenderProfile& p) {
             p.fromEmail = u"ADA@EXAMPLE.COM"_s;
             p.domain = u" Example.COM "_s;
         },
         {}},
        {"HTTPS upper-case", url("HTTPS://x.workers.dev/"), {}},
        {"http is advice", url("http://x.workers.dev"), {u"worker-https?"_s}},
        {"no scheme, so no host", url("x.workers.dev"), {u"worker-url"_s}},
        {"scheme without host", url("https://"), {u"worker-url"_s}},
        {"not a URL", url("https://exa mple.com"), {u"worker-url"_s}},
        {"mailto has no host", url("mailto:a@b.co"), {u"worker-url"_s}},
    };
    const auto summary = [](const QList<ComplianceIssue>& issues, const QStringList& expected) {
        QStringList out;
        for (qsizetype i = 0; i < issues.size(); ++i) {
            const QString id = issues[i].id + (issues[i].blocking ? QString() : u"?"_s);
            const bool withMessage = i < expected.size() && expected[i].contains(QLatin1Char(' '));
            out.append(withMessage ? id + u": "_s + issues[i].message : id);
        }
        return out;
    };
    for (const auto& [name, change, expected] : cases) {
        SenderProfile p = complete;
        change(p);
        QVERIFY2(summary(Compliance::check(p, issue), expected) == expected, name);
    }

    // White space and line breaks alone count as empty; blocking findings come first.
    const SenderProfile blank{.publicationName = u"\n"_s, .postalAddress = u" \n\t"_s};
    QCOMPARE(summary(Compliance::check(blank, {.subject = u"   "_s}), {}),
             (QStringList{u"postal-address"_s, u"from-email"_s, u"subject"_s, u"body"_s,
                          u"worker-url"_s, u"publication-name?"_s, u"preview-text?"_s}));

    // An issue with images of its own cannot go out before a worker can host them.
    Newsletter pictured = issue;
    pictured.markdown += u"\n\n![Loaf](media/0123456789abcdef.jpg)"_s;
    QCOMPARE(summary(Compliance::check(complete, pictured), {}), QStringList());
    SenderProfile undeployed = complete;
    undeployed.workerBaseURL.clear();
    QCOMPARE(
        summary(Compliance::check(undeployed, pictured), {u"a b"_s, u"a b"_s}),
        (QStringList{u"worker-url: Deploy the Cloudflare Worker first. Without it there is "
                     "no unsubscribe endpoint."_s,
                     u"media-worker: Deploy the signup worker to host this issue's images."_s}));
}

void TestCompliance::bounceGuard() {
    const auto stats = [](qint64 sent, qint64 bounced, qint64 complained) {
        return CampaignStats{.sent = sent, .bounced = bounced, .complained = complained};
    };
    const BounceGuard guard{0.05, 0.001, 50};
    // The sample size and the bounce sentence are shown by the bulk sender's own test.
    QCOMPARE(guard.shouldHalt(stats(100, 5, 0)), std::nullopt); // exactly at the limit
    QCOMPARE(guard.shouldHalt(stats(1000, 0, 2)),
             u"Complaint rate 0.20% is above the 0.10% limit (2 of 1000 sent). "
             "Sending paused to protect your SES reputation."_s);
    QCOMPARE(guard.shouldHalt(stats(1000, 1, 1)), std::nullopt);
    // Both over: the bounce sentence wins.
    QVERIFY(guard.shouldHalt(stats(200, 20, 20))->startsWith(u"Bounce rate 10.00%"_s));
    // Nothing sent is never judged, even without a sample size.
    QCOMPARE((BounceGuard{0.05, 0.001, 0}).shouldHalt(stats(0, 3, 3)), std::nullopt);
    QVERIFY((BounceGuard{0.05, 0.001, 0}).shouldHalt(stats(3, 1, 0)));
}

void TestCompliance::dnsRecords() {
    const QList<DNSRecord> dkim = DNSRecords::dkim(u"example.com"_s, {u"tok1"_s, u"tok2"_s});
    QCOMPARE(dkim.size(), 2);
    QCOMPARE(dkim[1].id(), u"CNAME tok2._domainkey.example.com tok2.dkim.amazonses.com"_s);
    QCOMPARE(DNSRecords::spf(u"example.com"_s).id(),
             u"TXT example.com v=spf1 include:amazonses.com ~all"_s);
    // A blank report address is no address.
    QCOMPARE(DNSRecords::dmarc(u"example.com"_s, u" \t "_s).id(),
             u"TXT _dmarc.example.com v=DMARC1; p=none;"_s);
    QCOMPARE(DNSRecords::dmarc(u"example.com"_s, u"\tdmarc@example.com "_s).value,
             u"v=DMARC1; p=none; rua=mailto:dmarc@example.com;"_s);
}

QTEST_GUILESS_MAIN(TestCompliance)
#include "tst_compliance.moc"
