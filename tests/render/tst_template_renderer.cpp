#include "render/markdown_renderer.h"
#include "render/template_renderer.h"

#include <QTest>

using namespace quillmere;
using TemplateRenderer::Theme;

namespace {

const QString kSystem =
    u"-apple-system,BlinkMacSystemFont,'Segoe UI',Helvetica,Arial,sans-serif"_qs;
const QString kSerif = u"Georgia,'Times New Roman',Times,serif"_qs;
const QString kUnsubscribe = u"https://w.example.dev/unsubscribe?t=YW5u.abc"_qs;
const QString kArchive = u"https://w.example.dev/archive/hello-5a3d00"_qs;

SenderProfile profile() {
    return {.publicationName = u"The Quiet Workshop"_qs,
            .fromName = u"Mara Ellison"_qs,
            .fromEmail = u"mara@quiet.news"_qs,
            .postalAddress = u"1 Main St\n  Springfield  "_qs};
}

Newsletter issue(EmailTemplate look = EmailTemplate::plain) {
    return {.id = QUuid::fromString(u"5A3D0000-0000-4000-8000-000000000101"_qs),
            .subject = u"Hello {{name}}"_qs,
            .previewText = u"Read this"_qs,
            .markdown = u"Hi {{name}},\n\nSee [site](https://x.com)."_qs,
            .emailTemplate = look,
            .createdAt = QDateTime(QDate(2025, 3, 3), QTime(20, 0), Qt::UTC)};
}

Subscriber reader(const QString& name, const QString& email = u"ann@example.com"_qs) {
    return {.id = QUuid::createUuid(),
            .email = email,
            .name = name,
            .status = SubscriberStatus::active};
}

RenderContext context(const Newsletter& n, std::optional<Subscriber> r, bool archive = true) {
    return {.newsletter = n,
            .profile = profile(),
            .recipient = std::move(r),
            .unsubscribeURL = QUrl(kUnsubscribe),
            .archiveURL = archive ? std::optional(QUrl(kArchive)) : std::nullopt};
}

} // namespace

class TestTemplateRenderer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The whole document of the plain template, written out from the layout rules.
    void plainDocumentIsExact() {
        const RenderedEmail email = TemplateRenderer::render(context(issue(), reader(u"Ann"_qs)));
        const QString styleSheet =
            u":root { color-scheme: light dark; supported-color-schemes: light dark; }\n"
            "body { margin:0; padding:0; width:100% !important; -webkit-text-size-adjust:100%; }\n"
            "img { border:0; outline:none; text-decoration:none; }\n"
            "@media (max-width: 620px) { .pw-container { width:100% !important; } .pw-card { "
            "padding-left:20px !important; padding-right:20px !important; } }\n"
            "@media (prefers-color-scheme: dark) {\n"
            "  .pw-body, .pw-outer { background:#121212 !important; }\n"
            "  .pw-card { background:#1e1e1e !important; color:#e6e6e6 !important; "
            "border-color:#333333 !important; }\n"
            "  .pw-card h1, .pw-card h2, .pw-card h3, .pw-card h4, .pw-card h5, .pw-card h6 { "
            "color:#f2f2f2 !important; }\n"
            "  .pw-muted { color:#a0a0a0 !important; }\n"
            "  .pw-link { color:#7cb7ff !important; }\n"
            "  pre, code { background:#2a2a2a !important; color:#e6e6e6 !important; }\n"
            "}\n"
            "[data-ogsc] .pw-card { background:#1e1e1e !important; color:#e6e6e6 !important; }\n"
            "[data-ogsc] .pw-muted { color:#a0a0a0 !important; }\n"
            "[data-ogsc] .pw-link { color:#7cb7ff !important; }\n"_qs;
        // %1 the system font stack, %2 the archive link, %3 the unsubscribe link.
        const QString expected =
            (u"<!DOCTYPE html>\n<html lang=\"en\" xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
             "<meta charset=\"utf-8\">\n"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
             "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n"
             "<meta name=\"color-scheme\" content=\"light dark\">\n"
             "<meta name=\"supported-color-schemes\" content=\"light dark\">\n"
             "<meta name=\"x-apple-disable-message-reformatting\">\n"
             "<title>Hello Ann</title>\n<style>\n"_qs +
             styleSheet +
             u"</style>\n</head>\n"
             "<body class=\"pw-body\" style=\"margin:0;padding:0;background:#ffffff;\">\n"
             "<div style=\"display:none;font-size:1px;line-height:1px;max-height:0;max-width:0;"
             "opacity:0;overflow:hidden;mso-hide:all;\">Read this"_qs +
             u"&#847;&zwnj;&nbsp;"_qs.repeated(40) +
             u"</div>\n"
             "<table role=\"presentation\" class=\"pw-outer\" width=\"100%\" cellpadding=\"0\" "
             "cellspacing=\"0\" border=\"0\" style=\"background:#ffffff;\">\n"
             "<tr><td align=\"center\" style=\"padding:24px 12px;\">\n"
             "<table role=\"presentation\" class=\"pw-container\" width=\"600\" cellpadding=\"0\" "
             "cellspacing=\"0\" border=\"0\" style=\"width:600px;max-width:600px;\">\n"
             "<tr><td class=\"pw-muted\" style=\"padding:12px 20px;text-align:center;"
             "font-family:%1;font-size:12px;color:#6e7781;\"><a class=\"pw-link\" href=\"%2\" "
             "style=\"color:#6e7781;text-decoration:underline;\">View in browser</a></td></tr>\n"
             "<tr><td>\n<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" "
             "cellspacing=\"0\" border=\"0\" style=\"background:#ffffff;border:none;"
             "border-radius:0;\">\n"
             "\n<tr><td class=\"pw-card\" style=\"padding:24px 20px;background:#ffffff;"
             "font-family:%1;font-size:16px;line-height:1.6;color:#1f2328;\">\n"
             "<p style=\"margin:0 0 18px;\">Hi Ann,</p>\n"
             "<p style=\"margin:0 0 18px;\">See <a class=\"pw-link\" style=\"color:#0969da;"
             "text-decoration:underline;\" href=\"https://x.com\">site</a>.</p>\n"
             "\n</td></tr>\n</table>\n</td></tr>\n"
             "<tr><td class=\"pw-muted pw-footer\" style=\"padding:24px 20px 8px;text-align:center;"
             "font-family:%1;font-size:12px;line-height:1.6;color:#6e7781;\">\n"
             "<p style=\"margin:0 0 8px;\">You are receiving this because you subscribed to "
             "<strong>The Quiet Workshop</strong>.</p>\n"
             "<p style=\"margin:0 0 8px;\">The Quiet Workshop<br>1 Main St<br>Springfield</p>\n"
             "<p style=\"margin:0;\"><a class=\"pw-link\" href=\"%3\" "
             "style=\"color:#6e7781;text-decoration:underline;\">Unsubscribe</a> "
             "&nbsp;&middot;&nbsp; <a class=\"pw-link\" href=\"%2\" "
             "style=\"color:#6e7781;text-decoration:underline;\">View in browser</a></p>\n"
             "</td></tr>\n</table>\n</td></tr>\n</table>\n</body>\n</html>"_qs)
                .arg(kSystem, kArchive, kUnsubscribe);
        QCOMPARE(email.html, expected);
        QCOMPARE(email.text,
                 u"View in browser: %1\n\nHello Ann\n\nHi Ann,\n\nSee site (https://x.com).\n\n"
                 "--\nYou are receiving this because you subscribed to The Quiet Workshop.\n"
                 "The Quiet Workshop\n1 Main St\nSpringfield\nUnsubscribe: %2\n"_qs.arg(
                     kArchive, kUnsubscribe));
        QCOMPARE(email.subject, u"Hello Ann"_qs);
    }

    void mastheads() {
        const QString date = u"March 4, 2025"_qs; // 20:00 UTC is already the 4th in Auckland
        const QString editorial =
            TemplateRenderer::render(context(issue(EmailTemplate::editorial), reader(u"Ann"_qs)))
                .html;
        QVERIFY(editorial.contains(
            u"<tr><td class=\"pw-card\" style=\"padding:28px 40px 0;background:#ffffff;\">\n"
            "<div style=\"font-family:%1;font-size:12px;letter-spacing:0.14em;"
            "text-transform:uppercase;color:#c2410c;font-weight:700;\">The Quiet Workshop</div>\n"
            "<div class=\"pw-muted\" style=\"font-family:%1;font-size:13px;color:#6b6b6b;"
            "margin-top:4px;\">%2</div>\n<h1 style=\"font-family:%3;font-size:34px;"
            "line-height:1.2;color:#1a1a1a;margin:18px 0 0;font-weight:700;\">Hello Ann</h1>\n"
            "<div style=\"border-top:3px solid #1a1a1a;width:56px;margin-top:20px;font-size:0;"
            "line-height:0;\">&nbsp;</div>\n</td></tr>"_qs.arg(kSystem, date, kSerif)));
        QVERIFY(editorial.contains(u"border:1px solid #e5e5e2;border-radius:8px;"_qs));

        const RenderedEmail letter =
            TemplateRenderer::render(context(issue(EmailTemplate::letter), reader(u"Ann"_qs)));
        QVERIFY(letter.html.contains(
            u"<tr><td class=\"pw-card\" style=\"padding:40px 48px 0;background:#fffdf8;"
            "text-align:center;\">\n<div style=\"font-family:%1;font-size:15px;font-style:italic;"
            "color:#7a6f64;\">The Quiet Workshop</div>\n<div class=\"pw-muted\" style=\""
            "font-family:%1;font-size:13px;color:#7a6f64;margin-top:6px;\">%2</div>\n"
            "</td></tr>"_qs.arg(kSerif, date)));
        QVERIFY(letter.html.contains(
            u"</p>\n<p style=\"margin:28px 0 0;font-style:italic;\">Warmly,<br>Mara Ellison</p>\n"
            "</td></tr>"_qs));
        QVERIFY(letter.text.contains(u"\n\nWarmly,\nMara Ellison\n\n--\n"_qs));
        QVERIFY(letter.html.contains(u"border:1px solid #e8dfd0;border-radius:8px;"_qs));
        // Each look's page and card colours, type and spacing.
        QVERIFY(editorial.contains(u"padding:0;background:#f2f2f0;\">"_qs));
        QVERIFY(editorial.contains(u"style=\"padding:32px 40px;background:#ffffff;font-family:"_qs +
                                   kSystem +
                                   u";font-size:17px;line-height:1.65;color:#1a1a1a;"_qs));
        QVERIFY(letter.html.contains(u"padding:0;background:#f6f1e7;\">"_qs));
        QVERIFY(
            letter.html.contains(u"style=\"padding:44px 48px;background:#fffdf8;font-family:"_qs +
                                 kSerif + u";font-size:18px;line-height:1.7;color:#2b2622;"_qs));
        QVERIFY(letter.html.contains(u"style=\"color:#8a4b2a;text-decoration:underline;\""_qs));
    }

    void senderFallbacksAndSendDate() {
        // Without a sender name the letter has no sign-off; without a publication name the
        // sender's name stands in.
        RenderContext c = context(issue(EmailTemplate::letter), std::nullopt);
        c.profile.fromName.clear();
        const RenderedEmail unsigned_ = TemplateRenderer::render(c);
        QVERIFY(!unsigned_.html.contains(u"Warmly"_qs) && !unsigned_.text.contains(u"Warmly"_qs));

        c = context(issue(EmailTemplate::editorial), std::nullopt);
        c.profile.publicationName.clear();
        c.newsletter.sentAt = QDateTime(QDate(2025, 12, 31), QTime(9, 0), Qt::UTC);
        const RenderedEmail email = TemplateRenderer::render(c);
        QVERIFY(email.html.contains(u"font-weight:700;\">Mara Ellison</div>"_qs));
        QVERIFY(email.text.contains(u"subscribed to Mara Ellison.\nMara Ellison\n"_qs));
        QVERIFY(email.html.contains(u">December 31, 2025</div>"_qs));
        QVERIFY(!email.html.contains(u"March"_qs));
    }

    void readersAreMerged() {
        const RenderedEmail ann =
            TemplateRenderer::render(context(issue(), reader(u"  Ann <b> "_qs)));
        QVERIFY(ann.html.contains(u">Hi Ann &lt;b&gt;,</p>"_qs));
        QVERIFY(ann.text.contains(u"\nHi Ann <b>,\n"_qs));
        QCOMPARE(ann.subject, u"Hello Ann <b>"_qs);
        QVERIFY(ann.html.contains(u"<title>Hello Ann &lt;b&gt;</title>"_qs));

        const RenderedEmail nobody = TemplateRenderer::render(context(issue(), std::nullopt));
        QVERIFY(nobody.html.contains(u">Hi there,</p>"_qs));
        QVERIFY(nobody.text.contains(u"\nHi there,\n"_qs));
        const RenderedEmail unnamed = TemplateRenderer::render(context(issue(), reader(u" \n"_qs)));
        QVERIFY(unnamed.html.contains(u">Hi there,</p>"_qs));
    }

    void readerDataNeverBecomesMarkup() {
        Newsletter n = issue();
        n.markdown = u"Hi {{name}} ({{email}})\n\n`{{name}}` [x](https://x.com/?n={{NAME}})"_qs;
        const RenderedEmail email = TemplateRenderer::render(context(
            n, reader(u"*bold* [l](https://evil) PWXPLACEHOLDEREMAILX"_qs, u"a+b@x.co"_qs)));
        QVERIFY(email.html.contains(
            u">Hi *bold* [l](https://evil) PWXPLACEHOLDEREMAILX (a+b@x.co)</p>"_qs));
        QVERIFY(!email.html.contains(u"<em>"_qs));
        QVERIFY(!email.html.contains(u"https://evil\""_qs));
        QVERIFY(email.html.contains(u"<code style=\"font-family:Menlo,Consolas,monospace;"
                                    "font-size:0.9em;background:#f3f4f6;border-radius:4px;"
                                    "padding:1px 5px;\">*bold* [l](https://evil) "
                                    "PWXPLACEHOLDEREMAILX</code>"_qs));
        QVERIFY(
            email.text.contains(u"Hi *bold* [l](https://evil) PWXPLACEHOLDEREMAILX (a+b@x.co)"_qs));
        QVERIFY(!email.html.contains(u"PWXPLACEHOLDERNAMEX"_qs));
    }

    void substitute() {
        using TemplateRenderer::substitute;
        // Tags ignore case and inner spaces; unknown, empty, tripled and unclosed ones stay.
        QCOMPARE(substitute(u"{{NAME}} {{ email }} {{ Name }} {{unknown}} {{first_name}} {{}}"
                            "{{name}} {{{name}}} no tags {{name}} {{ Hi {{name"_qs,
                            u"Ann"_qs, u"a@b.co"_qs),
                 u"Ann a@b.co Ann {{unknown}} {{first_name}} {{}}Ann {{{name}}} no tags Ann {{ Hi "
                 "{{name"_qs);
        // Inserted text is not searched again.
        QCOMPARE(substitute(u"{{name}}"_qs, u"{{email}}"_qs, u"e"_qs), u"{{email}}"_qs);
    }

    void preheader() {
        const QString open = u"<div style=\"display:none;"_qs;
        Newsletter n = issue();
        n.previewText.clear();
        QVERIFY(!TemplateRenderer::render(context(n, std::nullopt)).html.contains(open));
        n.previewText = u"For {{name}} & co"_qs;
        const QString html = TemplateRenderer::render(context(n, reader(u"Ann"_qs))).html;
        QVERIFY(html.contains(u"mso-hide:all;\">For Ann &amp; co"_qs +
                              u"&#847;&zwnj;&nbsp;"_qs.repeated(40) + u"</div>"_qs));
        n.previewText = u"{{email}}"_qs;
        QVERIFY(!TemplateRenderer::render(context(n, std::nullopt)).html.contains(open));
    }

    void footerAndArchive() {
        RenderContext c = context(issue(), std::nullopt, false);
        c.profile.postalAddress.clear();
        const RenderedEmail email = TemplateRenderer::render(c);
        QVERIFY(!email.html.contains(u"View in browser"_qs));
        QVERIFY(!email.text.contains(u"View in browser"_qs));
        QVERIFY(email.text.startsWith(u"Hello there\n\n"_qs));
        QVERIFY(email.html.contains(u"<p style=\"margin:0 0 8px;\">The Quiet Workshop<br></p>"_qs));
        QVERIFY(email.text.endsWith(u"--\nYou are receiving this because you subscribed to The "
                                    "Quiet Workshop.\nThe Quiet Workshop\nUnsubscribe: "_qs +
                                    kUnsubscribe + u"\n"_qs));
        c.profile.postalAddress = u"A & B\r\n\r\n<Suite>\u2028Town"_qs;
        const RenderedEmail lines = TemplateRenderer::render(c);
        QVERIFY(lines.html.contains(
            u"The Quiet Workshop<br>A &amp; B<br>&lt;Suite&gt;<br>Town</p>"_qs));
        QVERIFY(lines.text.contains(u"\nA & B\n<Suite>\nTown\nUnsubscribe: "_qs));
    }

    void urlsAndNamesAreEscaped() {
        RenderContext c = context(issue(), std::nullopt);
        c.unsubscribeURL = QUrl(u"https://w.example.dev/u?a=1&b=2"_qs);
        c.profile.publicationName = u"A \"B\" & <C>"_qs;
        const RenderedEmail email = TemplateRenderer::render(c);
        QVERIFY(email.html.contains(u"href=\"https://w.example.dev/u?a=1&amp;b=2\""_qs));
        QVERIFY(email.html.contains(u"<strong>A &quot;B&quot; &amp; &lt;C&gt;</strong>"_qs));
        QVERIFY(email.text.contains(u"subscribed to A \"B\" & <C>."_qs));
    }

    void styleRules() {
        const QString fragment =
            u"<h1>a</h1>\n<h2>b</h2>\n<h3>c</h3>\n<h4>d</h4>\n<h5>e</h5>\n"
            "<h6>f</h6>\n<p><code>x</code> <a href=\"https://x\">l</a> "
            "<img src=\"https://i\" alt=\"\"></p>\n"
            "<pre><code class=\"language-c\">y</code></pre>\n<pre><code>z</code></pre>\n"
            "<blockquote>\n<ul>\n<li>i</li>\n</ul>\n<ol>\n<li>j</li>\n</ol>\n"
            "<ol start=\"3\">\n<li>k</li>\n</ol>\n</blockquote>\n<hr>"_qs;
        const Theme& t = TemplateRenderer::theme(EmailTemplate::editorial);
        const QString h =
            u"font-family:"_qs + kSerif + u";color:#1a1a1a;line-height:1.3;margin:28px 0 12px;"_qs;
        const QString pre =
            u"<pre style=\"background:#f5f5f4;border-radius:6px;padding:14px 16px;"
            "overflow-x:auto;margin:0 0 18px;font-size:14px;line-height:1.5;\">"
            "<code style=\"font-family:Menlo,Consolas,monospace;color:#1a1a1a;\""_qs;
        // %1 every heading's common style, %2 a code block's opening.
        const QString expected =
            u"<h1 style=\"%1font-size:30px;\">a</h1>\n<h2 style=\"%1font-size:24px;\">b</h2>\n"
            "<h3 style=\"%1font-size:20px;\">c</h3>\n<h4 style=\"%1font-size:18px;\">d</h4>\n"
            "<h5 style=\"%1font-size:16px;\">e</h5>\n<h6 style=\"%1font-size:14px;"
            "text-transform:uppercase;letter-spacing:0.05em;\">f</h6>\n"
            "<p style=\"margin:0 0 18px;\"><code style=\"font-family:Menlo,Consolas,monospace;"
            "font-size:0.9em;background:#f5f5f4;border-radius:4px;padding:1px 5px;\">x</code> "
            "<a class=\"pw-link\" style=\"color:#c2410c;text-decoration:underline;\" "
            "href=\"https://x\">l</a> <img style=\"max-width:100%;height:auto;border:0;"
            "display:block;margin:0 auto 18px;border-radius:4px;\" src=\"https://i\" alt=\"\">"
            "</p>\n%2 class=\"language-c\">y</code></pre>\n%2>z</code></pre>\n"
            "<blockquote style=\"margin:0 0 18px;padding:4px 0 4px 18px;border-left:3px solid "
            "#c2410c;color:#6b6b6b;font-style:italic;\">\n"
            "<ul style=\"margin:0 0 18px;padding-left:24px;\">\n<li style=\"margin:0 0 "
            "6px;\">i</li>\n"
            "</ul>\n<ol style=\"margin:0 0 18px;padding-left:24px;\">\n"
            "<li style=\"margin:0 0 6px;\">j</li>\n</ol>\n"
            "<ol style=\"margin:0 0 18px;padding-left:24px;\" start=\"3\">\n"
            "<li style=\"margin:0 0 6px;\">k</li>\n</ol>\n</blockquote>\n"
            "<hr style=\"border:0;border-top:1px solid #e5e5e2;margin:28px 0;\">"_qs.arg(h, pre);
        QCOMPARE(TemplateRenderer::styleHTML(fragment, t), expected);
    }
};

QTEST_APPLESS_MAIN(TestTemplateRenderer)
#include "tst_template_renderer.moc"
