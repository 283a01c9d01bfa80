#pragma once

#include "core/email_template.h"
#include "render/render_context.h"
#include "render/rendered_email.h"

#include <vector>

namespace quillmere::TemplateRenderer {

// The look of one template, applied through inline styles.
struct Theme {
    enum class Masthead { none, editorial, letter };

    QString outerBG;
    QString cardBG;
    QString text;
    QString muted;
    QString accent;
    QString rule;
    QString bodyFont;
    QString headingFont;
    QString fontSize;
    QString lineHeight;
    QString cardPadding;
    QString cardBorder;
    Masthead masthead = Masthead::none;
    QString codeBG;

    bool operator==(const Theme&) const = default;
};

const Theme& theme(EmailTemplate emailTemplate);

// The whole email for the context's reader: merged subject, HTML document and plain text.
RenderedEmail render(const RenderContext& context);

// Replaces the merge tags "{{name}}" and "{{email}}" (any letter case, spaces inside the braces
// allowed); unknown tags and an unclosed "{{" stay as written.
QString substitute(const QString& text, const QString& name, const QString& email);

// Gives the bare tags of a rendered fragment the template's inline styles.
QString styleHTML(const QString& fragment, const Theme& theme);

// How a URL is written into the email.
QString urlText(const QUrl& url);

// Everything of one issue that does not depend on the reader, worked out once: rendering a
// reader from it gives exactly what render() gives for the same context, at the cost of joining
// a few pieces. Meant for sending one issue to many readers.
class PreparedIssue {
public:
    PreparedIssue(const Newsletter& newsletter, const SenderProfile& profile,
                  const std::optional<QUrl>& archiveURL, const QString& mediaBase = {});

    RenderedEmail render(const std::optional<Subscriber>& recipient,
                         const QUrl& unsubscribeURL) const;

private:
    enum class Slot { subject, preheader, body, unsubscribe };
    struct Piece {
        QString literal;
        std::optional<Slot> slot;
    };
    enum class BodySlot { name, email };
    struct BodyPiece {
        QString literal;
        std::optional<BodySlot> slot;
    };

    static std::vector<Piece> split(const QString& built);
    static std::vector<BodyPiece> splitBody(const QString& body);

    // Set when an input holds the marker characters the pieces are cut at; render() then takes
    // the straight path.
    std::optional<RenderContext> m_fallback;

    Newsletter m_newsletter;
    bool m_subjectMerges = false;
    QString m_subject;     // merged once when it holds no merge tag
    QString m_subjectHTML; // likewise, escaped
    bool m_previewMerges = false;
    QString m_preheader; // the preheader when the preview holds no merge tag
    std::vector<Piece> m_html;
    std::vector<Piece> m_text;
    std::vector<BodyPiece> m_bodyHTML;
    std::vector<BodyPiece> m_bodyText;
    qsizetype m_htmlSize = 0;
    qsizetype m_textSize = 0;
};

} // namespace quillmere::TemplateRenderer
