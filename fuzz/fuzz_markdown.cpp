// Parse and render arbitrary text as the editor does on every keystroke. Besides crashes,
// sanitizer reports and time-outs, it aborts when the production parser or renderer disagrees
// with the plain reference reading, or the fast cluster split with QTextBoundaryFinder.

#include "reference_markdown.h"
#include "render/grapheme_clusters.h"
#include "render/markdown_renderer.h"
#include "render/md_block_parser.h"
#include "render/md_inline_parser.h"
#include "render/template_renderer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quillmere;

namespace {

// The reference recurses and rescans; keep it to inputs it handles quickly.
constexpr qsizetype kReferenceLimit = 400;

[[noreturn]] void mismatch(const char* what, const QString& input) {
    std::fprintf(stderr, "mismatch in %s for input of %lld code units\n", what,
                 static_cast<long long>(input.size()));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const QList<MDBlock> blocks = MDBlockParser::parse(text);
    const QString html = MarkdownRenderer::html(blocks);
    const QString plain = MarkdownRenderer::plainText(blocks);
    const QList<MDInline> inlines = MDInlineParser::parse(text, size % 2 == 0);
    const QString inlineHTML = MarkdownRenderer::inlineHTML(inlines);
    const QString inlinePlain = MDInlineParser::plainText(inlines);

    if (MarkdownRenderer::html(text) != html) {
        mismatch("one-pass HTML rendering", text);
    }
    if (GraphemeClusters::boundaries(text) != GraphemeClusters::boundariesByFinder(text)) {
        mismatch("grapheme clusters", text);
    }
    if (text.size() <= kReferenceLimit) {
        const QList<MDBlock> expected = reference::parseBlocks(text);
        if (!sameBlocks(blocks, expected)) {
            mismatch("block parser", text);
        }
        if (html != reference::html(blocks)) {
            mismatch("HTML rendering", text);
        }
        if (plain != reference::plainText(blocks)) {
            mismatch("plain-text rendering", text);
        }
        if (!sameInlines(inlines, reference::parseInline(text, size % 2 == 0))) {
            mismatch("inline parser", text);
        }
    }
    // Escaped user text never opens a tag: every "<" in the fragment starts one of ours.
    static const QStringList tags = {
        QStringLiteral("<h"),           QStringLiteral("</h"),
        QStringLiteral("<p>"),          QStringLiteral("</p>"),
        QStringLiteral("<pre>"),        QStringLiteral("</pre>"),
        QStringLiteral("<code"),        QStringLiteral("</code>"),
        QStringLiteral("<blockquote>"), QStringLiteral("</blockquote>"),
        QStringLiteral("<ul>"),         QStringLiteral("</ul>"),
        QStringLiteral("<ol"),          QStringLiteral("</ol>"),
        QStringLiteral("<li>"),         QStringLiteral("</li>"),
        QStringLiteral("<hr>"),         QStringLiteral("<strong>"),
        QStringLiteral("</strong>"),    QStringLiteral("<em>"),
        QStringLiteral("</em>"),        QStringLiteral("<del>"),
        QStringLiteral("</del>"),       QStringLiteral("<a href=\""),
        QStringLiteral("</a>"),         QStringLiteral("<img src=\""),
        QStringLiteral("<br>")};
    for (const QString* rendered : {&html, &inlineHTML}) {
        qsizetype at = 0;
        while ((at = rendered->indexOf(u'<', at)) >= 0) {
            bool known = false;
            for (const QString& tag : tags) {
                if (QStringView(*rendered).mid(at).startsWith(tag)) {
                    known = true;
                    break;
                }
            }
            if (!known) {
                mismatch("escaping", text);
            }
            ++at;
        }
    }
    Q_UNUSED(inlinePlain);

    // The issue-level preparation gives a reader exactly the straight rendering, whatever the
    // issue and the reader's name hold.
    if (text.size() <= kReferenceLimit) {
        Newsletter issue;
        issue.subject = text.left(40);
        issue.previewText = text.mid(40, 20);
        issue.markdown = text;
        issue.emailTemplate = static_cast<EmailTemplate>(size % 3);
        issue.createdAt = QDateTime::fromSecsSinceEpoch(1741079100, Qt::UTC);
        SenderProfile profile;
        profile.publicationName = text.right(10);
        profile.fromName = text.mid(5, 10);
        profile.postalAddress = text.mid(10, 30);
        Subscriber reader;
        reader.name = text.right(15);
        reader.email = text.mid(20, 15);
        const QUrl unsubscribe(QStringLiteral("https://w.example.dev/unsubscribe?t=x"));
        const std::optional<QUrl> archive =
            size % 2 ? std::optional<QUrl>(QUrl(QStringLiteral("https://w.example.dev/a")))
                     : std::nullopt;
        const RenderContext context{issue, profile, reader, unsubscribe, archive};
        const TemplateRenderer::PreparedIssue prepared(issue, profile, archive);
        if (!(prepared.render(reader, unsubscribe) == TemplateRenderer::render(context))) {
            mismatch("prepared issue", text);
        }
    }
    return 0;
}
