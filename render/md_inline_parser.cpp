#include "render/md_inline_parser.h"

#include "render/email_address.h"
#include "render/grapheme_clusters.h"
#include "render/media_reference.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <unordered_map>
#include <vector>

namespace quillmere::MDInlineParser {

namespace {

// Key of a cluster made of more than one code unit: equal to none of the characters the parser
// looks for.
constexpr char16_t kMulti = 0xFFFF;
constexpr char16_t kHardBreak = 0x1E;
constexpr int kUnknown = -2;
constexpr int kNone = -1;

bool isAsciiPunct(char16_t u) {
    return (u >= 0x21 && u <= 0x2F) || (u >= 0x3A && u <= 0x40) || (u >= 0x5B && u <= 0x60) ||
           (u >= 0x7B && u <= 0x7E);
}

constexpr std::array<bool, 128> makeSpecial() {
    std::array<bool, 128> t{};
    for (char16_t c : {u'\\', kHardBreak, u'\n', u'`', u'!', u'[', u'<', u'*', u'_', u'~'}) {
        t[c] = true;
    }
    return t;
}
constexpr std::array<bool, 128> kSpecial = makeSpecial();

bool isSpecial(char16_t u) {
    return u < 128 && kSpecial[u];
}

// The closer scans, one per delimiter and length: "*" for n = 1, 2, 3, "_" likewise, and "~~".
struct DelimiterWalk {
    char16_t d;
    int n;
    bool strike;
};
constexpr std::array<DelimiterWalk, 7> kWalks{{{u'*', 1, false},
                                               {u'*', 2, false},
                                               {u'*', 3, false},
                                               {u'_', 1, false},
                                               {u'_', 2, false},
                                               {u'_', 3, false},
                                               {u'~', 2, true}}};
constexpr int kStrikeWalk = 6;

// One slot per cluster, stamped with the parse it was written in: a new paragraph starts with
// every slot unknown without clearing anything.
class Memo {
public:
    void prepare(int n, quint32 generation) {
        if (m_generation == generation) {
            return;
        }
        m_generation = generation;
        if (m_slots.size() < size_t(n)) {
            m_slots.resize(size_t(n), 0);
        }
    }
    int get(int k) const {
        const quint64 v = m_slots[size_t(k)];
        return quint32(v >> 32) == m_generation ? int(quint32(v)) : kUnknown;
    }
    void set(int k, int v) { m_slots[size_t(k)] = (quint64(m_generation) << 32) | quint32(v); }
    // After the generation counter wraps, old stamps could look current.
    void wipe() {
        std::fill(m_slots.begin(), m_slots.end(), 0);
        m_generation = 0;
    }
    void trim(size_t keep) {
        if (m_slots.capacity() > keep) {
            std::vector<quint64>().swap(m_slots);
            m_generation = 0;
        }
    }

private:
    std::vector<quint64> m_slots;
    quint32 m_generation = 0;
};

// Memo of a scan over the whole text.
struct ArrayMemo {
    Memo* slots;
    int get(int k) const { return slots->get(k); }
    void set(int k, int v) { slots->set(k, v); }
};

// Memo of a scan bounded by the end of an inner range: only for the rare ranges where the
// whole-text answer cannot be reused.
struct MapMemo {
    std::unordered_map<int, int>* slots;
    int get(int k) const {
        const auto it = slots->find(k);
        return it == slots->end() ? kUnknown : it->second;
    }
    void set(int k, int v) { (*slots)[k] = v; }
};

// One parser per thread is reused from paragraph to paragraph: its scratch vectors and maps keep
// their capacity, so a document of many paragraphs does not allocate them again each time.
class Parser {
public:
    void reset(const QString& text);
    void release();
    QList<MDInline> run(bool allowLinks);

private:
    enum class Then { root, emphasis, strong, strongEmphasis, strike, link, image };

    // One range being parsed. In plain mode (image alt text) nothing but the flattened text is
    // needed, so it is written straight into a shared accumulator: nested images then cost their
    // length once, not once per level.
    struct Frame {
        int lo = 0;
        int hi = 0;
        bool allowLinks = true;
        bool plain = false;
        int i = 0;
        Then then = Then::root;
        int continueAt = 0;
        std::optional<QString> url;
        int acc = -1;
    };

    struct Closer {
        int k = kNone;
        int e = kNone;
    };

    struct LinkTail {
        bool ok = false;
        int end = 0;
        QString dest;
    };

    // Clusters.
    char16_t key(int i) const { return m_keys[i]; }
    int unitStart(int i) const { return m_starts ? m_starts[i] : i; }
    QStringView span(int i, int j) const {
        return QStringView(m_text).mid(unitStart(i), unitStart(j) - unitStart(i));
    }
    char32_t firstCodePoint(int i) const;
    bool isWhitespace(int i) const;
    bool isAlnum(int i) const;
    bool isNewline(int i) const;
    bool isControl(int i) const { return m_units[unitStart(i)] < 0x20; }

    // Runs of one character over the whole text.
    void fillRun(int k);
    int runEnd(int k);
    int runStart(int k);

    // Code spans.
    void buildBacktickIndex();
    int findClosing(int from, int length, int hi);
    bool straddlePossible(int from, int hi);
    int lastStraddle(int hi);

    // Scans, each memoised over the whole text and reused for an inner range whenever the
    // answer cannot differ there.
    template <class Slots>
    int walk(int which, int start, int bound, Slots memo);
    bool qualifies(int which, int k, int e, int bound) const;
    Closer closer(int which, int s, int hi);
    template <class Slots>
    int match(int p, int bound, Slots memo);
    int bracketClose(int p, int hi);
    int destEnd(int x, int bound);
    int titleClose(char16_t close, int x, int bound);
    int skipSpaces(int x, int bound);
    int nextAngle(int x, int bound);
    LinkTail tail(int q, int bound);
    std::optional<LinkParts> linkParts(int p, int hi);

    // The main loop.
    bool advance(size_t fi);
    void literal(Frame& f, QStringView s);
    void flush();
    void emit(Frame& f, MDInline node);
    void codeSpan(Frame& f);
    bool autolink(Frame& f);
    bool delimiter(size_t fi);
    void push(size_t fi, Frame child);

    QString m_text;
    const char16_t* m_units = nullptr;
    std::vector<int> m_startStore;
    const int* m_starts = nullptr;
    std::vector<char16_t> m_keyStore;
    const char16_t* m_keys = nullptr;
    int m_n = 0;

    quint32 m_generation = 0;
    Memo& memo(Memo& m) {
        m.prepare(m_n, m_generation);
        return m;
    }

    Memo m_runStart;
    Memo m_runEnd;

    bool m_backtickIndexBuilt = false;
    std::unordered_map<int, std::vector<int>> m_backtickRuns; // length -> starts of whole runs
    std::vector<int> m_backticks;                             // every backtick position
    std::vector<int> m_straddleTree; // max closer position over backtick positions
    int m_straddleLeaves = 0;
    std::unordered_map<int, int> m_lastStraddle;

    std::array<Memo, kWalks.size()> m_walkMemo;
    std::unordered_map<qint64, std::unordered_map<int, int>> m_boundedMemo;
    Memo m_matchMemo;
    Memo m_destMemo;
    std::array<Memo, 3> m_titleMemo;
    Memo m_spaceMemo;
    Memo m_angleMemo;
    std::unordered_map<int, LinkTail> m_tails;
    std::vector<int> m_path;

    std::vector<Frame> m_frames;
    std::vector<QString> m_acc;
    // Nodes of the frame at each depth, and the literal text of the top frame not yet made a
    // node: scratch space kept from paragraph to paragraph, so that nodes and their texts are
    // allocated once at their final size.
    std::vector<std::vector<MDInline>> m_outs;
    QString m_buf;
};

void Parser::reset(const QString& text) {
    m_text = text;
    m_starts = nullptr;
    if (++m_generation == 0) {
        for (Memo* m :
             {&m_runStart, &m_runEnd, &m_matchMemo, &m_destMemo, &m_spaceMemo, &m_angleMemo}) {
            m->wipe();
        }
        for (Memo& m : m_walkMemo) {
            m.wipe();
        }
        for (Memo& m : m_titleMemo) {
            m.wipe();
        }
        m_generation = 1;
    }
    m_backtickIndexBuilt = false;
    if (!m_backtickRuns.empty()) {
        m_backtickRuns.clear();
    }
    m_backticks.clear();
    m_straddleTree.clear();
    m_straddleLeaves = 0;
    if (!m_lastStraddle.empty()) {
        m_lastStraddle.clear();
    }
    if (!m_boundedMemo.empty()) {
        m_boundedMemo.clear();
    }
    if (!m_tails.empty()) {
        m_tails.clear();
    }
    m_path.clear();
    m_frames.clear();
    m_acc.clear();
    m_buf.truncate(0);

    m_units = reinterpret_cast<const char16_t*>(m_text.utf16());
    const int units = int(m_text.size());
    bool simple = true;
    for (int i = 0; i < units; ++i) {
        const char16_t u = m_units[i];
        if ((u >= 0x80 && !GraphemeClusters::isStandalone(u)) || u == u'\r') {
            simple = false;
            break;
        }
    }
    if (simple) {
        m_n = units;
        m_keys = m_units;
        return;
    }
    m_startStore = GraphemeClusters::boundaries(m_text);
    m_n = int(m_startStore.size()) - 1;
    m_keyStore.resize(size_t(m_n));
    for (int i = 0; i < m_n; ++i) {
        const int a = m_startStore[size_t(i)];
        m_keyStore[size_t(i)] = m_startStore[size_t(i) + 1] - a == 1 ? m_units[a] : kMulti;
    }
    m_starts = m_startStore.data();
    m_keys = m_keyStore.data();
}

// Drops the text and gives back memory a very large paragraph made the scratch space take.
void Parser::release() {
    m_text = QString();
    constexpr size_t kKeep = 1 << 16;
    auto trim = [](auto& v) {
        if (v.capacity() > kKeep) {
            std::decay_t<decltype(v)>().swap(v);
        }
    };
    trim(m_startStore);
    trim(m_keyStore);
    trim(m_backticks);
    trim(m_straddleTree);
    for (Memo* m :
         {&m_runStart, &m_runEnd, &m_matchMemo, &m_destMemo, &m_spaceMemo, &m_angleMemo}) {
        m->trim(kKeep);
    }
    for (Memo& m : m_walkMemo) {
        m.trim(kKeep);
    }
    for (Memo& m : m_titleMemo) {
        m.trim(kKeep);
    }
    trim(m_path);
    if (m_buf.capacity() > qsizetype(kKeep)) {
        m_buf = QString();
    }
    if (m_outs.size() > 64) {
        m_outs.resize(64);
    }
    for (std::vector<MDInline>& nodes : m_outs) {
        if (nodes.capacity() > 1024) {
            std::vector<MDInline>().swap(nodes);
        }
    }
    if (m_boundedMemo.size() > kKeep || m_tails.size() > kKeep || m_lastStraddle.size() > kKeep) {
        m_boundedMemo = {};
        m_tails = {};
        m_lastStraddle = {};
        m_backtickRuns = {};
    }
}

char32_t Parser::firstCodePoint(int i) const {
    const int u = unitStart(i);
    const char16_t c = m_units[u];
    if (QChar::isHighSurrogate(c) && u + 1 < m_text.size() &&
        QChar::isLowSurrogate(m_units[u + 1])) {
        return QChar::surrogateToUcs4(c, m_units[u + 1]);
    }
    return c;
}

bool Parser::isWhitespace(int i) const {
    const char16_t k = key(i);
    if (k < 0x80) {
        return k == u' ' || (k >= 0x09 && k <= 0x0D);
    }
    return QChar::isSpace(firstCodePoint(i));
}

bool Parser::isAlnum(int i) const {
    const char16_t k = key(i);
    if (k < 0x80) {
        return (k >= u'a' && k <= u'z') || (k >= u'A' && k <= u'Z') || (k >= u'0' && k <= u'9');
    }
    const char32_t cp = firstCodePoint(i);
    return QChar::isLetter(cp) || QChar::isNumber(cp);
}

bool Parser::isNewline(int i) const {
    const char16_t k = key(i);
    return k == u'\n' || k == u'\r' || (k == kMulti && m_units[unitStart(i)] == u'\r');
}

void Parser::fillRun(int k) {
    Memo& starts = memo(m_runStart);
    Memo& ends = memo(m_runEnd);
    const char16_t ch = key(k);
    int st = k;
    while (st > 0 && key(st - 1) == ch) {
        --st;
    }
    int en = k + 1;
    while (en < m_n && key(en) == ch) {
        ++en;
    }
    for (int x = st; x < en; ++x) {
        starts.set(x, st);
        ends.set(x, en);
    }
}

int Parser::runEnd(int k) {
    const int known = memo(m_runEnd).get(k);
    if (known != kUnknown) {
        return known;
    }
    fillRun(k);
    return m_runEnd.get(k);
}

int Parser::runStart(int k) {
    if (memo(m_runEnd).get(k) == kUnknown) {
        fillRun(k);
    }
    return memo(m_runStart).get(k);
}

void Parser::buildBacktickIndex() {
    if (m_backtickIndexBuilt) {
        return;
    }
    m_backtickIndexBuilt = true;
    for (int k = 0; k < m_n; ++k) {
        if (key(k) != u'`') {
            continue;
        }
        m_backticks.push_back(k);
        if (k == 0 || key(k - 1) != u'`') {
            m_backtickRuns[runEnd(k) - k].push_back(k);
        }
    }
}

// The first run of exactly `length` backticks after `from` that ends within the range; `from`
// is always the end of a run, so runs are whole except one cut by the end of the range.
int Parser::findClosing(int from, int length, int hi) {
    buildBacktickIndex();
    int best = kNone;
    const auto it = m_backtickRuns.find(length);
    if (it != m_backtickRuns.end()) {
        const auto pos = std::lower_bound(it->second.begin(), it->second.end(), from);
        if (pos != it->second.end() && *pos + length <= hi) {
            best = *pos;
        }
    }
    if (hi < m_n && hi > 0 && key(hi) == u'`' && key(hi - 1) == u'`') {
        const int st = runStart(hi - 1);
        if (st >= from && hi - st == length && (best < 0 || st < best)) {
            best = st;
        }
    }
    return best;
}

// Within a range that ends before the text does, a backtick whose closing run lies beyond the
// end opens no code span there, while a scan over the whole text skips past it. Only then can
// an answer for the whole text be wrong for the range.
bool Parser::straddlePossible(int from, int hi) {
    if (hi >= m_n) {
        return false;
    }
    buildBacktickIndex();
    const auto first = std::lower_bound(m_backticks.begin(), m_backticks.end(), from);
    if (first == m_backticks.end() || *first >= hi) {
        return false;
    }
    return lastStraddle(hi) >= from;
}

int Parser::lastStraddle(int hi) {
    if (const auto it = m_lastStraddle.find(hi); it != m_lastStraddle.end()) {
        return it->second;
    }
    if (m_straddleTree.empty()) {
        m_straddleLeaves = 1;
        while (m_straddleLeaves < int(m_backticks.size())) {
            m_straddleLeaves *= 2;
        }
        m_straddleTree.assign(size_t(2 * m_straddleLeaves), kNone);
        for (size_t j = 0; j < m_backticks.size(); ++j) {
            const int b = m_backticks[j];
            const int e = runEnd(b);
            m_straddleTree[size_t(m_straddleLeaves) + j] = findClosing(e, e - b, m_n);
        }
        for (int x = m_straddleLeaves - 1; x >= 1; --x) {
            m_straddleTree[size_t(x)] =
                std::max(m_straddleTree[size_t(2 * x)], m_straddleTree[size_t(2 * x + 1)]);
        }
    }
    // Rightmost backtick before hi whose closing run starts at hi or later.
    const int limit =
        int(std::lower_bound(m_backticks.begin(), m_backticks.end(), hi) - m_backticks.begin());
    int result = kNone;
    int node = 1;
    int nodeLo = 0;
    int nodeHi = m_straddleLeaves;
    std::vector<std::array<int, 3>> pending;
    pending.push_back({node, nodeLo, nodeHi});
    while (!pending.empty()) {
        const auto [x, lo, hiLeaf] = pending.back();
        pending.pop_back();
        if (lo >= limit || m_straddleTree[size_t(x)] < hi) {
            continue;
        }
        if (hiLeaf - lo == 1) {
            result = m_backticks[size_t(lo)];
            break;
        }
        const int mid = (lo + hiLeaf) / 2;
        // Left first onto the stack, so the right half is searched first.
        pending.push_back({2 * x, lo, mid});
        pending.push_back({2 * x + 1, mid, hiLeaf});
    }
    m_lastStraddle[hi] = result;
    return result;
}

bool Parser::qualifies(int which, int k, int e, int bound) const {
    const DelimiterWalk& walk = kWalks[size_t(which)];
    const int length = e - k;
    if (isWhitespace(k - 1)) {
        return false;
    }
    if (walk.strike) {
        return length >= 2;
    }
    if (walk.d == u'_' && e < bound && isAlnum(e)) {
        return false;
    }
    return length == walk.n || (length >= 3 && length >= walk.n);
}

// The first closer for `which` on the scan from `start`: backslashes skip two characters, code
// spans are skipped whole, runs of the delimiter that do not close are skipped whole.
template <class Slots>
int Parser::walk(int which, int start, int bound, Slots memo) {
    const char16_t d = kWalks[size_t(which)].d;
    m_path.clear();
    int k = start;
    int result;
    while (true) {
        if (k >= bound) {
            result = kNone;
            break;
        }
        const char16_t ch = key(k);
        if (ch != u'\\' && ch != u'`' && ch != d) {
            ++k;
            continue;
        }
        const int known = memo.get(k);
        if (known != kUnknown) {
            result = known;
            break;
        }
        m_path.push_back(k);
        if (ch == u'\\') {
            k += 2;
        } else if (ch == u'`') {
            const int e = std::min(runEnd(k), bound);
            const int c = findClosing(e, e - k, bound);
            k = c >= 0 ? c + (e - k) : e;
        } else {
            const int e = std::min(runEnd(k), bound);
            if (qualifies(which, k, e, bound)) {
                result = k;
                break;
            }
            k = e;
        }
    }
    for (int p : m_path) {
        memo.set(p, result);
    }
    return result;
}

Parser::Closer Parser::closer(int which, int s, int hi) {
    const int q = walk(which, s, m_n, ArrayMemo{&memo(m_walkMemo[size_t(which)])});
    if (q >= 0 && q < hi) {
        // Everything the scan passed before q lies inside the range, so q stands; only the
        // closing run itself may be cut by the end of the range.
        const int e = runEnd(q);
        if (e <= hi) {
            return {q, e};
        }
        if (qualifies(which, q, hi, hi)) {
            return {q, hi};
        }
        return {};
    }
    // A run of the delimiter touching the end of the range is judged differently there (it may
    // be cut short, and "_" needs nothing after it); so is a code span that the range cuts.
    const char16_t d = kWalks[size_t(which)].d;
    const bool runAtEnd = hi < m_n && key(hi - 1) == d;
    if (!runAtEnd && !straddlePossible(s, hi)) {
        return {};
    }
    const qint64 memoKey = (qint64(which) << 32) | qint64(hi);
    const int k = walk(which, s, hi, MapMemo{&m_boundedMemo[memoKey]});
    if (k < 0) {
        return {};
    }
    return {k, std::min(runEnd(k), hi)};
}

// The "]" that closes the "[" at p: brackets nest, backslashes skip two characters and code
// spans are skipped whole.
template <class Slots>
int Parser::match(int p, int bound, Slots memo) {
    const int known = memo.get(p);
    if (known != kUnknown) {
        return known;
    }
    m_path.clear();
    m_path.push_back(p);
    int k = p + 1;
    while (true) {
        if (k >= bound) {
            for (int open : m_path) {
                memo.set(open, kNone);
            }
            return kNone;
        }
        const char16_t ch = key(k);
        if (ch == u'\\') {
            k += 2;
        } else if (ch == u'`') {
            const int e = std::min(runEnd(k), bound);
            const int c = findClosing(e, e - k, bound);
            k = c >= 0 ? c + (e - k) : e;
        } else if (ch == u'[') {
            const int inner = memo.get(k);
            if (inner == kNone) {
                for (int open : m_path) {
                    memo.set(open, kNone);
                }
                return kNone;
            }
            if (inner >= 0) {
                k = inner + 1;
            } else {
                m_path.push_back(k);
                ++k;
            }
        } else if (ch == u']') {
            const int open = m_path.back();
            m_path.pop_back();
            memo.set(open, k);
            if (m_path.empty()) {
                return k;
            }
            ++k;
        } else {
            ++k;
        }
    }
}

int Parser::bracketClose(int p, int hi) {
    const int q = match(p, m_n, ArrayMemo{&memo(m_matchMemo)});
    if (q >= 0 && q < hi) {
        return q;
    }
    if (!straddlePossible(p, hi)) {
        return kNone;
    }
    const qint64 memoKey = (qint64(kWalks.size()) << 32) | qint64(hi);
    return match(p, hi, MapMemo{&m_boundedMemo[memoKey]});
}

// End of a plain destination starting at x: the first space, newline or control character, or
// the ")" that is not balanced by an earlier "(".
int Parser::destEnd(int x, int bound) {
    Memo& destMemo = memo(m_destMemo);
    // One list of visited positions per open parenthesis; each list shares one answer.
    std::vector<std::vector<int>> levels(1);
    int k = x;
    int result = kNone;
    auto finishAll = [&](int r) {
        for (const auto& level : levels) {
            for (int node : level) {
                destMemo.set(node, r);
            }
        }
        levels.clear();
        result = r;
    };
    while (result == kNone) {
        int r = kUnknown;
        if (k >= m_n) {
            finishAll(m_n);
            break;
        }
        const int known = destMemo.get(k);
        if (known != kUnknown) {
            r = known;
        } else {
            levels.back().push_back(k);
            const char16_t ch = key(k);
            if (ch == u')') {
                r = k;
            } else if (ch == u' ' || isControl(k)) {
                finishAll(k);
                break;
            } else if (ch == u'(') {
                levels.emplace_back();
                ++k;
                continue;
            } else if (ch == u'\\' && k + 1 < m_n && isAsciiPunct(key(k + 1))) {
                k += 2;
                continue;
            } else {
                ++k;
                continue;
            }
        }
        for (int node : levels.back()) {
            destMemo.set(node, r);
        }
        levels.pop_back();
        if (levels.empty()) {
            result = r;
        } else if (r < m_n && key(r) == u')') {
            k = r + 1;
        } else {
            finishAll(r);
        }
    }
    return std::min(result, bound);
}

template <class Step>
static int memoisedScan(Memo& memo, int n, int x, std::vector<int>& path, Step step) {
    path.clear();
    int k = x;
    int result;
    while (true) {
        if (k >= n) {
            result = kNone;
            break;
        }
        const int known = memo.get(k);
        if (known != kUnknown) {
            result = known;
            break;
        }
        path.push_back(k);
        const int next = step(k);
        if (next < 0) {
            result = k;
            break;
        }
        k = next;
    }
    for (int p : path) {
        memo.set(p, result);
    }
    return result;
}

int Parser::titleClose(char16_t close, int x, int bound) {
    const size_t slot = close == u'"' ? 0 : close == u'\'' ? 1 : 2;
    const int r = memoisedScan(memo(m_titleMemo[slot]), m_n, x, m_path, [&](int k) {
        const char16_t ch = key(k);
        if (ch == close) {
            return -1;
        }
        return ch == u'\\' ? k + 2 : k + 1;
    });
    return r >= 0 && r < bound ? r : kNone;
}

int Parser::skipSpaces(int x, int bound) {
    const int r = memoisedScan(memo(m_spaceMemo), m_n, x, m_path,
                               [&](int k) { return key(k) == u' ' || isNewline(k) ? k + 1 : -1; });
    return r < 0 ? bound : std::min(r, bound);
}

int Parser::nextAngle(int x, int bound) {
    const int r = memoisedScan(memo(m_angleMemo), m_n, x, m_path,
                               [&](int k) { return key(k) == u'>' || isNewline(k) ? -1 : k + 1; });
    return r >= 0 && r < bound ? r : kNone;
}

// Steps 2 to 5 of a link after its closing bracket q: "(", destination, optional title, ")".
Parser::LinkTail Parser::tail(int q, int bound) {
    LinkTail t;
    int x = q + 1;
    if (x >= bound || key(x) != u'(') {
        return t;
    }
    x = skipSpaces(x + 1, bound);
    if (x >= bound) {
        return t;
    }
    int destLo;
    int destHi;
    bool angle = false;
    if (key(x) == u'<') {
        const int y = nextAngle(x + 1, bound);
        if (y < 0 || key(y) != u'>') {
            return t;
        }
        destLo = x + 1;
        destHi = y;
        angle = true;
        x = y + 1;
    } else {
        destLo = x;
        destHi = destEnd(x, bound);
        x = destHi;
    }
    x = skipSpaces(x, bound);
    if (x >= bound) {
        return t;
    }
    const char16_t opener = key(x);
    if (opener == u'"' || opener == u'\'' || opener == u'(') {
        const int y = titleClose(opener == u'(' ? u')' : opener, x + 1, bound);
        if (y < 0) {
            return t;
        }
        x = skipSpaces(y + 1, bound);
        if (x >= bound) {
            return t;
        }
    }
    if (key(x) != u')') {
        return t;
    }
    t.ok = true;
    t.end = x + 1;
    if (angle) {
        t.dest = span(destLo, destHi).toString();
    } else {
        t.dest.reserve(unitStart(destHi) - unitStart(destLo));
        int k = destLo;
        while (k < destHi) {
            if (key(k) == u'\\' && k + 1 < destHi && isAsciiPunct(key(k + 1))) {
                t.dest += QChar(key(k + 1));
                k += 2;
            } else {
                t.dest += span(k, k + 1);
                ++k;
            }
        }
    }
    return t;
}

std::optional<LinkParts> Parser::linkParts(int p, int hi) {
    const int q = bracketClose(p, hi);
    if (q < 0) {
        return std::nullopt;
    }
    LinkTail t;
    if (q == m_matchMemo.get(p)) {
        // The same bracket as over the whole text: what follows it does not depend on the range
        // except that it must end inside it.
        auto it = m_tails.find(p);
        if (it == m_tails.end()) {
            it = m_tails.emplace(p, tail(q, m_n)).first;
        }
        if (!it->second.ok || it->second.end > hi) {
            return std::nullopt;
        }
        t = it->second;
    } else {
        t = tail(q, hi);
        if (!t.ok) {
            return std::nullopt;
        }
    }
    return LinkParts{p + 1, q, std::move(t.dest), t.end};
}

void Parser::literal(Frame& f, QStringView s) {
    if (f.plain) {
        m_acc[size_t(f.acc)] += s;
    } else {
        m_buf += s;
    }
}

// Only the frame on top collects literal text; a frame is flushed before a nested one starts.
void Parser::flush() {
    if (m_buf.isEmpty()) {
        return;
    }
    std::vector<MDInline>& out = m_outs[m_frames.size() - 1];
    if (!out.empty() && out.back().kind == MDInline::Kind::text) {
        out.back().text += m_buf;
    } else {
        out.push_back(MDInline::makeText(QString(m_buf.constData(), m_buf.size())));
    }
    m_buf.truncate(0);
}

void Parser::emit(Frame& f, MDInline node) {
    if (f.plain) {
        switch (node.kind) {
        case MDInline::Kind::text:
        case MDInline::Kind::code:
        case MDInline::Kind::image:
            m_acc[size_t(f.acc)] += node.text;
            break;
        case MDInline::Kind::lineBreak:
        case MDInline::Kind::softBreak:
            m_acc[size_t(f.acc)] += u'\n';
            break;
        default:
            m_acc[size_t(f.acc)] += plainText({node});
            break;
        }
        return;
    }
    flush();
    std::vector<MDInline>& out = m_outs[m_frames.size() - 1];
    if (node.kind == MDInline::Kind::text && !out.empty() &&
        out.back().kind == MDInline::Kind::text) {
        out.back().text += node.text;
    } else {
        out.push_back(std::move(node));
    }
}

void Parser::codeSpan(Frame& f) {
    const int i = f.i;
    const int e = std::min(runEnd(i), f.hi);
    const int length = e - i;
    const int c = findClosing(e, length, f.hi);
    if (c < 0) {
        literal(f, span(i, e));
        f.i = e;
        return;
    }
    QString content;
    content.reserve(unitStart(c) - unitStart(e));
    bool onlySpaces = true;
    for (int k = e; k < c; ++k) {
        const char16_t ch = key(k);
        if (ch == u'\n' || ch == kHardBreak || ch == u' ') {
            content += u' ';
        } else {
            content += span(k, k + 1);
            onlySpaces = false;
        }
    }
    if (c - e >= 2 && !onlySpaces && content.startsWith(u' ') && content.endsWith(u' ') &&
        (key(e) == u' ' || key(e) == u'\n' || key(e) == kHardBreak) &&
        (key(c - 1) == u' ' || key(c - 1) == u'\n' || key(c - 1) == kHardBreak)) {
        content = content.mid(1, content.size() - 2);
    }
    emit(f, MDInline::makeCode(std::move(content)));
    f.i = c + length;
}

bool Parser::autolink(Frame& f) {
    const int i = f.i;
    int j = i + 1;
    while (j < f.hi) {
        const char16_t ch = key(j);
        if (ch == u'>') {
            break;
        }
        if (ch == u' ' || ch == u'<' || isNewline(j)) {
            return false;
        }
        ++j;
    }
    if (j >= f.hi || j == i + 1) {
        return false;
    }
    const QStringView content = span(i + 1, j);
    if (auto url = safeURL(content, true)) {
        QString display = *url;
        if (display.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
            display.remove(0, 7);
        }
        emit(f, MDInline::makeLink(std::move(url), {MDInline::makeText(display)}));
    } else if (EmailAddress::isValid(content)) {
        emit(f, MDInline::makeLink(QStringLiteral("mailto:") + content.toString(),
                                   {MDInline::makeText(content.toString())}));
    } else {
        return false;
    }
    f.i = j + 1;
    return true;
}

void Parser::push(size_t fi, Frame child) {
    Frame& parent = m_frames[fi];
    if (parent.plain) {
        child.plain = true;
        child.acc = parent.acc;
    } else {
        flush();
    }
    child.i = child.lo;
    m_frames.push_back(std::move(child));
    if (m_outs.size() < m_frames.size()) {
        m_outs.resize(m_frames.size());
    }
}

bool Parser::delimiter(size_t fi) {
    Frame& f = m_frames[fi];
    const int i = f.i;
    const char16_t d = key(i);
    const int e = std::min(runEnd(i), f.hi);
    const int r = e - i;
    const int s = e;
    auto failRun = [&] {
        literal(f, span(i, e));
        f.i = e;
        return false;
    };
    if (s >= f.hi || isWhitespace(s)) {
        return failRun();
    }
    if (d == u'_' && i > 0 && isAlnum(i - 1)) {
        return failRun();
    }
    if (d == u'~') {
        if (r != 2) {
            return failRun();
        }
        const Closer c = closer(kStrikeWalk, s, f.hi);
        if (c.k < 0) {
            return failRun();
        }
        Frame child;
        child.lo = s;
        child.hi = c.e - 2;
        child.allowLinks = f.allowLinks;
        child.then = Then::strike;
        child.continueAt = c.e;
        push(fi, std::move(child));
        return true;
    }
    const int base = d == u'*' ? 0 : 3;
    for (int n = std::min(r, 3); n >= 1; --n) {
        const Closer c = closer(base + n - 1, s, f.hi);
        if (c.k >= 0 && c.e - n > s) {
            if (r > n) {
                literal(f, QString(r - n, QChar(d)));
            }
            Frame child;
            child.lo = s;
            child.hi = c.e - n;
            child.allowLinks = f.allowLinks;
            child.then = n == 1 ? Then::emphasis : n == 2 ? Then::strong : Then::strongEmphasis;
            child.continueAt = c.e;
            push(fi, std::move(child));
            return true;
        }
    }
    return failRun();
}

// Runs the range on top of the stack until it ends (false) or opens a nested range (true).
bool Parser::advance(size_t fi) {
    Frame& f = m_frames[fi];
    while (f.i < f.hi) {
        const int i = f.i;
        const char16_t ch = key(i);
        if (!isSpecial(ch)) {
            int j = i + 1;
            while (j < f.hi && !isSpecial(key(j))) {
                ++j;
            }
            literal(f, span(i, j));
            f.i = j;
            continue;
        }
        switch (ch) {
        case u'\\':
            if (i + 1 < f.hi && isAsciiPunct(key(i + 1))) {
                literal(f, span(i + 1, i + 2));
                f.i = i + 2;
            } else {
                literal(f, u"\\");
                f.i = i + 1;
            }
            break;
        case kHardBreak:
            emit(f, MDInline::makeLineBreak());
            f.i = i + 1;
            break;
        case u'\n':
            emit(f, MDInline::makeSoftBreak());
            f.i = i + 1;
            break;
        case u'`':
            codeSpan(f);
            break;
        case u'!':
            if (i + 1 < f.hi && key(i + 1) == u'[') {
                if (auto parts = linkParts(i + 1, f.hi)) {
                    Frame child;
                    child.lo = parts->textLo;
                    child.hi = parts->textHi;
                    child.allowLinks = false;
                    child.plain = true;
                    child.then = Then::image;
                    child.continueAt = parts->end;
                    if (!f.plain) {
                        child.url = imageURL(parts->dest);
                        m_acc.emplace_back();
                        child.acc = int(m_acc.size()) - 1;
                    }
                    push(fi, std::move(child));
                    return true;
                }
            }
            literal(f, u"!");
            f.i = i + 1;
            break;
        case u'[':
            if (f.allowLinks) {
                if (auto parts = linkParts(i, f.hi)) {
                    Frame child;
                    child.lo = parts->textLo;
                    child.hi = parts->textHi;
                    child.allowLinks = false;
                    child.then = Then::link;
                    child.continueAt = parts->end;
                    child.url = safeURL(parts->dest, true);
                    push(fi, std::move(child));
                    return true;
                }
            }
            literal(f, u"[");
            f.i = i + 1;
            break;
        case u'<':
            if (!f.allowLinks || !autolink(f)) {
                literal(f, u"<");
                f.i = i + 1;
            }
            break;
        default: // "*", "_", "~"
            if (delimiter(fi)) {
                return true;
            }
            break;
        }
    }
    return false;
}

QList<MDInline> Parser::run(bool allowLinks) {
    Frame root;
    root.lo = 0;
    root.hi = m_n;
    root.allowLinks = allowLinks;
    m_frames.push_back(std::move(root));
    if (m_outs.empty()) {
        m_outs.resize(1);
    }
    while (true) {
        if (advance(m_frames.size() - 1)) {
            continue;
        }
        QList<MDInline> out;
        if (!m_frames.back().plain) {
            flush();
            std::vector<MDInline>& nodes = m_outs[m_frames.size() - 1];
            out.reserve(qsizetype(nodes.size()));
            for (MDInline& node : nodes) {
                out.append(std::move(node));
            }
            nodes.clear();
        }
        Frame done = std::move(m_frames.back());
        m_frames.pop_back();
        if (m_frames.empty()) {
            return out;
        }
        Frame& parent = m_frames.back();
        if (!parent.plain) {
            switch (done.then) {
            case Then::emphasis:
                emit(parent, MDInline::makeEmphasis(std::move(out)));
                break;
            case Then::strong:
                emit(parent, MDInline::makeStrong(std::move(out)));
                break;
            case Then::strongEmphasis:
                emit(parent, MDInline::makeStrong({MDInline::makeEmphasis(std::move(out))}));
                break;
            case Then::strike:
                emit(parent, MDInline::makeStrike(std::move(out)));
                break;
            case Then::link:
                emit(parent, MDInline::makeLink(std::move(done.url), std::move(out)));
                break;
            case Then::image:
                emit(parent, MDInline::makeImage(std::move(m_acc.back()), std::move(done.url)));
                m_acc.pop_back();
                break;
            case Then::root:
                break;
            }
        }
        parent.i = done.continueAt;
    }
}

QString combineLink(const QString& t, const std::optional<QString>& href) {
    if (!href) {
        return t;
    }
    QString h = *href;
    if (h.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
        h.remove(0, 7);
    }
    if (!t.isEmpty() && t != h) {
        return t + QStringLiteral(" (") + h + u')';
    }
    return h;
}

} // namespace

QList<MDInline> parse(const QString& text, bool allowLinks) {
    if (text.isEmpty()) {
        return {};
    }
    thread_local Parser shared;
    thread_local bool busy = false;
    if (busy) {
        Parser own;
        own.reset(text);
        return own.run(allowLinks);
    }
    busy = true;
    shared.reset(text);
    QList<MDInline> result = shared.run(allowLinks);
    shared.release();
    busy = false;
    return result;
}

QString plainText(const QList<MDInline>& nodes) {
    struct Level {
        const QList<MDInline>* list;
        qsizetype index;
        const MDInline* link;
        qsizetype linkStart;
    };
    QString out;
    std::vector<Level> stack;
    stack.push_back({&nodes, 0, nullptr, 0});
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.index == top.list->size()) {
            if (top.link) {
                const QString t = out.mid(top.linkStart);
                out.truncate(top.linkStart);
                out += combineLink(t, top.link->url);
            }
            stack.pop_back();
            continue;
        }
        const MDInline& n = (*top.list)[top.index++];
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
            stack.push_back({&n.children, 0, nullptr, 0});
            break;
        case MDInline::Kind::link:
            stack.push_back({&n.children, 0, &n, out.size()});
            break;
        }
    }
    return out;
}

std::optional<QString> imageURL(QStringView raw) {
    if (auto url = safeURL(raw, false)) {
        return url;
    }
    if (auto name = MediaReference::nameOfDestination(raw)) {
        return QStringLiteral("media/") + *name;
    }
    return std::nullopt;
}

std::optional<QString> safeURL(QStringView raw, bool allowMailto) {
    const QStringView t = raw.trimmed();
    for (QChar c : t) {
        const char16_t u = c.unicode();
        if (u < 33 || u == 127) {
            return std::nullopt;
        }
    }
    if (t.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        return t.size() > 8 ? std::optional<QString>(t.toString()) : std::nullopt;
    }
    if (t.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        return t.size() > 7 ? std::optional<QString>(t.toString()) : std::nullopt;
    }
    if (allowMailto && t.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive) &&
        t.size() >= 8) {
        return t.toString();
    }
    return std::nullopt;
}

QList<MDInline> mergeText(const QList<MDInline>& nodes) {
    QList<MDInline> out;
    out.reserve(nodes.size());
    for (const MDInline& n : nodes) {
        if (n.kind == MDInline::Kind::text && !out.isEmpty() &&
            out.last().kind == MDInline::Kind::text) {
            out.last().text += n.text;
        } else {
            out.append(n);
        }
    }
    return out;
}

} // namespace quillmere::MDInlineParser
