#include "reference_markdown.h"

#include "render/email_address.h"
#include "render/grapheme_clusters.h"
#include "render/markdown_renderer.h"
#include "render/md_inline_parser.h"

namespace quillmere::reference {

namespace {

bool isAsciiPunct(const QString& c) {
    if (c.size() != 1) {
        return false;
    }
    const char16_t u = c[0].unicode();
    return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
           (u >= 0x7B && u <= 0x7E);
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

QString inlinePlain(const QList<MDInline>& nodes) {
    QString out;
    for (const MDInline& n : nodes) {
        switch (n.kind) {
        case MDInline::Kind::text:
        case MDInline::Kind::code:
        case MDInline::Kind::image:
            out += n.text;
            break;
        case MDInline::Kind::lineBreak:
        case MDInline::Kind::softBreak:
            out += u'\n';
            break;
        case MDInline::Kind::strong:
        case MDInline::Kind::emphasis:
        case MDInline::Kind::strike:
            out += inlinePlain(n.children);
            break;
        case MDInline::Kind::link: {
            const QString t = inlinePlain(n.children);
            if (!n.url) {
                out += t;
                break;
            }
            QString h = *n.url;
            if (h.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
                h = h.mid(7);
            }
            out += !t.isEmpty() && t != h ? t + QStringLiteral(" (") + h + u')' : h;
            break;
        }
        }
    }
    return out;
}

QString inlineHTML(const QList<MDInline>& nodes) {
    using MarkdownRenderer::escapeHTML;
    QString out;
    for (const MDInline& n : nodes) {
        switch (n.kind) {
        case MDInline::Kind::text:
            out += escapeHTML(n.text);
            break;
        case MDInline::Kind::code:
            out += QStringLiteral("<code>") + escapeHTML(n.text) + QStringLiteral("</code>");
            break;
        case MDInline::Kind::strong:
            out +=
                QStringLiteral("<strong>") + inlineHTML(n.children) + QStringLiteral("</strong>");
            break;
        case MDInline::Kind::emphasis:
            out += QStringLiteral("<em>") + inlineHTML(n.children) + QStringLiteral("</em>");
            break;
        case MDInline::Kind::strike:
            out += QStringLiteral("<del>") + inlineHTML(n.children) + QStringLiteral("</del>");
            break;
        case MDInline::Kind::link:
            out += n.url
                       ? QStringLiteral("<a href=\"") + escapeHTML(*n.url) + QStringLiteral("\">") +
                             inlineHTML(n.children) + QStringLiteral("</a>")
                       : inlineHTML(n.children);
            break;
        case MDInline::Kind::image:
            out += n.url ? QStringLiteral("<img src=\"") + escapeHTML(*n.url) +
                               QStringLiteral("\" alt=\"") + escapeHTML(n.text) +
                               QStringLiteral("\">")
                         : escapeHTML(n.text);
            break;
        case MDInline::Kind::lineBreak:
            out += QStringLiteral("<br>\n");
            break;
        case MDInline::Kind::softBreak:
            out += u'\n';
            break;
        }
    }
    return out;
}

class Inline {
public:
    explicit Inline(const QString& text) {
        const std::vector<int> b = GraphemeClusters::boundariesByFinder(text);
        for (size_t i = 0; i + 1 < b.size(); ++i) {
            c.append(text.mid(b[i], b[i + 1] - b[i]));
        }
    }

    QList<MDInline> parse(int lo, int hi, bool allowLinks) {
        QList<MDInline> out;
        QString buf;
        auto flush = [&] {
            if (!buf.isEmpty()) {
                out.append(MDInline::makeText(buf));
                buf.clear();
            }
        };
        int i = lo;
        while (i < hi) {
            const QString ch = c[i];
            if (ch == u"\\") {
                if (i + 1 < hi && isAsciiPunct(c[i + 1])) {
                    buf += c[i + 1];
                    i += 2;
                } else {
                    buf += u'\\';
                    i += 1;
                }
            } else if (ch == QString(QChar(0x1E))) {
                flush();
                out.append(MDInline::makeLineBreak());
                ++i;
            } else if (ch == u"\n") {
                flush();
                out.append(MDInline::makeSoftBreak());
                ++i;
            } else if (ch == u"`") {
                const int n = run(i, hi);
                const int close = findClosing(i + n, n, hi);
                if (close < 0) {
                    buf += QString(n, u'`');
                    i += n;
                    continue;
                }
                QStringList parts;
                for (int k = i + n; k < close; ++k) {
                    parts.append(c[k] == u"\n" || c[k] == QString(QChar(0x1E)) ? QStringLiteral(" ")
                                                                               : c[k]);
                }
                bool allSpaces = true;
                for (const QString& p : parts) {
                    allSpaces = allSpaces && p == u" ";
                }
                if (parts.size() >= 2 && parts.first() == u" " && parts.last() == u" " &&
                    !allSpaces) {
                    parts.removeFirst();
                    parts.removeLast();
                }
                flush();
                out.append(MDInline::makeCode(parts.join(QString())));
                i = close + n;
            } else if (ch == u"!" && i + 1 < hi && c[i + 1] == u"[") {
                const auto lp = linkParts(i + 1, hi);
                if (!lp) {
                    buf += u'!';
                    i += 1;
                    continue;
                }
                const QString alt = inlinePlain(parse(lp->textLo, lp->textHi, false));
                flush();
                out.append(MDInline::makeImage(alt, MDInlineParser::imageURL(lp->dest)));
                i = lp->end;
            } else if (ch == u"[" && allowLinks) {
                const auto lp = linkParts(i, hi);
                if (!lp) {
                    buf += u'[';
                    i += 1;
                    continue;
                }
                QList<MDInline> children = parse(lp->textLo, lp->textHi, false);
                flush();
                out.append(MDInline::makeLink(MDInlineParser::safeURL(lp->dest, true), children));
                i = lp->end;
            } else if (ch == u"<" && allowLinks) {
                int j = i + 1;
                bool ok = true;
                while (j < hi && c[j] != u">") {
                    if (c[j] == u" " || isNewline(c[j]) || c[j] == u"<") {
                        ok = false;
                        break;
                    }
                    ++j;
                }
                if (!ok || j >= hi || j == i + 1) {
                    buf += u'<';
                    i += 1;
                    continue;
                }
                const QString content = join(i + 1, j);
                if (auto url = MDInlineParser::safeURL(content, true)) {
                    QString display = *url;
                    if (display.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
                        display = display.mid(7);
                    }
                    flush();
                    out.append(MDInline::makeLink(url, {MDInline::makeText(display)}));
                } else if (EmailAddress::isValid(content)) {
                    flush();
                    out.append(MDInline::makeLink(QStringLiteral("mailto:") + content,
                                                  {MDInline::makeText(content)}));
                } else {
                    buf += u'<';
                    i += 1;
                    continue;
                }
                i = j + 1;
            } else if (ch == u"*" || ch == u"_" || ch == u"~") {
                const int r = run(i, hi);
                int next = i;
                QList<MDInline> made;
                if (delimiter(i, hi, allowLinks, next, made)) {
                    for (const MDInline& m : made) {
                        if (m.kind != MDInline::Kind::text) {
                            flush();
                            out.append(m);
                        } else {
                            buf += m.text;
                        }
                    }
                    i = next;
                } else {
                    buf += QString(r, ch[0]);
                    i += r;
                }
            } else {
                buf += ch;
                ++i;
            }
        }
        flush();
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

    QString join(int a, int b) const {
        QString s;
        for (int k = a; k < b; ++k) {
            s += c[k];
        }
        return s;
    }

    int run(int i, int hi) const {
        int k = i;
        while (k < hi && c[k] == c[i]) {
            ++k;
        }
        return k - i;
    }

    int findClosing(int from, int n, int hi) const {
        int k = from;
        while (k < hi) {
            if (c[k] == u"`") {
                const int length = run(k, hi);
                if (length == n) {
                    return k;
                }
                k += length;
            } else {
                ++k;
            }
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
        while (true) {
            if (k >= hi) {
                return std::nullopt;
            }
            if (c[k] == u"\\") {
                k += 2;
                continue;
            }
            if (c[k] == u"`") {
                k = skipCode(k, hi);
                continue;
            }
            if (c[k] == u"[") {
                ++depth;
            } else if (c[k] == u"]") {
                --depth;
                if (depth == 0) {
                    break;
                }
            }
            ++k;
        }
        const int q = k;
        k = q + 1;
        if (k >= hi || c[k] != u"(") {
            return std::nullopt;
        }
        k = skipSpaces(k + 1, hi);
        QString dest;
        if (k < hi && c[k] == u"<") {
            int j = k + 1;
            while (j < hi && c[j] != u">") {
                if (isNewline(c[j])) {
                    return std::nullopt;
                }
                ++j;
            }
            if (j >= hi) {
                return std::nullopt;
            }
            dest = join(k + 1, j);
            k = j + 1;
        } else {
            int nest = 0;
            while (k < hi) {
                const QString ch = c[k];
                if (ch == u" " || isNewline(ch) || ch[0].unicode() < 0x20) {
                    break;
                }
                if (ch == u"\\" && k + 1 < hi && isAsciiPunct(c[k + 1])) {
                    dest += c[k + 1];
                    k += 2;
                    continue;
                }
                if (ch == u"(") {
                    ++nest;
                } else if (ch == u")") {
                    if (nest == 0) {
                        break;
                    }
                    --nest;
                }
                dest += ch;
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

    bool delimiter(int i, int hi, bool allowLinks, int& next, QList<MDInline>& made) {
        const QString d = c[i];
        const int r = run(i, hi);
        const int s = i + r;
        if (s >= hi || isWS(c[s])) {
            return false;
        }
        if (d == u"_" && i > 0 && isAlnum(c[i - 1])) {
            return false;
        }
        if (d == u"~") {
            if (r != 2) {
                return false;
            }
            int k = s;
            while (k < hi) {
                if (c[k] == u"\\") {
                    k += 2;
                } else if (c[k] == u"`") {
                    k = skipCode(k, hi);
                } else if (c[k] == u"~") {
                    const int length = run(k, hi);
                    if (k > s && !isWS(c[k - 1]) && length >= 2) {
                        made.append(MDInline::makeStrike(parse(s, k + length - 2, allowLinks)));
                        next = k + length;
                        return true;
                    }
                    k += length;
                } else {
                    ++k;
                }
            }
            return false;
        }
        for (int n = std::min(r, 3); n >= 1; --n) {
            int k = s;
            int found = -1;
            int e = -1;
            while (k < hi) {
                if (c[k] == u"\\") {
                    k += 2;
                    continue;
                }
                if (c[k] == u"`") {
                    k = skipCode(k, hi);
                    continue;
                }
                if (c[k] != d) {
                    ++k;
                    continue;
                }
                const int length = run(k, hi);
                e = k + length;
                if (k > s && !isWS(c[k - 1]) && (d != u"_" || e == hi || !isAlnum(c[e])) &&
                    (length == n || (length >= 3 && length >= n))) {
                    found = k;
                    break;
                }
                k = e;
            }
            if (found >= 0 && e - n > s) {
                const QList<MDInline> inner = parse(s, e - n, allowLinks);
                if (r > n) {
                    made.append(MDInline::makeText(QString(r - n, d[0])));
                }
                if (n == 1) {
                    made.append(MDInline::makeEmphasis(inner));
                } else if (n == 2) {
                    made.append(MDInline::makeStrong(inner));
                } else {
                    made.append(MDInline::makeStrong({MDInline::makeEmphasis(inner)}));
                }
                next = e;
                return true;
            }
        }
        return false;
    }

    QStringList c;
};

// ---- Blocks -------------------------------------------------------------------------------

bool isHSpace(QChar ch) {
    return ch == u'\t' || ch.category() == QChar::Separator_Space;
}

QString trimH(const QString& s) {
    qsizetype a = 0;
    qsizetype b = s.size();
    while (a < b && isHSpace(s[a])) {
        ++a;
    }
    while (b > a && isHSpace(s[b - 1])) {
        --b;
    }
    return s.mid(a, b - a);
}

int leading(const QString& line) {
    int n = 0;
    while (n < line.size() && line[n] == u' ') {
        ++n;
    }
    return n;
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
    const int indent = leading(line);
    if (indent > 3) {
        return std::nullopt;
    }
    const QString rest = line.mid(indent);
    if (rest.isEmpty() || (rest[0] != u'`' && rest[0] != u'~')) {
        return std::nullopt;
    }
    int run = 0;
    while (run < rest.size() && rest[run] == rest[0]) {
        ++run;
    }
    if (run < 3) {
        return std::nullopt;
    }
    const QString info = trimH(rest.mid(run));
    if (rest[0] == u'`' && info.contains(u'`')) {
        return std::nullopt;
    }
    return Fence{rest[0], run, info, indent};
}

bool closingFence(const QString& line, QChar ch, int count) {
    if (leading(line) > 3) {
        return false;
    }
    const QString t = trimH(line);
    if (t.size() < count) {
        return false;
    }
    for (QChar x : t) {
        if (x != ch) {
            return false;
        }
    }
    return true;
}

std::optional<std::pair<int, QString>> atxHeading(const QString& line) {
    if (leading(line) > 3) {
        return std::nullopt;
    }
    const QString t = trimH(line);
    int run = 0;
    while (run < t.size() && t[run] == u'#') {
        ++run;
    }
    if (run < 1 || run > 6) {
        return std::nullopt;
    }
    int p = run;
    if (p < t.size() && t[p] != u' ') {
        return std::nullopt;
    }
    while (p < t.size() && t[p] == u' ') {
        ++p;
    }
    QString text = t.mid(p);
    QString stripped = text;
    while (stripped.endsWith(u'#')) {
        stripped.chop(1);
    }
    if (stripped.isEmpty() || stripped.endsWith(u' ')) {
        text = stripped;
    }
    return std::make_pair(run, trimH(text));
}

bool thematicBreak(const QString& line) {
    if (leading(line) > 3) {
        return false;
    }
    QString s = line;
    s.remove(u' ');
    if (s.size() < 3) {
        return false;
    }
    if (s[0] != u'*' && s[0] != u'-' && s[0] != u'_') {
        return false;
    }
    for (QChar x : s) {
        if (x != s[0]) {
            return false;
        }
    }
    return true;
}

struct Marker {
    bool ordered;
    qint64 number;
    int indent;
    int contentOffset;
    QString content;
};

std::optional<Marker> listMarker(const QString& line) {
    const int indent = leading(line);
    if (indent > 3) {
        return std::nullopt;
    }
    const QString rest = line.mid(indent);
    if (rest.isEmpty()) {
        return std::nullopt;
    }
    Marker m{false, 1, indent, 0, QString()};
    int length;
    if (rest[0] == u'-' || rest[0] == u'*' || rest[0] == u'+') {
        length = 1;
    } else {
        int digits = 0;
        while (digits < rest.size() && rest[digits] >= u'0' && rest[digits] <= u'9') {
            ++digits;
        }
        if (digits < 1 || digits > 9 || digits >= rest.size() ||
            (rest[digits] != u'.' && rest[digits] != u')')) {
            return std::nullopt;
        }
        m.ordered = true;
        bool ok = false;
        m.number = rest.left(digits).toLongLong(&ok);
        if (!ok) {
            m.number = 1;
        }
        length = digits + 1;
    }
    if (length == rest.size()) {
        m.contentOffset = indent + length + 1;
        return m;
    }
    if (rest[length] != u' ') {
        return std::nullopt;
    }
    int n = 0;
    while (length + n < rest.size() && rest[length + n] == u' ') {
        ++n;
    }
    const int spacing = n <= 4 ? n : 1;
    m.content = rest.mid(length + spacing);
    m.contentOffset = indent + length + spacing;
    return m;
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
        QString suffix;
        if (k + 1 < lines.size()) {
            if (line.endsWith(QLatin1String("  "))) {
                suffix = QString(QChar(0x1E));
            } else if (line.endsWith(u'\\')) {
                if (line.endsWith(QLatin1String("\\\\"))) {
                    suffix = QStringLiteral("\n");
                } else {
                    line.chop(1);
                    suffix = QString(QChar(0x1E));
                }
            } else {
                suffix = QStringLiteral("\n");
            }
        }
        text += trimH(line) + suffix;
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
    while (true) {
        bool sawBlank = false;
        bool ended = false;
        while (j < lines.size() && blank(lines[j])) {
            int next = j + 1;
            while (next < lines.size() && blank(lines[next])) {
                ++next;
            }
            if (next >= lines.size()) {
                ended = true;
                break;
            }
            const auto nm = thematicBreak(lines[next]) ? std::nullopt : listMarker(lines[next]);
            if (leading(lines[next]) < indent + 2 && !(nm && nm->ordered == m.ordered)) {
                ended = true;
                break;
            }
            current.append(QString());
            sawBlank = true;
            ++j;
        }
        if (ended || j >= lines.size()) {
            break;
        }
        const QString& line = lines[j];
        if (leading(line) >= indent + 2) {
            current.append(line.mid(std::min(offset, leading(line))));
            loose = loose || sawBlank;
            ++j;
            continue;
        }
        if (const auto nm = thematicBreak(line) ? std::nullopt : listMarker(line)) {
            if (nm->ordered != m.ordered) {
                break;
            }
            items.append(current);
            loose = loose || sawBlank;
            current = QStringList{nm->content};
            indent = nm->indent;
            offset = nm->contentOffset;
            ++j;
            continue;
        }
        if (sawBlank || startsBlock(line)) {
            break;
        }
        current.append(trimH(line));
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
        if (blank(line)) {
            flush();
            ++i;
        } else if (const auto fence = openingFence(line)) {
            flush();
            int j = i + 1;
            QStringList content;
            while (j < lines.size() && !closingFence(lines[j], fence->ch, fence->count)) {
                content.append(lines[j].mid(std::min(leading(lines[j]), fence->indent)));
                ++j;
            }
            std::optional<QString> language;
            if (!fence->info.isEmpty()) {
                language = fence->info.split(u' ').first();
            }
            blocks.append(MDBlock::makeCode(language, content.join(u'\n')));
            i = j < lines.size() ? j + 1 : j;
        } else if (const auto heading = atxHeading(line)) {
            flush();
            blocks.append(MDBlock::makeHeading(heading->first,
                                               reference::parseInline(heading->second, true)));
            ++i;
        } else if (thematicBreak(line)) {
            flush();
            blocks.append(MDBlock::makeRule());
            ++i;
        } else if (trimH(line).startsWith(u'>') && leading(line) <= 3) {
            flush();
            QStringList quote;
            bool previousBlank = false;
            int j = i;
            while (j < lines.size()) {
                const QString t = trimH(lines[j]);
                if (t.startsWith(u'>')) {
                    QString rest = t.mid(1);
                    if (rest.startsWith(u' ')) {
                        rest = rest.mid(1);
                    }
                    previousBlank = blank(rest);
                    quote.append(rest);
                    ++j;
                    continue;
                }
                if (blank(lines[j]) || previousBlank || openingFence(lines[j]) ||
                    atxHeading(lines[j]) || thematicBreak(lines[j]) || listMarker(lines[j])) {
                    break;
                }
                quote.append(t);
                previousBlank = false;
                ++j;
            }
            blocks.append(MDBlock::makeQuote(blocksOf(quote)));
            i = j;
        } else if (const auto marker = listMarker(line)) {
            flush();
            i = parseList(lines, i, *marker, blocks);
        } else {
            pending.append(line);
            ++i;
        }
    }
    flush();
    return blocks;
}

// ---- Rendering ----------------------------------------------------------------------------

QString blockHTML(const MDBlock& b);

QString blocksHTML(const QList<MDBlock>& blocks) {
    QStringList parts;
    for (const MDBlock& b : blocks) {
        parts.append(blockHTML(b));
    }
    return parts.join(u'\n');
}

QString blockHTML(const MDBlock& b) {
    using MarkdownRenderer::escapeHTML;
    switch (b.kind) {
    case MDBlock::Kind::heading:
        return QStringLiteral("<h%1>").arg(b.level) + inlineHTML(b.inlines) +
               QStringLiteral("</h%1>").arg(b.level);
    case MDBlock::Kind::paragraph:
        return QStringLiteral("<p>") + inlineHTML(b.inlines) + QStringLiteral("</p>");
    case MDBlock::Kind::code:
        return QStringLiteral("<pre><code") +
               (b.language ? QStringLiteral(" class=\"language-") + escapeHTML(*b.language) + u'"'
                           : QString()) +
               u'>' + escapeHTML(b.text) + QStringLiteral("</code></pre>");
    case MDBlock::Kind::quote:
        return QStringLiteral("<blockquote>\n") + blocksHTML(b.children) +
               QStringLiteral("\n</blockquote>");
    case MDBlock::Kind::list: {
        QStringList items;
        for (const QList<MDBlock>& item : b.items) {
            if (b.tight) {
                QString s = QStringLiteral("<li>");
                for (const MDBlock& x : item) {
                    s += x.kind == MDBlock::Kind::paragraph ? inlineHTML(x.inlines)
                                                            : u'\n' + blockHTML(x) + u'\n';
                }
                items.append(s + QStringLiteral("</li>"));
            } else {
                items.append(QStringLiteral("<li>\n") + blocksHTML(item) +
                             QStringLiteral("\n</li>"));
            }
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
        return inlinePlain(b.inlines);
    case MDBlock::Kind::code: {
        QStringList lines = b.text.split(u'\n');
        for (QString& l : lines) {
            l = QStringLiteral("    ") + l;
        }
        return lines.join(u'\n');
    }
    case MDBlock::Kind::quote: {
        QStringList parts;
        for (const MDBlock& x : b.children) {
            parts.append(blockPlain(x));
        }
        QStringList lines = parts.join(QStringLiteral("\n\n")).split(u'\n');
        for (QString& l : lines) {
            l = l.isEmpty() ? QStringLiteral(">") : QStringLiteral("> ") + l;
        }
        return lines.join(u'\n');
    }
    case MDBlock::Kind::list: {
        QStringList items;
        for (qsizetype k = 0; k < b.items.size(); ++k) {
            const QString marker = b.ordered ? QString::number(b.start + k) + QStringLiteral(". ")
                                             : QStringLiteral("- ");
            QStringList parts;
            for (const MDBlock& x : b.items[k]) {
                parts.append(blockPlain(x));
            }
            QStringList lines =
                parts.join(b.tight ? QStringLiteral("\n") : QStringLiteral("\n\n")).split(u'\n');
            for (qsizetype j = 0; j < lines.size(); ++j) {
                if (j == 0) {
                    lines[j] = marker + lines[j];
                } else if (!lines[j].isEmpty()) {
                    lines[j] = QString(marker.size(), u' ') + lines[j];
                }
            }
            items.append(lines.join(u'\n'));
        }
        return items.join(b.tight ? QStringLiteral("\n") : QStringLiteral("\n\n"));
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
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(u'\r', u'\n');
    t.replace(u'\t', QLatin1String("    "));
    t.remove(QChar(0x1E));
    if (t.startsWith(QChar(0xFEFF))) {
        t.remove(0, 1);
    }
    return blocksOf(t.split(u'\n'));
}

QString html(const QList<MDBlock>& blocks) {
    return blocksHTML(blocks);
}

QString plainText(const QList<MDBlock>& blocks) {
    QStringList parts;
    for (const MDBlock& b : blocks) {
        parts.append(blockPlain(b));
    }
    return parts.join(QStringLiteral("\n\n"));
}

} // namespace quillmere::reference
