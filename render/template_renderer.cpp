#include "render/template_renderer.h"

#include "render/markdown_renderer.h"
#include "render/md_block_parser.h"

#include <QLocale>

namespace quillmere::TemplateRenderer {

namespace {

const QString kSystemFont =
    QStringLiteral("-apple-system,BlinkMacSystemFont,'Segoe UI',Helvetica,Arial,sans-serif");
const QString kSerifFont = QStringLiteral("Georgia,'Times New Roman',Times,serif");

// Reserved inside the renderer: the body is parsed with these in place of the reader's data, so
// a name holding "*" or "[" can never become formatting or a link.
const QString kNamePlaceholder = QStringLiteral("PWXPLACEHOLDERNAMEX");
const QString kEmailPlaceholder = QStringLiteral("PWXPLACEHOLDEREMAILX");

const QString kStyleSheet = QStringLiteral(
    ":root { color-scheme: light dark; supported-color-schemes: light dark; }\n"
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
    "[data-ogsc] .pw-link { color:#7cb7ff !important; }\n");

const QString kPreheaderFiller = QStringLiteral("&#847;&zwnj;&nbsp;").repeated(40);

// Marks where reader data goes when an issue is prepared once for many readers. They are
// Unicode non-characters; an issue that contains them is rendered the straight way instead.
constexpr char16_t kSlotMark = 0xFDD0;
constexpr char16_t kSlotEnd = 0xFDD1;

Theme makeTheme(const char* outerBG, const char* cardBG, const char* text, const char* muted,
                const char* accent, const char* rule, const QString& bodyFont,
                const QString& headingFont, const char* fontSize, const char* lineHeight,
                const char* cardPadding, const char* cardBorder, Theme::Masthead masthead,
                const char* codeBG) {
    return Theme{QString::fromLatin1(outerBG),
                 QString::fromLatin1(cardBG),
                 QString::fromLatin1(text),
                 QString::fromLatin1(muted),
                 QString::fromLatin1(accent),
                 QString::fromLatin1(rule),
                 bodyFont,
                 headingFont,
                 QString::fromLatin1(fontSize),
                 QString::fromLatin1(lineHeight),
                 QString::fromLatin1(cardPadding),
                 QString::fromLatin1(cardBorder),
                 masthead,
                 QString::fromLatin1(codeBG)};
}

// The reader's name for greetings and their address for "{{email}}".
struct Reader {
    QString name;
    QString email;
};

Reader readerOf(const std::optional<Subscriber>& recipient) {
    Reader r;
    if (recipient) {
        r.name = recipient->name.trimmed();
        r.email = recipient->email;
    }
    if (r.name.isEmpty()) {
        r.name = QStringLiteral("there");
    }
    return r;
}

QString displayNameOf(const SenderProfile& profile) {
    return profile.publicationName.isEmpty() ? profile.fromName : profile.publicationName;
}

QString dateText(const Newsletter& n) {
    const QDateTime date = n.sentAt.value_or(n.createdAt);
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("MMMM d, yyyy"));
}

bool isNewlineChar(QChar c) {
    const char16_t u = c.unicode();
    return u == u'\n' || u == u'\r' || u == 0x0B || u == 0x0C || u == 0x85 || u == 0x2028 ||
           u == 0x2029;
}

QStringList addressLines(const QString& postalAddress) {
    QStringList lines;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= postalAddress.size(); ++i) {
        if (i == postalAddress.size() || isNewlineChar(postalAddress[i])) {
            const QString piece = postalAddress.mid(from, i - from).trimmed();
            if (!piece.isEmpty()) {
                lines.append(piece);
            }
            from = i + 1;
        }
    }
    return lines;
}

// Puts the reader's data in place of the two placeholders in one pass, so text inserted for one
// is never searched for the other.
QString fillPlaceholders(const QString& text, const QString& name, const QString& email) {
    if (!text.contains(QLatin1String("PWXPLACEHOLDER"))) {
        return text;
    }
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (true) {
        const qsizetype at = text.indexOf(QLatin1String("PWXPLACEHOLDER"), from);
        if (at < 0) {
            out += QStringView(text).mid(from);
            return out;
        }
        out += QStringView(text).mid(from, at - from);
        if (QStringView(text).mid(at).startsWith(kNamePlaceholder)) {
            out += name;
            from = at + kNamePlaceholder.size();
        } else if (QStringView(text).mid(at).startsWith(kEmailPlaceholder)) {
            out += email;
            from = at + kEmailPlaceholder.size();
        } else {
            out += QLatin1String("PWXPLACEHOLDER");
            from = at + 14;
        }
    }
}

QString preheaderHTML(const QString& mergedPreview) {
    if (mergedPreview.isEmpty()) {
        return QString();
    }
    return QStringLiteral("<div style=\"display:none;font-size:1px;line-height:1px;max-height:0;"
                          "max-width:0;opacity:0;overflow:hidden;mso-hide:all;\">") +
           MarkdownRenderer::escapeHTML(mergedPreview) + kPreheaderFiller +
           QStringLiteral("</div>");
}

// The reader-dependent pieces of a document, already in their final (escaped) form.
struct ReaderParts {
    QString subjectHTML;
    QString preheader;
    QString body;
    QString unsubscribeHTML;
};

QString buildDocument(const Theme& t, const Newsletter& n, const SenderProfile& profile,
                      const std::optional<QUrl>& archiveURL, const ReaderParts& reader) {
    using MarkdownRenderer::escapeHTML;
    const QString displayName = escapeHTML(displayNameOf(profile));
    const std::optional<QString> archive =
        archiveURL ? std::optional<QString>(escapeHTML(urlText(*archiveURL))) : std::nullopt;
    const QString date = escapeHTML(dateText(n));

    QString topRow;
    if (archive) {
        topRow = QStringLiteral("<tr><td class=\"pw-muted\" style=\"padding:12px 20px;"
                                "text-align:center;font-family:") +
                 kSystemFont + QStringLiteral(";font-size:12px;color:") + t.muted +
                 QStringLiteral(";\"><a class=\"pw-link\" href=\"") + *archive +
                 QStringLiteral("\" style=\"color:") + t.muted +
                 QStringLiteral(";text-decoration:underline;\">View in browser</a></td></tr>");
    }

    QString masthead;
    if (t.masthead == Theme::Masthead::editorial) {
        masthead =
            QStringLiteral("<tr><td class=\"pw-card\" style=\"padding:28px 40px 0;background:") +
            t.cardBG + QStringLiteral(";\">\n<div style=\"font-family:") + kSystemFont +
            QStringLiteral(";font-size:12px;letter-spacing:0.14em;text-transform:uppercase;"
                           "color:") +
            t.accent + QStringLiteral(";font-weight:700;\">") + displayName +
            QStringLiteral("</div>\n<div class=\"pw-muted\" style=\"font-family:") + kSystemFont +
            QStringLiteral(";font-size:13px;color:") + t.muted +
            QStringLiteral(";margin-top:4px;\">") + date +
            QStringLiteral("</div>\n<h1 style=\"font-family:") + t.headingFont +
            QStringLiteral(";font-size:34px;line-height:1.2;color:") + t.text +
            QStringLiteral(";margin:18px 0 0;font-weight:700;\">") + reader.subjectHTML +
            QStringLiteral("</h1>\n<div style=\"border-top:3px solid ") + t.text +
            QStringLiteral(";width:56px;margin-top:20px;font-size:0;line-height:0;\">&nbsp;"
                           "</div>\n</td></tr>");
    } else if (t.masthead == Theme::Masthead::letter) {
        masthead =
            QStringLiteral("<tr><td class=\"pw-card\" style=\"padding:40px 48px 0;background:") +
            t.cardBG + QStringLiteral(";text-align:center;\">\n<div style=\"font-family:") +
            kSerifFont + QStringLiteral(";font-size:15px;font-style:italic;color:") + t.muted +
            QStringLiteral(";\">") + displayName +
            QStringLiteral("</div>\n<div class=\"pw-muted\" style=\"font-family:") + kSerifFont +
            QStringLiteral(";font-size:13px;color:") + t.muted +
            QStringLiteral(";margin-top:6px;\">") + date + QStringLiteral("</div>\n</td></tr>");
    }

    QString signOff;
    if (t.masthead == Theme::Masthead::letter && !profile.fromName.isEmpty()) {
        signOff = QStringLiteral("<p style=\"margin:28px 0 0;font-style:italic;\">Warmly,<br>") +
                  escapeHTML(profile.fromName) + QStringLiteral("</p>");
    }

    QStringList escapedLines;
    for (const QString& line : addressLines(profile.postalAddress)) {
        escapedLines.append(escapeHTML(line));
    }
    const QString linkStyle =
        QStringLiteral("color:") + t.muted + QStringLiteral(";text-decoration:underline;");
    QString links = QStringLiteral("<a class=\"pw-link\" href=\"") + reader.unsubscribeHTML +
                    QStringLiteral("\" style=\"") + linkStyle +
                    QStringLiteral("\">Unsubscribe</a>");
    if (archive) {
        links += QStringLiteral(" &nbsp;&middot;&nbsp; <a class=\"pw-link\" href=\"") + *archive +
                 QStringLiteral("\" style=\"") + linkStyle +
                 QStringLiteral("\">View in browser</a>");
    }
    const QString footer =
        QStringLiteral("<tr><td class=\"pw-muted pw-footer\" style=\"padding:24px 20px 8px;"
                       "text-align:center;font-family:") +
        kSystemFont + QStringLiteral(";font-size:12px;line-height:1.6;color:") + t.muted +
        QStringLiteral(";\">\n<p style=\"margin:0 0 8px;\">You are receiving this because you "
                       "subscribed to <strong>") +
        displayName + QStringLiteral("</strong>.</p>\n<p style=\"margin:0 0 8px;\">") +
        displayName + QStringLiteral("<br>") + escapedLines.join(QStringLiteral("<br>")) +
        QStringLiteral("</p>\n<p style=\"margin:0;\">") + links +
        QStringLiteral("</p>\n</td></tr>");

    QString doc;
    doc.reserve(8192 + reader.body.size());
    doc += QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\" xmlns=\"http://www.w3.org/1999/xhtml\">\n<head>\n"
        "<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">\n"
        "<meta name=\"color-scheme\" content=\"light dark\">\n"
        "<meta name=\"supported-color-schemes\" content=\"light dark\">\n"
        "<meta name=\"x-apple-disable-message-reformatting\">\n<title>");
    doc += reader.subjectHTML;
    doc += QStringLiteral("</title>\n<style>\n");
    doc += kStyleSheet;
    doc += QStringLiteral("</style>\n</head>\n<body class=\"pw-body\" style=\"margin:0;"
                          "padding:0;background:") +
           t.outerBG + QStringLiteral(";\">\n");
    doc += reader.preheader;
    doc += QStringLiteral("\n<table role=\"presentation\" class=\"pw-outer\" width=\"100%\" "
                          "cellpadding=\"0\" cellspacing=\"0\" border=\"0\" "
                          "style=\"background:") +
           t.outerBG +
           QStringLiteral(";\">\n<tr><td align=\"center\" style=\"padding:24px 12px;\">\n"
                          "<table role=\"presentation\" class=\"pw-container\" width=\"600\" "
                          "cellpadding=\"0\" cellspacing=\"0\" border=\"0\" "
                          "style=\"width:600px;max-width:600px;\">\n");
    doc += topRow;
    doc += QStringLiteral("\n<tr><td>\n<table role=\"presentation\" width=\"100%\" "
                          "cellpadding=\"0\" cellspacing=\"0\" border=\"0\" "
                          "style=\"background:") +
           t.cardBG + QStringLiteral(";border:") + t.cardBorder +
           QStringLiteral(";border-radius:") +
           (t.masthead != Theme::Masthead::none ? QStringLiteral("8px") : QStringLiteral("0")) +
           QStringLiteral(";\">\n");
    doc += masthead;
    doc += QStringLiteral("\n<tr><td class=\"pw-card\" style=\"padding:") + t.cardPadding +
           QStringLiteral(";background:") + t.cardBG + QStringLiteral(";font-family:") +
           t.bodyFont + QStringLiteral(";font-size:") + t.fontSize +
           QStringLiteral(";line-height:") + t.lineHeight + QStringLiteral(";color:") + t.text +
           QStringLiteral(";\">\n");
    doc += reader.body;
    doc += u'\n';
    doc += signOff;
    doc += QStringLiteral("\n</td></tr>\n</table>\n</td></tr>\n");
    doc += footer;
    doc += QStringLiteral("\n</table>\n</td></tr>\n</table>\n</body>\n</html>");
    return doc;
}

QString buildText(const Newsletter& n, const SenderProfile& profile,
                  const std::optional<QUrl>& archiveURL, const QString& subject,
                  const QString& body, const QString& unsubscribe) {
    QStringList sections;
    if (archiveURL) {
        sections.append(QStringLiteral("View in browser: ") + urlText(*archiveURL));
    }
    sections.append(subject);
    sections.append(body);
    if (theme(n.emailTemplate).masthead == Theme::Masthead::letter && !profile.fromName.isEmpty()) {
        sections.append(QStringLiteral("Warmly,\n") + profile.fromName);
    }
    const QString displayName = displayNameOf(profile);
    QStringList footer;
    footer.append(QStringLiteral("--"));
    footer.append(QStringLiteral("You are receiving this because you subscribed to ") +
                  displayName + u'.');
    footer.append(displayName);
    footer.append(addressLines(profile.postalAddress));
    footer.append(QStringLiteral("Unsubscribe: ") + unsubscribe);
    sections.append(footer.join(u'\n'));
    return sections.join(QStringLiteral("\n\n")) + u'\n';
}

bool holdsSlotMarks(const QString& s) {
    return s.contains(QChar(kSlotMark)) || s.contains(QChar(kSlotEnd));
}

QString slotText(char16_t which) {
    return QString(QChar(kSlotMark)) + QChar(which) + QChar(kSlotEnd);
}

} // namespace

const Theme& theme(EmailTemplate emailTemplate) {
    static const Theme plain = makeTheme("#ffffff", "#ffffff", "#1f2328", "#6e7781", "#0969da",
                                         "#d8dee4", kSystemFont, kSystemFont, "16px", "1.6",
                                         "24px 20px", "none", Theme::Masthead::none, "#f3f4f6");
    static const Theme editorial = makeTheme(
        "#f2f2f0", "#ffffff", "#1a1a1a", "#6b6b6b", "#c2410c", "#e5e5e2", kSystemFont, kSerifFont,
        "17px", "1.65", "32px 40px", "1px solid #e5e5e2", Theme::Masthead::editorial, "#f5f5f4");
    static const Theme letter = makeTheme(
        "#f6f1e7", "#fffdf8", "#2b2622", "#7a6f64", "#8a4b2a", "#e8dfd0", kSerifFont, kSerifFont,
        "18px", "1.7", "44px 48px", "1px solid #e8dfd0", Theme::Masthead::letter, "#f3ece0");
    switch (emailTemplate) {
    case EmailTemplate::plain:
        return plain;
    case EmailTemplate::editorial:
        return editorial;
    case EmailTemplate::letter:
        return letter;
    }
    return editorial;
}

QString urlText(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded);
}

QString substitute(const QString& text, const QString& name, const QString& email) {
    if (!text.contains(QLatin1String("{{"))) {
        return text;
    }
    QString out;
    out.reserve(text.size() + 16);
    qsizetype pos = 0;
    while (true) {
        const qsizetype open = text.indexOf(QLatin1String("{{"), pos);
        if (open < 0) {
            out += QStringView(text).mid(pos);
            break;
        }
        out += QStringView(text).mid(pos, open - pos);
        const qsizetype close = text.indexOf(QLatin1String("}}"), open + 2);
        if (close < 0) {
            out += QStringView(text).mid(open);
            break;
        }
        const QString key = text.mid(open + 2, close - open - 2).trimmed().toLower();
        if (key == QLatin1String("name")) {
            out += name;
        } else if (key == QLatin1String("email")) {
            out += email;
        } else {
            out += QStringView(text).mid(open, close + 2 - open);
        }
        pos = close + 2;
    }
    return out;
}

QString styleHTML(const QString& fragment, const Theme& t) {
    const QString h = QStringLiteral("font-family:") + t.headingFont + QStringLiteral(";color:") +
                      t.text + QStringLiteral(";line-height:1.3;margin:28px 0 12px;");
    const std::pair<QString, QString> rules[] = {
        {QStringLiteral("<pre><code"),
         QStringLiteral("<pre style=\"background:") + t.codeBG +
             QStringLiteral(";border-radius:6px;padding:14px 16px;overflow-x:auto;margin:0 0 "
                            "18px;font-size:14px;line-height:1.5;\"><code style=\"font-family:"
                            "Menlo,Consolas,monospace;color:") +
             t.text + QStringLiteral(";\"")},
        {QStringLiteral("<code>"),
         QStringLiteral("<code style=\"font-family:Menlo,Consolas,monospace;font-size:0.9em;"
                        "background:") +
             t.codeBG + QStringLiteral(";border-radius:4px;padding:1px 5px;\">")},
        {QStringLiteral("<p>"), QStringLiteral("<p style=\"margin:0 0 18px;\">")},
        {QStringLiteral("<h1>"),
         QStringLiteral("<h1 style=\"") + h + QStringLiteral("font-size:30px;\">")},
        {QStringLiteral("<h2>"),
         QStringLiteral("<h2 style=\"") + h + QStringLiteral("font-size:24px;\">")},
        {QStringLiteral("<h3>"),
         QStringLiteral("<h3 style=\"") + h + QStringLiteral("font-size:20px;\">")},
        {QStringLiteral("<h4>"),
         QStringLiteral("<h4 style=\"") + h + QStringLiteral("font-size:18px;\">")},
        {QStringLiteral("<h5>"),
         QStringLiteral("<h5 style=\"") + h + QStringLiteral("font-size:16px;\">")},
        {QStringLiteral("<h6>"),
         QStringLiteral("<h6 style=\"") + h +
             QStringLiteral("font-size:14px;text-transform:uppercase;letter-spacing:0.05em;\">")},
        {QStringLiteral("<a href="), QStringLiteral("<a class=\"pw-link\" style=\"color:") +
                                         t.accent +
                                         QStringLiteral(";text-decoration:underline;\" href=")},
        {QStringLiteral("<img "),
         QStringLiteral("<img style=\"max-width:100%;height:auto;border:0;display:block;"
                        "margin:0 auto 18px;border-radius:4px;\" ")},
        {QStringLiteral("<blockquote>"),
         QStringLiteral("<blockquote style=\"margin:0 0 18px;padding:4px 0 4px 18px;"
                        "border-left:3px solid ") +
             t.accent + QStringLiteral(";color:") + t.muted +
             QStringLiteral(";font-style:italic;\">")},
        {QStringLiteral("<ul>"),
         QStringLiteral("<ul style=\"margin:0 0 18px;padding-left:24px;\">")},
        {QStringLiteral("<ol>"),
         QStringLiteral("<ol style=\"margin:0 0 18px;padding-left:24px;\">")},
        {QStringLiteral("<ol start="),
         QStringLiteral("<ol style=\"margin:0 0 18px;padding-left:24px;\" start=")},
        {QStringLiteral("<li>"), QStringLiteral("<li style=\"margin:0 0 6px;\">")},
        {QStringLiteral("<hr>"), QStringLiteral("<hr style=\"border:0;border-top:1px solid ") +
                                     t.rule + QStringLiteral(";margin:28px 0;\">")},
    };
    // One pass from tag to tag, trying the rules in their order at each "<". It gives what
    // replacing each rule everywhere in turn would: the fragment's text is escaped, and no
    // replacement holds the start of a later rule's tag.
    QString out;
    out.reserve(fragment.size() * 2);
    const QStringView in(fragment);
    qsizetype copied = 0;
    qsizetype at = 0;
    while ((at = in.indexOf(u'<', at)) >= 0) {
        const QStringView rest = in.mid(at);
        bool replaced = false;
        for (const auto& [find, replacement] : rules) {
            if (rest.startsWith(find)) {
                out += in.mid(copied, at - copied);
                out += replacement;
                at += find.size();
                copied = at;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            ++at;
        }
    }
    out += in.mid(copied);
    return out;
}

RenderedEmail render(const RenderContext& context) {
    const Newsletter& n = context.newsletter;
    const Reader reader = readerOf(context.recipient);
    const QString subject = substitute(n.subject, reader.name, reader.email);
    const QString preview = substitute(n.previewText, reader.name, reader.email);
    const QString bodyMarkdown = substitute(n.markdown, kNamePlaceholder, kEmailPlaceholder);

    const QList<MDBlock> blocks = MDBlockParser::parse(bodyMarkdown);
    const QString fragment = fillPlaceholders(MarkdownRenderer::html(blocks, context.mediaBase),
                                              MarkdownRenderer::escapeHTML(reader.name),
                                              MarkdownRenderer::escapeHTML(reader.email));
    const QString plainBody =
        fillPlaceholders(MarkdownRenderer::plainText(blocks), reader.name, reader.email);

    const Theme& t = theme(n.emailTemplate);
    const QString unsubscribe = urlText(context.unsubscribeURL);
    ReaderParts parts;
    parts.subjectHTML = MarkdownRenderer::escapeHTML(subject);
    parts.preheader = preheaderHTML(preview);
    parts.body = styleHTML(fragment, t);
    parts.unsubscribeHTML = MarkdownRenderer::escapeHTML(unsubscribe);

    RenderedEmail email;
    email.html = buildDocument(t, n, context.profile, context.archiveURL, parts);
    email.text = buildText(n, context.profile, context.archiveURL, subject, plainBody, unsubscribe);
    email.subject = subject;
    return email;
}

PreparedIssue::PreparedIssue(const Newsletter& newsletter, const SenderProfile& profile,
                             const std::optional<QUrl>& archiveURL, const QString& mediaBase)
    : m_newsletter(newsletter) {
    const QString inputs[] = {newsletter.subject,  newsletter.previewText,
                              newsletter.markdown, profile.publicationName,
                              profile.fromName,    profile.postalAddress};
    for (const QString& s : inputs) {
        if (holdsSlotMarks(s)) {
            RenderContext c;
            c.newsletter = newsletter;
            c.profile = profile;
            c.archiveURL = archiveURL;
            c.mediaBase = mediaBase;
            m_fallback = std::move(c);
            return;
        }
    }
    const Newsletter& n = newsletter;
    m_subjectMerges = n.subject.contains(QLatin1String("{{"));
    if (!m_subjectMerges) {
        m_subject = n.subject;
        m_subjectHTML = MarkdownRenderer::escapeHTML(n.subject);
    }
    m_previewMerges = n.previewText.contains(QLatin1String("{{"));
    if (!m_previewMerges) {
        m_preheader = preheaderHTML(n.previewText);
    }

    const QString bodyMarkdown = substitute(n.markdown, kNamePlaceholder, kEmailPlaceholder);
    const QList<MDBlock> blocks = MDBlockParser::parse(bodyMarkdown);
    const Theme& t = theme(n.emailTemplate);
    m_bodyHTML = splitBody(styleHTML(MarkdownRenderer::html(blocks, mediaBase), t));
    m_bodyText = splitBody(MarkdownRenderer::plainText(blocks));

    ReaderParts marks;
    marks.subjectHTML = slotText(u's');
    marks.preheader = slotText(u'p');
    marks.body = slotText(u'b');
    marks.unsubscribeHTML = slotText(u'u');
    m_html = split(buildDocument(t, n, profile, archiveURL, marks));
    m_text =
        split(buildText(n, profile, archiveURL, slotText(u's'), slotText(u'b'), slotText(u'u')));
    for (const Piece& p : m_html) {
        m_htmlSize += p.literal.size();
    }
    for (const Piece& p : m_text) {
        m_textSize += p.literal.size();
    }
}

std::vector<PreparedIssue::Piece> PreparedIssue::split(const QString& built) {
    std::vector<Piece> pieces;
    qsizetype from = 0;
    while (true) {
        const qsizetype at = built.indexOf(QChar(kSlotMark), from);
        if (at < 0) {
            pieces.push_back({built.mid(from), std::nullopt});
            return pieces;
        }
        Slot slot;
        switch (built[at + 1].unicode()) {
        case u's':
            slot = Slot::subject;
            break;
        case u'p':
            slot = Slot::preheader;
            break;
        case u'b':
            slot = Slot::body;
            break;
        default:
            slot = Slot::unsubscribe;
            break;
        }
        pieces.push_back({built.mid(from, at - from), slot});
        from = at + 3;
    }
}

std::vector<PreparedIssue::BodyPiece> PreparedIssue::splitBody(const QString& body) {
    std::vector<BodyPiece> pieces;
    qsizetype from = 0;
    qsizetype scan = 0;
    while (true) {
        const qsizetype at = body.indexOf(QLatin1String("PWXPLACEHOLDER"), scan);
        if (at < 0) {
            pieces.push_back({body.mid(from), std::nullopt});
            return pieces;
        }
        const QStringView rest = QStringView(body).mid(at);
        if (rest.startsWith(kNamePlaceholder)) {
            pieces.push_back({body.mid(from, at - from), BodySlot::name});
            from = scan = at + kNamePlaceholder.size();
        } else if (rest.startsWith(kEmailPlaceholder)) {
            pieces.push_back({body.mid(from, at - from), BodySlot::email});
            from = scan = at + kEmailPlaceholder.size();
        } else {
            scan = at + 14;
        }
    }
}

RenderedEmail PreparedIssue::render(const std::optional<Subscriber>& recipient,
                                    const QUrl& unsubscribeURL) const {
    if (m_fallback) {
        RenderContext c = *m_fallback;
        c.recipient = recipient;
        c.unsubscribeURL = unsubscribeURL;
        return TemplateRenderer::render(c);
    }
    const Reader reader = readerOf(recipient);
    RenderedEmail email;
    if (m_subjectMerges) {
        email.subject = substitute(m_newsletter.subject, reader.name, reader.email);
    } else {
        email.subject = m_subject;
    }
    const QString subjectHTML =
        m_subjectMerges ? MarkdownRenderer::escapeHTML(email.subject) : m_subjectHTML;
    const QString preheader =
        m_previewMerges
            ? preheaderHTML(substitute(m_newsletter.previewText, reader.name, reader.email))
            : m_preheader;
    const QString nameHTML = MarkdownRenderer::escapeHTML(reader.name);
    const QString emailHTML = MarkdownRenderer::escapeHTML(reader.email);
    const QString unsubscribe = urlText(unsubscribeURL);
    const QString unsubscribeHTML = MarkdownRenderer::escapeHTML(unsubscribe);

    auto appendBody = [](QString& out, const std::vector<BodyPiece>& pieces, const QString& name,
                         const QString& mail) {
        for (const BodyPiece& p : pieces) {
            out += p.literal;
            if (p.slot) {
                out += *p.slot == BodySlot::name ? name : mail;
            }
        }
    };

    email.html.reserve(m_htmlSize + 4096);
    for (const Piece& p : m_html) {
        email.html += p.literal;
        if (!p.slot) {
            continue;
        }
        switch (*p.slot) {
        case Slot::subject:
            email.html += subjectHTML;
            break;
        case Slot::preheader:
            email.html += preheader;
            break;
        case Slot::body:
            appendBody(email.html, m_bodyHTML, nameHTML, emailHTML);
            break;
        case Slot::unsubscribe:
            email.html += unsubscribeHTML;
            break;
        }
    }
    email.text.reserve(m_textSize + 1024);
    for (const Piece& p : m_text) {
        email.text += p.literal;
        if (!p.slot) {
            continue;
        }
        switch (*p.slot) {
        case Slot::subject:
            email.text += email.subject;
            break;
        case Slot::body:
            appendBody(email.text, m_bodyText, reader.name, reader.email);
            break;
        case Slot::unsubscribe:
            email.text += unsubscribe;
            break;
        case Slot::preheader:
            break;
        }
    }
    return email;
}

} // namespace quillmere::TemplateRenderer
