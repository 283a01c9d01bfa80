#include "render/md_block_parser.h"

#include "render/md_inline_parser.h"

#include <QChar>

#include <array>
#include <memory>
#include <unordered_map>
#include <vector>

namespace quillmere::MDBlockParser {

namespace {

constexpr int kUnknown = -2;
constexpr char16_t kHardBreak = 0x1E;

bool isHorizontalSpace(char16_t u) {
    if (u < 0x80) {
        return u == u' ' || u == u'\t';
    }
    return QChar::category(char32_t(u)) == QChar::Separator_Space;
}

// Line preparation: CR LF and CR become LF, a tab becomes four spaces, U+001E (reserved for hard
// breaks) disappears and a leading byte order mark is dropped.
QString prepare(const QString& markdown) {
    // Three searches that each look at many code units at a time beat one loop over all.
    const bool needsWork = markdown.contains(u'\r') || markdown.contains(u'\t') ||
                           markdown.contains(QChar(kHardBreak));
    QString text;
    if (!needsWork) {
        text = markdown;
    } else {
        text.reserve(markdown.size() + 16);
        const qsizetype n = markdown.size();
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = markdown[i].unicode();
            if (u == u'\r') {
                text += u'\n';
                if (i + 1 < n && markdown[i + 1] == u'\n') {
                    ++i;
                }
            } else if (u == u'\t') {
                text += QLatin1String("    ");
            } else if (u != kHardBreak) {
                text += QChar(u);
            }
        }
    }
    if (text.startsWith(QChar(0xFEFF))) {
        text.remove(0, 1);
    }
    return text;
}

// A view of one line: [start, end) of the prepared text. Quote markers, list markers and
// indentation are taken off by moving `start`; the end is the line's end or its end without
// trailing white space. `spaceEnd` is the first position that is not U+0020, `blankEnd` the first
// that is not horizontal white space, both from `start`.
struct Line {
    int start = 0;
    int end = 0;
    int spaceEnd = 0;
    int blankEnd = 0;
    int root = 0;
};

// What is known of one line of the input, shared by every view of it. The caches make the
// recognisers cost the same at every nesting level, however long the line.
struct Root {
    int start = 0;
    int end = 0;
    int trimEnd = 0;
    int lastBacktick = kUnknown;
    int runPos = -1;
    int runEnd = -1;
};

// For a long line that may be a thematic break made of one of "*", "-", "_": the last position
// holding anything else (up to the line's end, and up to its end without trailing white space)
// and the position of the third-last occurrence of the character.
struct BreakScan {
    std::array<int, 3> lastBadAll{kUnknown, kUnknown, kUnknown};
    std::array<int, 3> lastBadTrim{kUnknown, kUnknown, kUnknown};
    std::array<int, 3> thirdLast{kUnknown, kUnknown, kUnknown};
};

struct ListMarker {
    bool ordered = false;
    qint64 number = 1;
    int indent = 0;
    int contentOffset = 0;
    int contentStart = 0;
};

struct Fence {
    char16_t ch = u'`';
    int count = 0;
    int infoStart = 0;
    int infoEnd = 0;
    int indent = 0;
};

class BlockParser {
public:
    BlockParser(const QString& markdown, Events& events);
    void run();

private:
    enum class Then { root, quote, item };

    struct ListBuild {
        bool ordered = false;
        qint64 start = 1;
        bool tight = true;
        std::vector<std::pair<int, int>> ranges; // lines of each item
        size_t next = 0;                         // the item to parse next
    };

    struct Frame {
        int begin = 0;
        int end = 0;
        int i = 0;
        int paragraphStart = -1;
        Then then = Then::root;
        std::unique_ptr<ListBuild> list;
    };

    char16_t at(int p) const { return m_u[p]; }
    Root& root(const Line& l) { return m_roots[size_t(l.root)]; }
    int scanSpaces(int from, int end) const;
    int scanBlanks(int from, int end) const;
    Line view(int start, int end, int rootIndex) const;

    static bool isBlank(const Line& l) { return l.spaceEnd >= l.end; }
    static int leadingSpaces(const Line& l) { return l.spaceEnd - l.start; }
    int trimmedEnd(const Line& l);
    Line trimmed(const Line& l);
    bool beginsQuote(const Line& l) const { return l.blankEnd < l.end && at(l.blankEnd) == u'>'; }

    int fenceRunEnd(const Line& l, int pos);
    int lastBacktick(Root& r);
    std::optional<Fence> openingFence(const Line& l);
    bool closingFence(const Line& l, char16_t ch, int count);
    int atxLevel(const Line& l);
    QString atxText(const Line& l, int level);
    bool isThematicBreak(const Line& l);
    std::optional<ListMarker> listMarker(const Line& l) const;
    std::optional<ListMarker> siblingMarker(const Line& l);
    bool startsBlock(const Line& l);

    void flush(Frame& f);
    QString assembleParagraph(int from, int to);
    void readCode(Frame& f, const Fence& fence);
    int collectQuote(int i, int end);
    std::unique_ptr<ListBuild> collectList(int i, int end, const ListMarker& first, int& listEnd);
    bool step(size_t fi);
    void startItem(ListBuild& list);

    Events& m_events;
    QString m_text;
    const char16_t* m_u = nullptr;
    std::vector<Root> m_roots;
    std::vector<Line> m_lines;
    std::unordered_map<int, BreakScan> m_breakScans;
    std::vector<Frame> m_frames;
};

BlockParser::BlockParser(const QString& markdown, Events& events)
    : m_events(events)
    , m_text(prepare(markdown)) {
    m_u = reinterpret_cast<const char16_t*>(m_text.utf16());
    const int n = int(m_text.size());
    const QStringView text(m_text);
    int start = 0;
    while (true) {
        // indexOf searches many code units at a time.
        const qsizetype nl = text.indexOf(u'\n', start);
        const int end = nl < 0 ? n : int(nl);
        Root r;
        r.start = start;
        r.end = end;
        r.trimEnd = end;
        while (r.trimEnd > start && isHorizontalSpace(at(r.trimEnd - 1))) {
            --r.trimEnd;
        }
        m_roots.push_back(r);
        m_lines.push_back(view(start, end, int(m_roots.size()) - 1));
        if (end >= n) {
            break;
        }
        start = end + 1;
    }
}

int BlockParser::scanSpaces(int from, int end) const {
    while (from < end && at(from) == u' ') {
        ++from;
    }
    return from;
}

int BlockParser::scanBlanks(int from, int end) const {
    while (from < end && isHorizontalSpace(at(from))) {
        ++from;
    }
    return from;
}

Line BlockParser::view(int start, int end, int rootIndex) const {
    Line l;
    l.start = start;
    l.end = end;
    l.spaceEnd = scanSpaces(start, end);
    l.blankEnd = scanBlanks(l.spaceEnd, end);
    l.root = rootIndex;
    return l;
}

int BlockParser::trimmedEnd(const Line& l) {
    const Root& r = root(l);
    int te;
    if (l.end >= r.trimEnd) {
        te = r.trimEnd;
    } else {
        te = l.end;
        while (te > l.start && isHorizontalSpace(at(te - 1))) {
            --te;
        }
    }
    return std::max(te, l.blankEnd);
}

Line BlockParser::trimmed(const Line& l) {
    Line t;
    t.start = l.blankEnd;
    t.end = trimmedEnd(l);
    t.spaceEnd = t.start;
    t.blankEnd = t.start;
    t.root = l.root;
    return t;
}

int BlockParser::fenceRunEnd(const Line& l, int pos) {
    Root& r = root(l);
    if (r.runPos != pos) {
        int e = pos;
        while (e < l.end && at(e) == at(pos)) {
            ++e;
        }
        r.runPos = pos;
        r.runEnd = e;
    }
    return std::min(r.runEnd, l.end);
}

int BlockParser::lastBacktick(Root& r) {
    if (r.lastBacktick == kUnknown) {
        r.lastBacktick = -1;
        for (int p = r.end - 1; p >= r.start; --p) {
            if (at(p) == u'`') {
                r.lastBacktick = p;
                break;
            }
        }
    }
    return r.lastBacktick;
}

std::optional<Fence> BlockParser::openingFence(const Line& l) {
    if (isBlank(l) || leadingSpaces(l) > 3) {
        return std::nullopt;
    }
    const int p = l.spaceEnd;
    const char16_t ch = at(p);
    if (ch != u'`' && ch != u'~') {
        return std::nullopt;
    }
    const int runEnd = fenceRunEnd(l, p);
    if (runEnd - p < 3) {
        return std::nullopt;
    }
    if (ch == u'`' && lastBacktick(root(l)) >= runEnd) {
        return std::nullopt;
    }
    Fence f;
    f.ch = ch;
    f.count = runEnd - p;
    f.indent = leadingSpaces(l);
    f.infoStart = scanBlanks(runEnd, l.end);
    f.infoEnd = std::max(f.infoStart, trimmedEnd(l));
    return f;
}

bool BlockParser::closingFence(const Line& l, char16_t ch, int count) {
    if (leadingSpaces(l) > 3) {
        return false;
    }
    const int s = l.blankEnd;
    const int e = trimmedEnd(l);
    if (e - s < count) {
        return false;
    }
    for (int p = s; p < e; ++p) {
        if (at(p) != ch) {
            return false;
        }
    }
    return true;
}

// The heading level, or 0 when the line is no ATX heading.
int BlockParser::atxLevel(const Line& l) {
    if (isBlank(l) || leadingSpaces(l) > 3) {
        return 0;
    }
    const int s = l.blankEnd;
    const int e = trimmedEnd(l);
    int p = s;
    while (p < e && p - s < 7 && at(p) == u'#') {
        ++p;
    }
    const int level = p - s;
    if (level < 1 || level > 6) {
        return 0;
    }
    if (p < e && at(p) != u' ') {
        return 0;
    }
    return level;
}

QString BlockParser::atxText(const Line& l, int level) {
    const int e = trimmedEnd(l);
    int p = scanSpaces(l.blankEnd + level, e);
    // A closing run of "#" counts only when it stands alone or after a space ("# C#" keeps it).
    int q = e;
    while (q > p && at(q - 1) == u'#') {
        --q;
    }
    int textEnd = e;
    if (q == p || at(q - 1) == u' ') {
        textEnd = q;
    }
    p = scanBlanks(p, textEnd);
    while (textEnd > p && isHorizontalSpace(at(textEnd - 1))) {
        --textEnd;
    }
    return m_text.mid(p, textEnd - p);
}

bool BlockParser::isThematicBreak(const Line& l) {
    if (isBlank(l) || leadingSpaces(l) > 3) {
        return false;
    }
    const int f = l.spaceEnd;
    const char16_t x = at(f);
    const int xi = x == u'*' ? 0 : x == u'-' ? 1 : x == u'_' ? 2 : -1;
    if (xi < 0) {
        return false;
    }
    Root& r = root(l);
    const bool cached = l.end == r.end || l.end == r.trimEnd;
    if (l.end - f <= 64 || !cached) {
        int count = 0;
        for (int p = f; p < l.end; ++p) {
            const char16_t c = at(p);
            if (c == u' ') {
                continue;
            }
            if (c != x) {
                return false;
            }
            ++count;
        }
        return count >= 3;
    }
    // Long lines are met again at every nesting level: answer from the whole line once.
    BreakScan& scan = m_breakScans[l.root];
    if (scan.thirdLast[size_t(xi)] == kUnknown) {
        int badAll = -1;
        int badTrim = -1;
        int seen = 0;
        int third = -1;
        for (int p = r.end - 1; p >= r.start; --p) {
            const char16_t c = at(p);
            if (c == x) {
                if (++seen == 3) {
                    third = p;
                }
            } else if (c != u' ') {
                if (badAll < 0) {
                    badAll = p;
                }
                if (badTrim < 0 && p < r.trimEnd) {
                    badTrim = p;
                }
            }
        }
        scan.lastBadAll[size_t(xi)] = badAll;
        scan.lastBadTrim[size_t(xi)] = badTrim;
        scan.thirdLast[size_t(xi)] = third;
    }
    const int bad = l.end == r.end ? scan.lastBadAll[size_t(xi)] : scan.lastBadTrim[size_t(xi)];
    return bad < f && scan.thirdLast[size_t(xi)] >= f;
}

std::optional<ListMarker> BlockParser::listMarker(const Line& l) const {
    if (isBlank(l) || leadingSpaces(l) > 3) {
        return std::nullopt;
    }
    ListMarker m;
    m.indent = leadingSpaces(l);
    const int p = l.spaceEnd;
    const char16_t c = at(p);
    int q;
    int markerLength;
    if (c == u'-' || c == u'*' || c == u'+') {
        markerLength = 1;
        q = p + 1;
    } else if (c >= u'0' && c <= u'9') {
        int digits = 0;
        qint64 value = 0;
        while (p + digits < l.end && digits < 10 && at(p + digits) >= u'0' &&
               at(p + digits) <= u'9') {
            value = value * 10 + (at(p + digits) - u'0');
            ++digits;
        }
        if (digits > 9) {
            return std::nullopt;
        }
        q = p + digits;
        if (q >= l.end || (at(q) != u'.' && at(q) != u')')) {
            return std::nullopt;
        }
        m.ordered = true;
        m.number = value;
        markerLength = digits + 1;
        ++q;
    } else {
        return std::nullopt;
    }
    if (q >= l.end) {
        m.contentOffset = m.indent + markerLength + 1;
        m.contentStart = l.end;
        return m;
    }
    if (at(q) != u' ') {
        return std::nullopt;
    }
    int spaces = 0;
    while (q + spaces < l.end && spaces < 5 && at(q + spaces) == u' ') {
        ++spaces;
    }
    const int spacing = spaces <= 4 ? spaces : 1;
    m.contentStart = q + spacing;
    m.contentOffset = m.indent + markerLength + spacing;
    return m;
}

// A line like "* * *" or "- - -" is a thematic break wherever it stands, so it never starts a
// sibling item (which would turn a rule under a list into nested empty lists).
std::optional<ListMarker> BlockParser::siblingMarker(const Line& l) {
    if (isThematicBreak(l)) {
        return std::nullopt;
    }
    return listMarker(l);
}

bool BlockParser::startsBlock(const Line& l) {
    return isBlank(l) || openingFence(l) || atxLevel(l) > 0 || isThematicBreak(l) ||
           listMarker(l) || beginsQuote(l);
}

// Paragraph lines lose their indentation; a line ending in two spaces, or in one backslash,
// breaks hard (U+001E for the inline parser), other line ends break softly.
QString BlockParser::assembleParagraph(int from, int to) {
    QString text;
    for (int k = from; k < to; ++k) {
        const Line& l = m_lines[size_t(k)];
        const int s = l.spaceEnd;
        int e = l.end;
        QChar suffix;
        bool hasSuffix = false;
        if (k + 1 < to) {
            hasSuffix = true;
            if (e - s >= 2 && at(e - 1) == u' ' && at(e - 2) == u' ') {
                suffix = QChar(kHardBreak);
            } else if (e > s && at(e - 1) == u'\\') {
                if (e - s >= 2 && at(e - 2) == u'\\') {
                    suffix = QChar(u'\n');
                } else {
                    --e;
                    suffix = QChar(kHardBreak);
                }
            } else {
                suffix = QChar(u'\n');
            }
        }
        const int ts = std::min(l.blankEnd, e);
        int te;
        if (e == l.end) {
            te = trimmedEnd(l);
        } else {
            te = e;
            while (te > ts && isHorizontalSpace(at(te - 1))) {
                --te;
            }
        }
        te = std::max(te, ts);
        text += QStringView(m_text).mid(ts, te - ts);
        if (hasSuffix) {
            text += suffix;
        }
    }
    return text;
}

void BlockParser::flush(Frame& f) {
    if (f.paragraphStart < 0) {
        return;
    }
    m_events.paragraph(assembleParagraph(f.paragraphStart, f.i));
    f.paragraphStart = -1;
}

void BlockParser::readCode(Frame& f, const Fence& fence) {
    int j = f.i + 1;
    while (j < f.end && !closingFence(m_lines[size_t(j)], fence.ch, fence.count)) {
        ++j;
    }
    QString text;
    for (int k = f.i + 1; k < j; ++k) {
        const Line& l = m_lines[size_t(k)];
        if (k > f.i + 1) {
            text += u'\n';
        }
        const int strip = std::min(leadingSpaces(l), fence.indent);
        text += QStringView(m_text).mid(l.start + strip, l.end - l.start - strip);
    }
    std::optional<QString> language;
    if (fence.infoEnd > fence.infoStart) {
        int e = fence.infoStart;
        while (e < fence.infoEnd && at(e) != u' ') {
            ++e;
        }
        language = m_text.mid(fence.infoStart, e - fence.infoStart);
    }
    m_events.code(language, text);
    f.i = j < f.end ? j + 1 : j;
}

// Rewrites the quote's lines in place into its body and returns where the quote ends.
int BlockParser::collectQuote(int i, int end) {
    int j = i;
    bool previousBlank = false;
    while (j < end) {
        const Line l = m_lines[size_t(j)];
        if (beginsQuote(l)) {
            const int e = trimmedEnd(l);
            int rest = l.blankEnd + 1;
            if (rest < e && at(rest) == u' ') {
                ++rest;
            }
            const Line body = view(rest, e, l.root);
            previousBlank = isBlank(body);
            m_lines[size_t(j)] = body;
            ++j;
            continue;
        }
        if (isBlank(l) || previousBlank || openingFence(l) || atxLevel(l) > 0 ||
            isThematicBreak(l) || listMarker(l)) {
            break;
        }
        m_lines[size_t(j)] = trimmed(l);
        previousBlank = false;
        ++j;
    }
    return j;
}

// Rewrites the list's lines in place into its items' lines and returns the items' ranges.
std::unique_ptr<BlockParser::ListBuild>
BlockParser::collectList(int i, int end, const ListMarker& first, int& listEnd) {
    auto list = std::make_unique<ListBuild>();
    list->ordered = first.ordered;
    list->start = first.number;
    bool loose = false;
    int itemStart = i;
    int indent = first.indent;
    int offset = first.contentOffset;
    {
        const Line l = m_lines[size_t(i)];
        m_lines[size_t(i)] = view(first.contentStart, l.end, l.root);
    }
    int j = i + 1;
    while (j < end) {
        bool sawBlank = false;
        if (isBlank(m_lines[size_t(j)])) {
            int next = j + 1;
            while (next < end && isBlank(m_lines[size_t(next)])) {
                ++next;
            }
            if (next >= end) {
                break;
            }
            const Line& n = m_lines[size_t(next)];
            if (leadingSpaces(n) < indent + 2) {
                const auto marker = siblingMarker(n);
                if (!marker || marker->ordered != list->ordered) {
                    break;
                }
            }
            for (int k = j; k < next; ++k) {
                const Line l = m_lines[size_t(k)];
                m_lines[size_t(k)] = view(l.start, l.start, l.root);
            }
            sawBlank = true;
            j = next;
        }
        const Line l = m_lines[size_t(j)];
        const int spaces = leadingSpaces(l);
        if (spaces >= indent + 2) {
            const int strip = std::min(offset, spaces);
            Line stripped = l;
            stripped.start = l.start + strip;
            m_lines[size_t(j)] = stripped;
            loose = loose || sawBlank;
            ++j;
            continue;
        }
        if (const auto marker = siblingMarker(l)) {
            if (marker->ordered != list->ordered) {
                break;
            }
            list->ranges.emplace_back(itemStart, j);
            loose = loose || sawBlank;
            itemStart = j;
            indent = marker->indent;
            offset = marker->contentOffset;
            m_lines[size_t(j)] = view(marker->contentStart, l.end, l.root);
            ++j;
            continue;
        }
        if (sawBlank || startsBlock(l)) {
            break;
        }
        m_lines[size_t(j)] = trimmed(l);
        ++j;
    }
    list->ranges.emplace_back(itemStart, j);
    for (auto& [lo, hi] : list->ranges) {
        while (hi > lo && isBlank(m_lines[size_t(hi - 1)])) {
            --hi;
        }
    }
    list->tight = !loose;
    listEnd = j;
    return list;
}

// Runs the block loop of the frame on top until it ends (false) or opens a container (true).
bool BlockParser::step(size_t fi) {
    Frame& f = m_frames[fi];
    while (f.i < f.end) {
        const Line l = m_lines[size_t(f.i)];
        if (isBlank(l)) {
            flush(f);
            ++f.i;
            continue;
        }
        if (const auto fence = openingFence(l)) {
            flush(f);
            readCode(f, *fence);
            continue;
        }
        if (const int level = atxLevel(l)) {
            flush(f);
            m_events.heading(level, atxText(l, level));
            ++f.i;
            continue;
        }
        if (isThematicBreak(l)) {
            flush(f);
            m_events.rule();
            ++f.i;
            continue;
        }
        if (leadingSpaces(l) <= 3 && beginsQuote(l)) {
            flush(f);
            const int quoteEnd = collectQuote(f.i, f.end);
            Frame child;
            child.begin = f.i;
            child.end = quoteEnd;
            child.i = f.i;
            child.then = Then::quote;
            f.i = quoteEnd;
            m_events.beginQuote();
            m_frames.push_back(std::move(child));
            return true;
        }
        if (const auto marker = listMarker(l)) {
            flush(f);
            int listEnd = f.i;
            f.list = collectList(f.i, f.end, *marker, listEnd);
            f.i = listEnd;
            m_events.beginList(f.list->ordered, f.list->start, f.list->tight);
            startItem(*f.list);
            return true;
        }
        if (f.paragraphStart < 0) {
            f.paragraphStart = f.i;
        }
        ++f.i;
    }
    flush(f);
    return false;
}

void BlockParser::startItem(ListBuild& list) {
    Frame child;
    child.begin = list.ranges[list.next].first;
    child.end = list.ranges[list.next].second;
    child.i = child.begin;
    child.then = Then::item;
    ++list.next;
    m_events.beginItem();
    m_frames.push_back(std::move(child));
}

void BlockParser::run() {
    Frame root;
    root.begin = 0;
    root.end = int(m_lines.size());
    m_frames.push_back(std::move(root));
    while (true) {
        if (step(m_frames.size() - 1)) {
            continue;
        }
        const Then then = m_frames.back().then;
        m_frames.pop_back();
        if (m_frames.empty()) {
            return;
        }
        if (then == Then::quote) {
            m_events.endQuote();
            continue;
        }
        m_events.endItem();
        Frame& parent = m_frames.back();
        if (parent.list->next < parent.list->ranges.size()) {
            startItem(*parent.list);
            continue;
        }
        m_events.endList();
        parent.list.reset();
    }
}

// Builds the tree from the blocks as they are met: one open sequence of blocks per container
// (the document, quotes, list items) and one open list of items per list.
class TreeBuilder : public Events {
public:
    TreeBuilder() { m_sequences.emplace_back(); }

    QList<MDBlock> take() { return std::move(m_sequences.front()); }

    void heading(int level, const QString& text) override {
        add(MDBlock::makeHeading(level, MDInlineParser::parse(text, true)));
    }
    void paragraph(const QString& text) override {
        add(MDBlock::makeParagraph(MDInlineParser::parse(text, true)));
    }
    void code(const std::optional<QString>& language, const QString& text) override {
        add(MDBlock::makeCode(language, text));
    }
    void rule() override { add(MDBlock::makeRule()); }
    void beginQuote() override { m_sequences.emplace_back(); }
    void endQuote() override { add(MDBlock::makeQuote(closeSequence())); }
    void beginList(bool ordered, qint64 start, bool tight) override {
        m_lists.push_back({ordered, start, tight, {}});
    }
    void beginItem() override { m_sequences.emplace_back(); }
    void endItem() override {
        QList<MDBlock> item = closeSequence();
        m_lists.back().items.append(std::move(item));
    }
    void endList() override {
        OpenList l = std::move(m_lists.back());
        m_lists.pop_back();
        add(MDBlock::makeList(l.ordered, l.start, std::move(l.items), l.tight));
    }

private:
    struct OpenList {
        bool ordered;
        qint64 start;
        bool tight;
        QList<QList<MDBlock>> items;
    };

    void add(MDBlock block) { m_sequences.back().append(std::move(block)); }
    QList<MDBlock> closeSequence() {
        QList<MDBlock> blocks = std::move(m_sequences.back());
        m_sequences.pop_back();
        return blocks;
    }

    std::vector<QList<MDBlock>> m_sequences;
    std::vector<OpenList> m_lists;
};

} // namespace

QList<MDBlock> parse(const QString& markdown) {
    TreeBuilder tree;
    parse(markdown, tree);
    return tree.take();
}

void parse(const QString& markdown, Events& events) {
    BlockParser parser(markdown, events);
    parser.run();
}

} // namespace quillmere::MDBlockParser
