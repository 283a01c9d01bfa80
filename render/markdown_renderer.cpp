#include "render/markdown_renderer.h"

#include "render/html_escape.h"
#include "render/md_block_parser.h"
#include "render/md_html_writer.h"
#include "render/md_inline_parser.h"

#include <vector>

namespace quillmere::MarkdownRenderer {

namespace {

void writeInline(MDHtmlWriter& w, const QList<MDInline>& nodes) {
    struct Level {
        const QList<MDInline>* list;
        qsizetype index;
        const MDInline* node; // whose children these are
    };
    std::vector<Level> stack;
    stack.push_back({&nodes, 0, nullptr});
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.index == top.list->size()) {
            if (top.node) {
                w.close(top.node->kind, top.node->url);
            }
            stack.pop_back();
            continue;
        }
        const MDInline& n = (*top.list)[top.index++];
        switch (n.kind) {
        case MDInline::Kind::text:
            w.text(n.text);
            break;
        case MDInline::Kind::code:
            w.code(QStringView(n.text));
            break;
        case MDInline::Kind::strong:
        case MDInline::Kind::emphasis:
        case MDInline::Kind::strike:
        case MDInline::Kind::link:
            w.open(n.kind, n.url);
            stack.push_back({&n.children, 0, &n});
            break;
        case MDInline::Kind::image:
            w.image(n.text, n.url);
            break;
        case MDInline::Kind::lineBreak:
            w.lineBreak();
            break;
        case MDInline::Kind::softBreak:
            w.softBreak();
            break;
        }
    }
}

// Quotes and lists nest as deep as the input; an explicit stack keeps rendering off the call
// stack.
void writeBlocks(MDHtmlWriter& w, const QList<MDBlock>& blocks) {
    struct Task {
        const QList<MDBlock>* blocks = nullptr; // a sequence of blocks...
        const MDBlock* list = nullptr;          // ...or the items of a list
        qsizetype index = 0;
        const MDBlock* owner = nullptr; // the quote, or the list of the item, holding them
    };
    std::vector<Task> stack;
    stack.push_back({&blocks, nullptr, 0, nullptr});
    while (!stack.empty()) {
        Task& top = stack.back();
        if (top.list) {
            const MDBlock& l = *top.list;
            if (top.index == l.items.size()) {
                w.endList();
                stack.pop_back();
                continue;
            }
            w.beginItem();
            stack.push_back({&l.items[top.index++], nullptr, 0, &l});
            continue;
        }
        if (top.index == top.blocks->size()) {
            if (top.owner && top.owner->kind == MDBlock::Kind::quote) {
                w.endQuote();
            } else if (top.owner) {
                w.endItem();
            }
            stack.pop_back();
            continue;
        }
        const MDBlock& b = (*top.blocks)[top.index++];
        switch (b.kind) {
        case MDBlock::Kind::heading:
            w.beginHeading(b.level);
            writeInline(w, b.inlines);
            w.endHeading(b.level);
            break;
        case MDBlock::Kind::paragraph:
            w.beginParagraph();
            writeInline(w, b.inlines);
            w.endParagraph();
            break;
        case MDBlock::Kind::code:
            w.code(b.language, b.text);
            break;
        case MDBlock::Kind::rule:
            w.rule();
            break;
        case MDBlock::Kind::quote:
            w.beginQuote();
            stack.push_back({&b.children, nullptr, 0, &b});
            break;
        case MDBlock::Kind::list:
            w.beginList(b.ordered, b.start, b.tight);
            stack.push_back({nullptr, &b, 0, nullptr});
            break;
        }
    }
}

// Writes each block as the parser meets it: no tree is built, and what is written is what the
// tree would render to.
class HTMLEvents : public MDBlockParser::Events {
public:
    explicit HTMLEvents(MDHtmlWriter& w)
        : m_w(w) {}

    void heading(int level, const QString& text) override {
        m_w.beginHeading(level);
        MDInlineParser::writeHTML(m_w, text, true);
        m_w.endHeading(level);
    }
    void paragraph(const QString& text) override {
        m_w.beginParagraph();
        MDInlineParser::writeHTML(m_w, text, true);
        m_w.endParagraph();
    }
    void code(const std::optional<QString>& language, const QString& text) override {
        m_w.code(language, text);
    }
    void rule() override { m_w.rule(); }
    void beginQuote() override { m_w.beginQuote(); }
    void endQuote() override { m_w.endQuote(); }
    void beginList(bool ordered, qint64 start, bool tight) override {
        m_w.beginList(ordered, start, tight);
    }
    void beginItem() override { m_w.beginItem(); }
    void endItem() override { m_w.endItem(); }
    void endList() override { m_w.endList(); }

private:
    MDHtmlWriter& m_w;
};

// Plain text is produced line by line: every line passes through the quotes and list items that
// hold it, innermost first. A quote turns an empty line into ">" and prefixes others with "> ";
// an item puts its marker before its first line and indents later non-empty ones. The prefix of
// all open levels is kept as one string and rebuilt only for levels whose first line is out.
class PlainWriter {
public:
    void pushQuote() { push(true, QString()); }
    void pushItem(const QString& marker) { push(false, marker); }

    void pop() {
        m_prefix.truncate(m_offsets.back());
        m_offsets.pop_back();
        m_levels.pop_back();
        m_pendingFrom = std::min(m_pendingFrom, m_levels.size());
    }

    void line(QStringView core) {
        size_t keep = m_levels.size();
        QStringView body = core;
        if (core.isEmpty()) {
            while (keep > 0) {
                const Level& l = m_levels[keep - 1];
                if (l.quote) {
                    body = u">";
                    --keep;
                    break;
                }
                if (m_pendingFrom <= keep - 1) {
                    body = l.marker;
                    --keep;
                    break;
                }
                --keep;
            }
        }
        if (m_any) {
            m_out += u'\n';
        }
        m_any = true;
        m_out +=
            QStringView(m_prefix).left(keep < m_levels.size() ? m_offsets[keep] : m_prefix.size());
        m_out += body;
        // Every item opened since the last line has now shown its marker.
        if (m_pendingFrom < m_levels.size()) {
            m_prefix.truncate(m_offsets[m_pendingFrom]);
            for (size_t j = m_pendingFrom; j < m_levels.size(); ++j) {
                m_offsets[j] = m_prefix.size();
                m_prefix += segment(j, false);
            }
        }
        m_pendingFrom = m_levels.size();
    }

    void text(QStringView t) {
        qsizetype from = 0;
        while (true) {
            const qsizetype nl = t.indexOf(u'\n', from);
            if (nl < 0) {
                line(t.mid(from));
                return;
            }
            line(t.mid(from, nl - from));
            from = nl + 1;
        }
    }

    QString take() { return std::move(m_out); }

private:
    struct Level {
        bool quote = false;
        QString marker;
    };

    QString segment(size_t j, bool pending) const {
        const Level& l = m_levels[j];
        if (l.quote) {
            return QStringLiteral("> ");
        }
        return pending ? l.marker : QString(l.marker.size(), u' ');
    }

    void push(bool quote, const QString& marker) {
        m_offsets.push_back(m_prefix.size());
        m_levels.push_back({quote, marker});
        m_prefix += segment(m_levels.size() - 1, true);
    }

    QString m_out;
    bool m_any = false;
    std::vector<Level> m_levels;
    std::vector<qsizetype> m_offsets;
    QString m_prefix;
    size_t m_pendingFrom = 0; // levels from here on have not shown their first line yet
};

QString renderPlain(const QList<MDBlock>& blocks) {
    struct Task {
        const QList<MDBlock>* blocks = nullptr;
        const MDBlock* list = nullptr;
        qsizetype index = 0;
        bool blankBetween = true; // blocks joined with an empty line
        bool lineIfEmpty = false; // an empty container still has one (empty) line
        bool popAfter = false;
    };
    PlainWriter w;
    std::vector<Task> stack;
    stack.push_back({&blocks, nullptr, 0, true, false, false});
    while (!stack.empty()) {
        Task& top = stack.back();
        if (top.list) {
            const MDBlock& l = *top.list;
            if (top.index == l.items.size()) {
                stack.pop_back();
                continue;
            }
            if (top.index > 0 && !l.tight) {
                w.line(QStringView());
            }
            const qsizetype k = top.index++;
            w.pushItem(l.ordered ? QString::number(l.start + k) + QStringLiteral(". ")
                                 : QStringLiteral("- "));
            stack.push_back({&l.items[k], nullptr, 0, !l.tight, true, true});
            continue;
        }
        if (top.index == top.blocks->size()) {
            if (top.blocks->isEmpty() && top.lineIfEmpty) {
                w.line(QStringView());
            }
            if (top.popAfter) {
                w.pop();
            }
            stack.pop_back();
            continue;
        }
        if (top.index > 0 && top.blankBetween) {
            w.line(QStringView());
        }
        const MDBlock& b = (*top.blocks)[top.index++];
        switch (b.kind) {
        case MDBlock::Kind::heading:
        case MDBlock::Kind::paragraph:
            w.text(MDInlineParser::plainText(b.inlines));
            break;
        case MDBlock::Kind::code: {
            qsizetype from = 0;
            while (true) {
                const qsizetype nl = b.text.indexOf(u'\n', from);
                const QStringView piece =
                    QStringView(b.text).mid(from, nl < 0 ? b.text.size() - from : nl - from);
                QString codeLine = QStringLiteral("    ");
                codeLine += piece;
                w.line(codeLine);
                if (nl < 0) {
                    break;
                }
                from = nl + 1;
            }
            break;
        }
        case MDBlock::Kind::rule:
            w.line(u"* * *");
            break;
        case MDBlock::Kind::quote:
            w.pushQuote();
            stack.push_back({&b.children, nullptr, 0, true, true, true});
            break;
        case MDBlock::Kind::list:
            stack.push_back({nullptr, &b, 0, true, false, false});
            break;
        }
    }
    return w.take();
}

} // namespace

QString html(const QString& markdown) {
    // The fragment is usually a little longer than its Markdown.
    MDHtmlWriter w(markdown.size() + markdown.size() / 4);
    HTMLEvents events(w);
    MDBlockParser::parse(markdown, events);
    return w.take();
}

QString html(const QList<MDBlock>& blocks, QStringView mediaBase) {
    MDHtmlWriter w(0, mediaBase);
    writeBlocks(w, blocks);
    return w.take();
}

QString plainText(const QString& markdown) {
    return renderPlain(MDBlockParser::parse(markdown));
}

QString plainText(const QList<MDBlock>& blocks) {
    return renderPlain(blocks);
}

QString inlineHTML(const QList<MDInline>& nodes) {
    MDHtmlWriter w;
    writeInline(w, nodes);
    return w.take();
}

void appendEscapedHTML(QString& out, QStringView s) {
    HTMLEscape::escape(s, [&](QStringView piece) { out += piece; });
}

QString escapeHTML(QStringView s) {
    QString out;
    out.reserve(s.size());
    appendEscapedHTML(out, s);
    return out;
}

} // namespace quillmere::MarkdownRenderer
