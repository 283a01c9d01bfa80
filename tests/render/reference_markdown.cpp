#include "reference_markdown.h"

#include "render/email_address.h"
#include "render/grapheme_clusters.h"
#include "render/markdown_renderer.h"
#include "render/md_inline_parser.h"

#include <QRegularExpression>

namespace quillmere::reference {

namespace {

const QString kHardBreak(QChar(0x1E));

bool isAsciiPunct(const QString& c) {
    return c.size() == 1 && QStringLiteral("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~").contains(c);
}

char32_t firstPoint(const QString& c) {
    return c.isEmpty() ? 0 : c.toUcs4().first();
}

bool isWS(const QString& c) {
    return QChar::isSpace(firstPoint(c));
}

bool isAlnum(const QString& c) {
    const char32_t p = firstPoint(c);
    return QChar::isLetter(p) || QChar::isNumber(p);
}

bool isNewline(const QString& c) {
    return c == u"\n" || c == u"\r" || c == u"\r\n";
}

QString withoutMailto(const QString& url) {
    return url.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) ? url.mid(7) : url;
}

template <class T>
QString joined(const QList<T>& nodes, QString (*render)(const T&), const QString& separator = {}) {
    QStringList parts;
    for (const T& n : nodes) {
        parts.append(render(n));
    }
    return parts.join(separator);
}

// Leaves hold only text and containers only children, so the two add up.
QString nodePlain(const MDInline& n) {
    const QString t = n.text + joined(n.children, nodePlain);
    const QString h = n.url ? withoutMailto(*n.url) : QString();
    if (n.kind == MDInline::Kind::lineBreak || n.kind == MDInline::Kind::softBreak) {
        return QStringLiteral("\n");
    }
    if (n.kind != MDInline::Kind::link || !n.url) {
        return t;
    }
    return !t.isEmpty() && t != h ? t + QStringLiteral(" (") + h + u')' : h;
}

QString wrap(const QString& tag, const QString& inner) {
    return u'<' + tag + u'>' + inner + QStringLiteral("</") + tag + u'>';
}

QString nodeHTML(const MDInline& n) {
    using MarkdownRenderer::escapeHTML;
    const QString inner = joined(n.children, nodeHTML);
    switch (n.kind) {
    case MDInline::Kind::text:
        return escapeHTML(n.text);
    case MDInline::Kind::code:
        return wrap(QStringLiteral("code"), escapeHTML(n.text));
    case MDInline::Kind::strong:
        return wrap(QStringLiteral("strong"), inner);
    case MDInline::Kind::emphasis:
        return wrap(QStringLiteral("em"), inner);
    case MDInline::Kind::strike:
        return wrap(QStringLiteral("del"), inner);
    case MDInline::Kind::link:
        return !n.url ? inner
                      : QStringLiteral("<a href=\"%1\">%2</a>").arg(escapeHTML(*n.url), inner);
    case MDInline::Kind::image:
        return !n.url ? escapeHTML(n.text)
                      : QStringLiteral("<img src=\"%1\" alt=\"%2\">")
                            .arg(escapeHTML(*n.url), escapeHTML(n.text));
    case MDInline::Kind::lineBreak:
        return QStringLiteral("<br>\n");
    case MDInline::Kind::softBreak:
        return QStringLiteral("\n");
    }
    return QString();
}

class Inline {
public:
    explicit Inline(const QString& text) {
        const std::vector<int> b = GraphemeClusters::boundariesByFinder(text);
        for (size_t i = 0; i + 1 < b.size(); ++i) {
            c.append(text.mid(b[i], b[i + 1] - b[i]));
        }
    }

    // Adjacent text nodes are merged at the end, so literal text is appended piece by piece.
    QList<MDInline> parse(int lo, int hi, bool allowLinks) {
        QList<MDInline> out;
        int i = lo;
        while (i < hi) {
            const int next = construct(i, hi, allowLinks, out);
            // A run of backticks or delimiters that opens nothing stays text as a whole.
            const int n = next >= 0 ? 0 : QStringLiteral("`*_~").contains(c[i]) ? run(i, hi) : 1;
            if (n > 0) {
                out.append(MDInline::makeText(join(i, i + n)));
            }
            i = next >= 0 ? next : i + n;
        }
        return MDInlineParser::mergeText(out);
    }

    int size() const { return int(c.size()); }

private:
    struct Parts {
        int textLo;
        int textHi;
        QString dest;
        int end;
    };

    // Appends what starts at i and returns where it ends, or -1 when nothing starts there.
    int construct(int i, int hi, bool allowLinks, QList<MDInline>& out) {
        const QString& ch = c[i];
        if (ch == u"\\" && i + 1 < hi && isAsciiPunct(c[i + 1])) {
            out.append(MDInline::makeText(c[i + 1]));
            return i + 2;
        }
        if (ch == kHardBreak || ch == u"\n") {
            out.append(ch == kHardBreak ? MDInline::makeLineBreak() : MDInline::makeSoftBreak());
            return i + 1;
        }
        if (ch == u"`") {
            const int n = run(i, hi);
            const int close = findClosing(i + n, n, hi);
            if (close < 0) {
                return -1;
            }
            QStringList parts = c.mid(i + n, close - i - n);
            for (QString& p : parts) {
                p = p == u"\n" || p == kHardBreak ? QStringLiteral(" ") : p;
            }
            if (parts.size() >= 2 && parts.first() == u" " && parts.last() == u" " &&
                parts.count(QStringLiteral(" ")) != parts.size()) {
                parts = parts.mid(1, parts.size() - 2);
            }
            out.append(MDInline::makeCode(parts.join(QString())));
            return close + n;
        }
        const bool image = ch == u"!" && i + 1 < hi && c[i + 1] == u"[";
        if (image || (ch == u"[" && allowLinks)) {
            const auto lp = linkParts(image ? i + 1 : i, hi);
            if (lp && image) {
                const QString alt = joined(parse(lp->textLo, lp->textHi, false), nodePlain);
                out.append(MDInline::makeImage(alt, MDInlineParser::imageURL(lp->dest)));
            } else if (lp) {
                QList<MDInline> children = parse(lp->textLo, lp->textHi, false);
                out.append(MDInline::makeLink(MDInlineParser::safeURL(lp->dest, true), children));
            }
            return lp ? lp->end : -1;
        }
        if (ch == u"<" && allowLinks) {
            return autolink(i, hi, out);
        }
        if (ch == u"*" || ch == u"_" || ch == u"~") {
            return delimiter(i, hi, allowLinks, out);
        }
        return -1;
    }

    int autolink(int i, int hi, QList<MDInline>& out) const {
        int j = i + 1;
        while (j < hi && c[j] != u">" && c[j] != u" " && c[j] != u"<" && !isNewline(c[j])) {
            ++j;
        }
        if (j >= hi || c[j] != u">" || j == i + 1) {
            return -1;
        }
        const QString content = join(i + 1, j);
        if (auto url = MDInlineParser::safeURL(content, true)) {
            out.append(MDInline::makeLink(url, {MDInline::makeText(withoutMailto(*url))}));
        } else if (EmailAddress::isValid(content)) {
            out.append(MDInline::makeLink(QStringLiteral("mailto:") + content,
                                          {MDInline::makeText(content)}));
        } else {
            return -1;
        }
        return j + 1;
    }

    QString join(int a, int b) const { return c.mid(a, b - a).join(QString()); }

    int run(int i, int hi) const {
        int k = i;
        while (k < hi && c[k] == c[i]) {
            ++k;
        }
        return k - i;
    }

    int findClosing(int k, int n, int hi) const {
        while (k < hi) {
            const int length = c[k] == u"`" ? run(k, hi) : 0;
            if (length == n) {
                return k;
            }
            k += std::max(length, 1);
        }
        return -1;
    }

    int skipCode(int k, int hi) const {
        const int length = run(k, hi);
        const int close = findClosing(k + length, length, hi);
        return close >= 0 ? close + length : k + length;
    }

    int skipSpaces(int k, int hi) const {
        while (k < hi && (c[k] == u" " || isNewline(c[k]))) {
            ++k;
        }
        return k;
    }

    std::optional<Parts> linkParts(int p, int hi) const {
        int depth = 0;
        int k = p;
        while (k < hi) {
            if (c[k] == u"\\" || c[k] == u"`") {
                k = c[k] == u"`" ? skipCode(k, hi) : k + 2;
                continue;
            }
            depth += c[k] == u"[" ? 1 : c[k] == u"]" ? -1 : 0;
            if (depth == 0) {
                break;
            }
            ++k;
        }
        const int q = k;
        if (q + 1 >= hi || c[q + 1] != u"(") {
            return std::nullopt;
        }
        k = skipSpaces(q + 2, hi);
        QString dest;
        if (k < hi && c[k] == u"<") {
            int j = k + 1;
            while (j < hi && c[j] != u">" && !isNewline(c[j])) {
                ++j;
            }
            if (j >= hi || c[j] != u">") {
                return std::nullopt;
            }
            dest = join(k + 1, j);
            k = j + 1;
        } else {
            int nest = 0;
            while (k < hi && c[k] != u" " && !isNewline(c[k]) && c[k][0].unicode() >= 0x20 &&
                   (c[k] != u")" || nest > 0)) {
                if (c[k] == u"\\" && k + 1 < hi && isAsciiPunct(c[k + 1])) {
                    ++k; // the escaped character is taken as it stands
                } else {
                    nest += c[k] == u"(" ? 1 : c[k] == u")" ? -1 : 0;
                }
                dest += c[k];
                ++k;
            }
        }
        k = skipSpaces(k, hi);
        if (k < hi && (c[k] == u"\"" || c[k] == u"'" || c[k] == u"(")) {
            const QString close = c[k] == u"(" ? QStringLiteral(")") : c[k];
            ++k;
            while (k < hi && c[k] != close) {
                k += c[k] == u"\\" ? 2 : 1;
            }
            if (k >= hi) {
                return std::nullopt;
            }
            k = skipSpaces(k + 1, hi);
        }
        if (k < hi && c[k] == u")") {
            return Parts{p + 1, q, dest, k + 1};
        }
        return std::nullopt;
    }

    // The first run of d after s, outside escapes and code spans, that follows no space and
    // that accept takes; -1 when there is none.
    int closingRun(int s, int hi, const QString& d, const auto& accept) const {
        int k = s;
        while (k < hi) {
            if (c[k] == u"\\") {
                k += 2;
            } else if (c[k] == u"`") {
                k = skipCode(k, hi);
            } else if (c[k] != d) {
                ++k;
            } else {
                const int length = run(k, hi);
                if (k > s && !isWS(c[k - 1]) && accept(k, length)) {
                    return k;
                }
                k += length;
            }
        }
        return -1;
    }

    int delimiter(int i, int hi, bool allowLinks, QList<MDInline>& out) {
        const QString d = c[i];
        const int r = run(i, hi);
        const int s = i + r;
        if (s >= hi || isWS(c[s]) || (d == u"_" && i > 0 && isAlnum(c[i - 1]))) {
            return -1;
        }
        if (d == u"~") {
            const int k =
                r != 2 ? -1 : closingRun(s, hi, d, [](int, int length) { return length >= 2; });
            if (k < 0) {
                return -1;
            }
            const int e = k + run(k, hi);
            out.append(MDInline::makeStrike(parse(s, e - 2, allowLinks)));
            return e;
        }
        for (int n = std::min(r, 3); n >= 1; --n) {
            const int k = closingRun(s, hi, d, [&](int at, int length) {
                return (d != u"_" || at + length == hi || !isAlnum(c[at + length])) &&
                       (length == n || (length >= 3 && length >= n));
            });
            const int e = k < 0 ? -1 : k + run(k, hi);
            if (k < 0 || e - n <= s) {
                continue;
            }
            const QList<MDInline> inner = parse(s, e - n, allowLinks);
            if (r > n) {
                out.append(MDInline::makeText(QString(r - n, d[0])));
            }
            out.append(n == 1   ? MDInline::makeEmphasis(inner)
                       : n == 2 ? MDInline::makeStrong(inner)
                                : MDInline::makeStrong({MDInline::makeEmphasis(inner)}));
            return e;
        }
        return -1;
    }

    QStringList c;
};

// ---- Blocks -------------------------------------------------------------------------------

bool isHSpace(QChar ch) {
    return ch == u'\t' || ch.category() == QChar::Separator_Space;
}

QString trimH(const QString& s) {
    const QChar* a = std::find_if_not(s.begin(), s.end(), isHSpace);
    const QChar* b = std::find_if_not(s.rbegin(), std::make_reverse_iterator(a), isHSpace).base();
    return QString(a, b - a);
}

int leading(const QString& line) {
    return int(std::find_if(line.begin(), line.end(), [](QChar ch) { return ch != u' '; }) -
               line.begin());
}

bool blank(const QString& line) {
    return leading(line) == line.size();
}

struct Fence {
    QChar ch;
    int count;
    QString info;
    int indent;
};

std::optional<Fence> openingFence(const QString& line) {
    static const QRegularExpression fence(QStringLiteral("^( {0,3})(`{3,}|~{3,})"));
    const QRegularExpressionMatch m = fence.match(line);
    const QChar ch = m.hasMatch() ? line[m.capturedStart(2)] : QChar();
    const QString info = trimH(line.mid(m.capturedEnd()));
    if (!m.hasMatch() || (ch == u'`' && info.contains(u'`'))) {
        return std::nullopt;
    }
    return Fence{ch, int(m.capturedLength(2)), info, int(m.capturedLength(1))};
}

bool closingFence(const QString& line, QChar ch, int count) {
    const QString t = trimH(line);
    return leading(line) <= 3 && t.size() >= count && t.count(ch) == t.size();
}

std::optional<std::pair<int, QString>> atxHeading(const QString& line) {
    static const QRegularExpression opening(QStringLiteral("^(#{1,6})(?: +|\\z)"));
    const QString t = trimH(line);
    const QRegularExpressionMatch m = opening.match(t);
    if (leading(line) > 3 || !m.hasMatch()) {
        return std::nullopt;
    }
    // A closing run counts only after a space or as the whole text.
    static const QRegularExpression closing(QStringLiteral("(?<![^ ])#+\\z"));
    return std::make_pair(int(m.capturedLength(1)), trimH(t.mid(m.capturedEnd()).remove(closing)));
}

bool thematicBreak(const QString& line) {
    QString s = line;
    s.remove(u' ');
    return leading(line) <= 3 && s.size() >= 3 && QStringLiteral("*-_").contains(s[0]) &&
           s.count(s[0]) == s.size();
}

struct Marker {
    bool ordered;
    qint64 number;
    int indent;
    int contentOffset;
    QString content;
};

std::optional<Marker> listMarker(const QString& line) {
    static const QRegularExpression marker(
        QStringLiteral("^( {0,3})(?:[-*+]|([0-9]{1,9})[.)])( *)"));
    const QRegularExpressionMatch m = marker.match(line);
    const int spaces = int(m.capturedLength(3));
    if (!m.hasMatch() || (spaces == 0 && m.capturedEnd() < line.size())) {
        return std::nullopt;
    }
    // More than four spaces after the marker: one belongs to it, the rest to the content.
    const int offset = int(m.capturedEnd()) - spaces + (spaces >= 1 && spaces <= 4 ? spaces : 1);
    const bool ordered = m.capturedLength(2) > 0;
    return Marker{ordered, ordered ? m.captured(2).toLongLong() : 1, int(m.capturedLength(1)),
                  offset, line.mid(offset)};
}

// A list marker on a line that is not a rule.
std::optional<Marker> itemMarker(const QString& line) {
    return thematicBreak(line) ? std::nullopt : listMarker(line);
}

bool startsBlock(const QString& line) {
    return blank(line) || openingFence(line) || atxHeading(line) || thematicBreak(line) ||
           listMarker(line) || trimH(line).startsWith(u'>');
}

QList<MDBlock> blocksOf(const QStringList& lines);

MDBlock paragraph(const QStringList& lines) {
    QString text;
    for (qsizetype k = 0; k < lines.size(); ++k) {
        QString line = lines[k].mid(leading(lines[k]));
        const bool last = k + 1 == lines.size();
        const bool backslash = line.endsWith(u'\\') && !line.endsWith(QLatin1String("\\\\"));
        const bool hard = backslash || line.endsWith(QLatin1String("  "));
        if (backslash && !last) {
            line.chop(1);
        }
        text += trimH(line) + (last ? QString() : hard ? kHardBreak : QStringLiteral("\n"));
    }
    return MDBlock::makeParagraph(reference::parseInline(text, true));
}

int parseList(const QStringList& lines, int i, const Marker& m, QList<MDBlock>& blocks) {
    QList<QStringList> items;
    QStringList current{m.content};
    int indent = m.indent;
    int offset = m.contentOffset;
    bool loose = false;
    int j = i + 1;
    while (j < lines.size()) {
        int next = j;
        while (next < lines.size() && blank(lines[next])) {
            ++next;
        }
        const bool sawBlank = next > j;
        if (sawBlank) {
            // Blank lines stay in the list only before more of it.
            const auto nm = next < lines.size() ? itemMarker(lines[next]) : std::nullopt;
            if (next == lines.size() ||
                (leading(lines[next]) < indent + 2 && !(nm && nm->ordered == m.ordered))) {
                break;
            }
            for (; j < next; ++j) {
                current.append(QString());
            }
        }
        const QString& line = lines[j];
        if (leading(line) >= indent + 2) {
            current.append(line.mid(std::min(offset, leading(line))));
        } else if (const auto nm = itemMarker(line)) {
            if (nm->ordered != m.ordered) {
                break;
            }
            items.append(current);
            current = QStringList{nm->content};
            indent = nm->indent;
            offset = nm->contentOffset;
        } else if (sawBlank || startsBlock(line)) {
            break;
        } else {
            current.append(trimH(line));
        }
        loose = loose || sawBlank;
        ++j;
    }
    items.append(current);
    QList<QList<MDBlock>> parsed;
    for (QStringList item : items) {
        while (!item.isEmpty() && blank(item.last())) {
            item.removeLast();
        }
        parsed.append(blocksOf(item));
    }
    blocks.append(MDBlock::makeList(m.ordered, m.number, parsed, !loose));
    return j;
}

QList<MDBlock> blocksOf(const QStringList& lines) {
    QList<MDBlock> blocks;
    QStringList pending;
    auto flush = [&] {
        if (!pending.isEmpty()) {
            blocks.append(paragraph(pending));
            pending.clear();
        }
    };
    int i = 0;
    while (i < lines.size()) {
        const QString& line = lines[i];
        if (!blank(line) && !openingFence(line) && !atxHeading(line) && !thematicBreak(line) &&
            !(trimH(line).startsWith(u'>') && leading(line) <= 3) && !listMarker(line)) {
            pending.append(line);
            ++i;
            continue;
        }
        flush();
        if (blank(line)) {
            ++i;
        } else if (const auto fence = openingFence(line)) {
            int j = i + 1;
            QStringList content;
            while (j < lines.size() && !closingFence(lines[j], fence->ch, fence->count)) {
                content.append(lines[j].mid(std::min(leading(lines[j]), fence->indent)));
                ++j;
            }
            const std::optional<QString> language =
                fence->info.isEmpty() ? std::nullopt : std::optional(fence->info.split(u' ')[0]);
            blocks.append(MDBlock::makeCode(language, content.join(u'\n')));
            i = j < lines.size() ? j + 1 : j;
        } else if (const auto heading = atxHeading(line)) {
            blocks.append(MDBlock::makeHeading(heading->first,
                                               reference::parseInline(heading->second, true)));
            ++i;
        } else if (thematicBreak(line)) {
            blocks.append(MDBlock::makeRule());
            ++i;
        } else if (const auto marker =
                       trimH(line).startsWith(u'>') ? std::nullopt : listMarker(line)) {
            i = parseList(lines, i, *marker, blocks);
        } else {
            QStringList quote;
            bool previousBlank = false;
            for (; i < lines.size(); ++i) {
                const QString t = trimH(lines[i]);
                if (t.startsWith(u'>')) {
                    const QString rest = t.mid(t.startsWith(QLatin1String("> ")) ? 2 : 1);
                    previousBlank = blank(rest);
                    quote.append(rest);
                } else if (blank(lines[i]) || previousBlank || startsBlock(lines[i])) {
                    break;
                } else {
                    quote.append(t);
                }
            }
            blocks.append(MDBlock::makeQuote(blocksOf(quote)));
        }
    }
    flush();
    return blocks;
}

// ---- Rendering ----------------------------------------------------------------------------

QString blockHTML(const MDBlock& b) {
    using MarkdownRenderer::escapeHTML;
    switch (b.kind) {
    case MDBlock::Kind::heading:
        return wrap(QStringLiteral("h%1").arg(b.level), joined(b.inlines, nodeHTML));
    case MDBlock::Kind::paragraph:
        return wrap(QStringLiteral("p"), joined(b.inlines, nodeHTML));
    case MDBlock::Kind::code:
        return QStringLiteral("<pre><code") +
               (b.language ? QStringLiteral(" class=\"language-") + escapeHTML(*b.language) + u'"'
                           : QString()) +
               u'>' + escapeHTML(b.text) + QStringLiteral("</code></pre>");
    case MDBlock::Kind::quote:
        return wrap(QStringLiteral("blockquote"),
                    u'\n' + joined(b.children, blockHTML, QStringLiteral("\n")) + u'\n');
    case MDBlock::Kind::list: {
        QStringList items;
        for (const QList<MDBlock>& item : b.items) {
            QString s;
            for (const MDBlock& x : item) {
                s += x.kind == MDBlock::Kind::paragraph ? joined(x.inlines, nodeHTML)
                                                        : u'\n' + blockHTML(x) + u'\n';
            }
            const QString loose = u'\n' + joined(item, blockHTML, QStringLiteral("\n")) + u'\n';
            items.append(wrap(QStringLiteral("li"), b.tight ? s : loose));
        }
        const QString open = !b.ordered     ? QStringLiteral("<ul>")
                             : b.start == 1 ? QStringLiteral("<ol>")
                                            : QStringLiteral("<ol start=\"%1\">").arg(b.start);
        return open + u'\n' + items.join(u'\n') +
               (b.ordered ? QStringLiteral("\n</ol>") : QStringLiteral("\n</ul>"));
    }
    case MDBlock::Kind::rule:
        return QStringLiteral("<hr>");
    }
    return QString();
}

QString blockPlain(const MDBlock& b) {
    switch (b.kind) {
    case MDBlock::Kind::heading:
    case MDBlock::Kind::paragraph:
        return joined(b.inlines, nodePlain);
    case MDBlock::Kind::code:
        return QStringLiteral("    ") + QString(b.text).replace(u'\n', QLatin1String("\n    "));
    case MDBlock::Kind::quote: {
        QStringList lines = joined(b.children, blockPlain, QStringLiteral("\n\n")).split(u'\n');
        for (QString& l : lines) {
            l = l.isEmpty() ? QStringLiteral(">") : QStringLiteral("> ") + l;
        }
        return lines.join(u'\n');
    }
    case MDBlock::Kind::list: {
        const QString separator = b.tight ? QStringLiteral("\n") : QStringLiteral("\n\n");
        QStringList items;
        for (qsizetype k = 0; k < b.items.size(); ++k) {
            const QString marker = b.ordered ? QString::number(b.start + k) + QStringLiteral(". ")
                                             : QStringLiteral("- ");
            // Lines after the first are indented by the marker's width, unless empty.
            static const QRegularExpression lineStart(QStringLiteral("\n(?=[^\n])"));
            items.append(marker + joined(b.items[k], blockPlain, separator)
                                      .replace(lineStart, u'\n' + QString(marker.size(), u' ')));
        }
        return items.join(separator);
    }
    case MDBlock::Kind::rule:
        return QStringLiteral("* * *");
    }
    return QString();
}

} // namespace

QList<MDInline> parseInline(const QString& text, bool allowLinks) {
    Inline parser(text);
    return parser.parse(0, parser.size(), allowLinks);
}

QList<MDBlock> parseBlocks(const QString& markdown) {
    QString t = markdown;
    t.replace(QRegularExpression(QStringLiteral("\r\n?")), QStringLiteral("\n"));
    t.replace(u'\t', QLatin1String("    "));
    t.remove(QChar(0x1E));
    t.remove(0, t.startsWith(QChar(0xFEFF)) ? 1 : 0);
    return blocksOf(t.split(u'\n'));
}

QString html(const QList<MDBlock>& blocks) {
    return joined(blocks, blockHTML, QStringLiteral("\n"));
}

QString plainText(const QList<MDBlock>& blocks) {
    return joined(blocks, blockPlain, QStringLiteral("\n\n"));
}

} // namespace quillmere::reference
