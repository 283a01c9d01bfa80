#include "render/markdown_renderer.h"

#include "render/md_block_parser.h"
#include "render/md_inline_parser.h"

#include <vector>

namespace quillmere::MarkdownRenderer {

namespace {

bool needsEscape(char16_t u) {
    return u == u'&' || u == u'<' || u == u'>' || u == u'"' || u == u'\'';
}

void appendInline(QString& out, const QList<MDInline>& nodes, QStringView mediaBase) {
    struct Level {
        const QList<MDInline>* list;
        qsizetype index;
        QStringView closing;
    };
    std::vector<Level> stack;
    stack.push_back({&nodes, 0, QStringView()});
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.index == top.list->size()) {
            out += top.closing;
            stack.pop_back();
            continue;
        }
        const MDInline& n = (*top.list)[top.index++];
        switch (n.kind) {
        case MDInline::Kind::text:
            appendEscapedHTML(out, n.text);
            break;
        case MDInline::Kind::code:
            out += QStringView(u"<code>");
            appendEscapedHTML(out, n.text);
            out += QStringView(u"</code>");
            break;
        case MDInline::Kind::strong:
            out += QStringView(u"<strong>");
            stack.push_back({&n.children, 0, QStringView(u"</strong>")});
            break;
        case MDInline::Kind::emphasis:
            out += QStringView(u"<em>");
            stack.push_back({&n.children, 0, QStringView(u"</em>")});
            break;
        case MDInline::Kind::strike:
            out += QStringView(u"<del>");
            stack.push_back({&n.children, 0, QStringView(u"</del>")});
            break;
        case MDInline::Kind::link:
            if (n.url) {
                out += QStringView(u"<a href=\"");
                appendEscapedHTML(out, *n.url);
                out += QStringView(u"\">");
                stack.push_back({&n.children, 0, QStringView(u"</a>")});
            } else {
                stack.push_back({&n.children, 0, QStringView()});
            }
            break;
        case MDInline::Kind::image:
            // "media/<name>" is the only source that is not an http(s) address.
            if (n.url && (!n.url->startsWith(u'm') || !mediaBase.isEmpty())) {
                out += QStringView(u"<img src=\"");
                if (n.url->startsWith(u'm')) {
                    appendEscapedHTML(out, mediaBase);
                    out += u'/';
                }
                appendEscapedHTML(out, *n.url);
                out += QStringView(u"\" alt=\"");
                appendEscapedHTML(out, n.text);
                out += QStringView(u"\">");
            } else {
                appendEscapedHTML(out, n.text);
            }
            break;
        case MDInline::Kind::lineBreak:
            out += QStringView(u"<br>\n");
            break;
        case MDInline::Kind::softBreak:
            out += u'\n';
            break;
        }
    }
}

void appendCode(QString& out, const MDBlock& b) {
    out += QStringView(u"<pre><code");
    if (b.language) {
        out += QStringView(u" class=\"language-");
        appendEscapedHTML(out, *b.language);
        out += u'"';
    }
    out += u'>';
    appendEscapedHTML(out, b.text);
    out += QStringView(u"</code></pre>");
}

void appendListOpening(QString& out, const MDBlock& b) {
    if (!b.ordered) {
        out += QStringView(u"<ul>\n");
    } else if (b.start == 1) {
        out += QStringView(u"<ol>\n");
    } else {
        out += QStringView(u"<ol start=\"");
        out += QString::number(b.start);
        out += QStringView(u"\">\n");
    }
}

// Quotes and lists nest as deep as the input; an explicit stack keeps rendering off the call
// stack.
QString renderHTML(const QList<MDBlock>& blocks, qsizetype sourceSize, QStringView mediaBase) {
    struct Task {
        const QList<MDBlock>* blocks = nullptr; // a sequence of blocks...
        const MDBlock* list = nullptr;          // ...or the items of a list
        qsizetype index = 0;
        bool tight = false;   // the blocks of a tight list item
        QStringView suffix;   // written when the task ends,
        bool newline = false; // followed by a line end inside a tight item
    };
    QString out;
    // The fragment is usually a little longer than its Markdown.
    out.reserve(sourceSize + sourceSize / 4);
    std::vector<Task> stack;
    stack.push_back({&blocks, nullptr, 0, false, QStringView(), false});
    while (!stack.empty()) {
        Task& top = stack.back();
        if (top.list) {
            const MDBlock& l = *top.list;
            if (top.index == l.items.size()) {
                out += top.suffix;
                if (top.newline) {
                    out += u'\n';
                }
                stack.pop_back();
                continue;
            }
            if (top.index > 0) {
                out += u'\n';
            }
            const QList<MDBlock>* item = &l.items[top.index++];
            if (l.tight) {
                out += QStringView(u"<li>");
                stack.push_back({item, nullptr, 0, true, QStringView(u"</li>"), false});
            } else {
                out += QStringView(u"<li>\n");
                stack.push_back({item, nullptr, 0, false, QStringView(u"\n</li>"), false});
            }
            continue;
        }
        if (top.index == top.blocks->size()) {
            out += top.suffix;
            if (top.newline) {
                out += u'\n';
            }
            stack.pop_back();
            continue;
        }
        const bool tight = top.tight;
        if (!tight && top.index > 0) {
            out += u'\n';
        }
        const MDBlock& b = (*top.blocks)[top.index++];
        if (tight && b.kind == MDBlock::Kind::paragraph) {
            appendInline(out, b.inlines, mediaBase);
            continue;
        }
        if (tight) {
            out += u'\n';
        }
        const QStringView after = tight ? QStringView(u"\n") : QStringView();
        switch (b.kind) {
        case MDBlock::Kind::heading: {
            const QString level = QString::number(b.level);
            out += QStringView(u"<h");
            out += level;
            out += u'>';
            appendInline(out, b.inlines, mediaBase);
            out += QStringView(u"</h");
            out += level;
            out += u'>';
            out += after;
            break;
        }
        case MDBlock::Kind::paragraph:
            out += QStringView(u"<p>");
            appendInline(out, b.inlines, mediaBase);
            out += QStringView(u"</p>");
            out += after;
            break;
        case MDBlock::Kind::code:
            appendCode(out, b);
            out += after;
            break;
        case MDBlock::Kind::rule:
            out += QStringView(u"<hr>");
            out += after;
            break;
        case MDBlock::Kind::quote:
            out += QStringView(u"<blockquote>\n");
            stack.push_back(
                {&b.children, nullptr, 0, false, QStringView(u"\n</blockquote>"), tight});
            break;
        case MDBlock::Kind::list:
            appendListOpening(out, b);
            stack.push_back({nullptr, &b, 0, false,
                             b.ordered ? QStringView(u"\n</ol>") : QStringView(u"\n</ul>"), tight});
            break;
        }
    }
    return out;
}

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
    return renderHTML(MDBlockParser::parse(markdown), markdown.size(), {});
}

QString html(const QList<MDBlock>& blocks, QStringView mediaBase) {
    return renderHTML(blocks, 0, mediaBase);
}

QString plainText(const QString& markdown) {
    return renderPlain(MDBlockParser::parse(markdown));
}

QString plainText(const QList<MDBlock>& blocks) {
    return renderPlain(blocks);
}

QString inlineHTML(const QList<MDInline>& nodes) {
    QString out;
    appendInline(out, nodes, {});
    return out;
}

void appendEscapedHTML(QString& out, QStringView s) {
    const char16_t* u = s.utf16();
    const qsizetype n = s.size();
    qsizetype from = 0;
    for (qsizetype i = 0; i < n; ++i) {
        // '&' is the lowest of the five, '>' the highest below 0x80 except "'" and '"'.
        if (u[i] > u'>' || !needsEscape(u[i])) {
            continue;
        }
        out.append(s.mid(from, i - from));
        switch (u[i]) {
        case u'&':
            out += QStringView(u"&amp;");
            break;
        case u'<':
            out += QStringView(u"&lt;");
            break;
        case u'>':
            out += QStringView(u"&gt;");
            break;
        case u'"':
            out += QStringView(u"&quot;");
            break;
        default:
            out += QStringView(u"&#39;");
            break;
        }
        from = i + 1;
    }
    out.append(s.mid(from));
}

QString escapeHTML(QStringView s) {
    QString out;
    out.reserve(s.size());
    appendEscapedHTML(out, s);
    return out;
}

} // namespace quillmere::MarkdownRenderer
