#include "core/library_json.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace quillmere::LibraryJSON {

namespace {

// MARK: writing

constexpr char hexUpper[] = "0123456789ABCDEF";
constexpr char hexLower[] = "0123456789abcdef";

// Writes into a buffer it grows itself; QByteArray::append per piece costs more than the JSON.
class Writer {
public:
    explicit Writer(qsizetype capacity) {
        m_out.resize(std::max<qsizetype>(capacity, 1024));
        m_cursor = m_out.data();
        m_limit = m_out.data() + m_out.size();
    }

    // The document ends with a line break, as Qt writes it.
    void finish() { put('\n'); }

    QByteArray take() {
        m_out.truncate(m_cursor - m_out.constData());
        return std::move(m_out);
    }

    void beginObject() {
        put('{');
        ++m_depth;
        m_first = true;
    }
    void endObject() {
        --m_depth;
        newline();
        put('}');
        m_first = false;
    }
    void beginArray() {
        put('[');
        ++m_depth;
        m_first = true;
    }
    void endArray() {
        --m_depth;
        newline();
        put(']');
        m_first = false;
    }
    // Starts a member or an element: separator, line break and indentation.
    void key(const char* name) {
        element();
        const size_t n = std::strlen(name);
        reserve(qsizetype(n) + 4);
        *m_cursor++ = '"';
        std::memcpy(m_cursor, name, n);
        m_cursor += n;
        std::memcpy(m_cursor, "\": ", 3);
        m_cursor += 3;
    }
    void element() {
        if (!m_first) {
            put(',');
        }
        m_first = false;
        newline();
    }

    void string(const QString& text) {
        const QChar* c = text.constData();
        const qsizetype n = text.size();
        reserve(n * 6 + 2); // the longest form of one code unit is a \uXXXX escape
        *m_cursor++ = '"';
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t u = c[i].unicode();
            if (u < 0x80) {
                ascii(char(u));
            } else if (u < 0x800) {
                *m_cursor++ = char(0xC0 | (u >> 6));
                *m_cursor++ = char(0x80 | (u & 0x3F));
            } else if (QChar::isHighSurrogate(u) && i + 1 < n && c[i + 1].isLowSurrogate()) {
                const char32_t cp = QChar::surrogateToUcs4(u, c[i + 1].unicode());
                ++i;
                *m_cursor++ = char(0xF0 | (cp >> 18));
                *m_cursor++ = char(0x80 | ((cp >> 12) & 0x3F));
                *m_cursor++ = char(0x80 | ((cp >> 6) & 0x3F));
                *m_cursor++ = char(0x80 | (cp & 0x3F));
            } else if (QChar::isSurrogate(u)) {
                // A lone surrogate has no UTF-8 form; JSON keeps it as an escape.
                unicodeEscape(u);
            } else {
                *m_cursor++ = char(0xE0 | (u >> 12));
                *m_cursor++ = char(0x80 | ((u >> 6) & 0x3F));
                *m_cursor++ = char(0x80 | (u & 0x3F));
            }
        }
        *m_cursor++ = '"';
    }

    void integer(qint64 value) {
        const QByteArray digits = QByteArray::number(value);
        reserve(digits.size());
        std::memcpy(m_cursor, digits.constData(), size_t(digits.size()));
        m_cursor += digits.size();
    }

    void boolean(bool value) {
        reserve(5);
        std::memcpy(m_cursor, value ? "true" : "false", value ? 4 : 5);
        m_cursor += value ? 4 : 5;
    }

    void uuid(const QUuid& id) {
        reserve(38);
        char* p = m_cursor;
        *p++ = '"';
        const auto byte = [&p](uchar b) {
            *p++ = hexUpper[b >> 4];
            *p++ = hexUpper[b & 0xF];
        };
        byte(uchar(id.data1 >> 24));
        byte(uchar(id.data1 >> 16));
        byte(uchar(id.data1 >> 8));
        byte(uchar(id.data1));
        *p++ = '-';
        byte(uchar(id.data2 >> 8));
        byte(uchar(id.data2));
        *p++ = '-';
        byte(uchar(id.data3 >> 8));
        byte(uchar(id.data3));
        *p++ = '-';
        byte(id.data4[0]);
        byte(id.data4[1]);
        *p++ = '-';
        for (int i = 2; i < 8; ++i) {
            byte(id.data4[i]);
        }
        *p++ = '"';
        m_cursor = p;
    }

    void date(const QDateTime& value) {
        const QDateTime utc = IsoDate::writable(value);
        const QDate d = utc.date();
        const QTime t = utc.time();
        reserve(26);
        char* text = m_cursor;
        auto digits = [text](int at, int v, int count) {
            for (int i = count - 1; i >= 0; --i) {
                text[at + i] = char('0' + v % 10);
                v /= 10;
            }
        };
        text[0] = '"';
        digits(1, d.year(), 4);
        text[5] = '-';
        digits(6, d.month(), 2);
        text[8] = '-';
        digits(9, d.day(), 2);
        text[11] = 'T';
        digits(12, t.hour(), 2);
        text[14] = ':';
        digits(15, t.minute(), 2);
        text[17] = ':';
        digits(18, t.second(), 2);
        text[20] = '.';
        digits(21, t.msec(), 3);
        text[24] = 'Z';
        text[25] = '"';
        m_cursor += 26;
    }

private:
    void reserve(qsizetype n) {
        if (m_limit - m_cursor >= n) {
            return;
        }
        const qsizetype used = m_cursor - m_out.data();
        m_out.resize(std::max(m_out.size() * 2, used + n + 1024));
        m_cursor = m_out.data() + used;
        m_limit = m_out.data() + m_out.size();
    }

    void put(char c) {
        reserve(1);
        *m_cursor++ = c;
    }

    void newline() {
        const qsizetype width = qsizetype(m_depth) * 2;
        reserve(width + 1);
        *m_cursor++ = '\n';
        std::memset(m_cursor, ' ', size_t(width));
        m_cursor += width;
    }

    // Room was reserved by the caller.
    void ascii(char c) {
        const char* escape = nullptr;
        switch (c) {
        case '"':
            escape = "\\\"";
            break;
        case '\\':
            escape = "\\\\";
            break;
        case '\b':
            escape = "\\b";
            break;
        case '\f':
            escape = "\\f";
            break;
        case '\n':
            escape = "\\n";
            break;
        case '\r':
            escape = "\\r";
            break;
        case '\t':
            escape = "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                unicodeEscape(char16_t(c));
            } else {
                *m_cursor++ = c;
            }
            return;
        }
        *m_cursor++ = escape[0];
        *m_cursor++ = escape[1];
    }

    void unicodeEscape(char16_t u) {
        *m_cursor++ = '\\';
        *m_cursor++ = 'u';
        *m_cursor++ = hexLower[(u >> 12) & 0xF];
        *m_cursor++ = hexLower[(u >> 8) & 0xF];
        *m_cursor++ = hexLower[(u >> 4) & 0xF];
        *m_cursor++ = hexLower[u & 0xF];
    }

    QByteArray m_out;
    char* m_cursor = nullptr;
    char* m_limit = nullptr;
    int m_depth = 0;
    bool m_first = true;
};

void writeProfile(Writer& w, const SenderProfile& p) {
    w.beginObject();
    w.key("domain");
    w.string(p.domain);
    w.key("doubleOptIn");
    w.boolean(p.doubleOptIn);
    w.key("fromEmail");
    w.string(p.fromEmail);
    w.key("fromName");
    w.string(p.fromName);
    w.key("postalAddress");
    w.string(p.postalAddress);
    w.key("publicationName");
    w.string(p.publicationName);
    w.key("region");
    w.string(p.region);
    w.key("replyTo");
    w.string(p.replyTo);
    w.key("workerBaseURL");
    w.string(p.workerBaseURL);
    w.endObject();
}

void writeStats(Writer& w, const CampaignStats& s) {
    w.beginObject();
    w.key("bounced");
    w.integer(s.bounced);
    w.key("complained");
    w.integer(s.complained);
    w.key("failed");
    w.integer(s.failed);
    w.key("recipients");
    w.integer(s.recipients);
    w.key("sent");
    w.integer(s.sent);
    w.key("unsubscribed");
    w.integer(s.unsubscribed);
    w.endObject();
}

bool uuidLess(const QUuid& a, const QUuid& b) {
    if (a.data1 != b.data1) {
        return a.data1 < b.data1;
    }
    if (a.data2 != b.data2) {
        return a.data2 < b.data2;
    }
    if (a.data3 != b.data3) {
        return a.data3 < b.data3;
    }
    return std::memcmp(a.data4, b.data4, 8) < 0;
}

void writeIDs(Writer& w, const char* key, const QSet<QUuid>& set) {
    w.key(key);
    w.beginArray();
    std::vector<QUuid> ids(set.cbegin(), set.cend());
    std::sort(ids.begin(), ids.end(), uuidLess); // the order of their canonical texts
    for (const QUuid& id : ids) {
        w.element();
        w.uuid(id);
    }
    w.endArray();
}

void writeNewsletter(Writer& w, const Newsletter& n) {
    w.beginObject();
    w.key("createdAt");
    w.date(n.createdAt);
    writeIDs(w, "deliveredIDs", n.deliveredIDs);
    if (!n.failedIDs.isEmpty()) {
        writeIDs(w, "failedIDs", n.failedIDs);
    }
    w.key("id");
    w.uuid(n.id);
    w.key("markdown");
    w.string(n.markdown);
    w.key("previewText");
    w.string(n.previewText);
    if (n.sentAt) {
        w.key("sentAt");
        w.date(*n.sentAt);
    }
    w.key("stats");
    writeStats(w, n.stats);
    w.key("status");
    w.string(rawValue(n.status));
    w.key("subject");
    w.string(n.subject);
    w.key("template");
    w.string(rawValue(n.emailTemplate));
    if (!n.uncertainIDs.isEmpty()) {
        writeIDs(w, "uncertainIDs", n.uncertainIDs);
    }
    w.endObject();
}

void writeSubscriber(Writer& w, const Subscriber& s) {
    w.beginObject();
    w.key("createdAt");
    w.date(s.createdAt);
    w.key("email");
    w.string(s.email);
    w.key("id");
    w.uuid(s.id);
    w.key("name");
    w.string(s.name);
    w.key("source");
    w.string(s.source);
    w.key("status");
    w.string(rawValue(s.status));
    w.key("updatedAt");
    w.date(s.updatedAt);
    w.endObject();
}

// MARK: reading

// Thrown inside the fast reader to leave it; the caller falls back to the strict path.
struct NotFast {};

constexpr auto hexDigits = [] {
    std::array<signed char, 256> table{};
    for (auto& v : table) {
        v = -1;
    }
    for (int i = 0; i < 10; ++i) {
        table['0' + i] = static_cast<signed char>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['a' + i] = table['A' + i] = static_cast<signed char>(10 + i);
    }
    return table;
}();

class Reader {
public:
    explicit Reader(QByteArrayView bytes)
        : m_p(bytes.data())
        , m_end(bytes.data() + bytes.size()) {}

    Library library() {
        Library library;
        unsigned seen = 0;
        object([&](QByteArrayView key) {
            if (key == "profile") {
                once(seen, 1);
                library.profile = profile();
            } else if (key == "subscribers") {
                once(seen, 2);
                array([&] { library.subscribers.append(subscriber()); });
            } else if (key == "newsletters") {
                once(seen, 4);
                array([&] { library.newsletters.append(newsletter()); });
            } else if (key == "lastSync") {
                once(seen, 8);
                library.lastSync = date();
            } else {
                throw NotFast{};
            }
        });
        space();
        if (m_p != m_end) {
            throw NotFast{};
        }
        return library;
    }

private:
    static void once(unsigned& seen, unsigned bit) {
        if (seen & bit) {
            throw NotFast{};
        }
        seen |= bit;
    }
    static void require(unsigned seen, unsigned all) {
        if (seen != all) {
            throw NotFast{};
        }
    }

    SenderProfile profile() {
        SenderProfile p;
        unsigned seen = 0;
        object([&](QByteArrayView key) {
            if (key == "domain") {
                once(seen, 1), p.domain = string();
            } else if (key == "doubleOptIn") {
                once(seen, 2), p.doubleOptIn = boolean();
            } else if (key == "fromEmail") {
                once(seen, 4), p.fromEmail = string();
            } else if (key == "fromName") {
                once(seen, 8), p.fromName = string();
            } else if (key == "postalAddress") {
                once(seen, 16), p.postalAddress = string();
            } else if (key == "publicationName") {
                once(seen, 32), p.publicationName = string();
            } else if (key == "region") {
                once(seen, 64), p.region = string();
            } else if (key == "replyTo") {
                once(seen, 128), p.replyTo = string();
            } else if (key == "workerBaseURL") {
                once(seen, 256), p.workerBaseURL = string();
            } else {
                throw NotFast{};
            }
        });
        require(seen, 511);
        return p;
    }

    Subscriber subscriber() {
        Subscriber s;
        unsigned seen = 0;
        object([&](QByteArrayView key) {
            if (key == "createdAt") {
                once(seen, 1), s.createdAt = date();
            } else if (key == "email") {
                once(seen, 2), s.email = string();
            } else if (key == "id") {
                once(seen, 4), s.id = uuid();
            } else if (key == "name") {
                once(seen, 8), s.name = string();
            } else if (key == "source") {
                once(seen, 16), s.source = string();
            } else if (key == "status") {
                once(seen, 32), s.status = enumeration<SubscriberStatus>();
            } else if (key == "updatedAt") {
                once(seen, 64), s.updatedAt = date();
            } else {
                throw NotFast{};
            }
        });
        require(seen, 127);
        return s;
    }

    CampaignStats stats() {
        CampaignStats s;
        unsigned seen = 0;
        object([&](QByteArrayView key) {
            if (key == "bounced") {
                once(seen, 1), s.bounced = integer();
            } else if (key == "complained") {
                once(seen, 2), s.complained = integer();
            } else if (key == "failed") {
                once(seen, 4), s.failed = integer();
            } else if (key == "recipients") {
                once(seen, 8), s.recipients = integer();
            } else if (key == "sent") {
                once(seen, 16), s.sent = integer();
            } else if (key == "unsubscribed") {
                once(seen, 32), s.unsubscribed = integer();
            } else {
                throw NotFast{};
            }
        });
        require(seen, 63);
        return s;
    }

    Newsletter newsletter() {
        Newsletter n;
        unsigned seen = 0;
        object([&](QByteArrayView key) {
            if (key == "createdAt") {
                once(seen, 1), n.createdAt = date();
            } else if (key == "deliveredIDs") {
                once(seen, 2);
                array([&] { n.deliveredIDs.insert(uuid()); });
            } else if (key == "failedIDs") {
                once(seen, 1024);
                array([&] { n.failedIDs.insert(uuid()); });
            } else if (key == "uncertainIDs") {
                once(seen, 2048);
                array([&] { n.uncertainIDs.insert(uuid()); });
            } else if (key == "id") {
                once(seen, 4), n.id = uuid();
            } else if (key == "markdown") {
                once(seen, 8), n.markdown = string();
            } else if (key == "previewText") {
                once(seen, 16), n.previewText = string();
            } else if (key == "sentAt") {
                once(seen, 32), n.sentAt = date();
            } else if (key == "stats") {
                once(seen, 64), n.stats = stats();
            } else if (key == "status") {
                once(seen, 128), n.status = enumeration<CampaignStatus>();
            } else if (key == "subject") {
                once(seen, 256), n.subject = string();
            } else if (key == "template") {
                once(seen, 512), n.emailTemplate = enumeration<EmailTemplate>();
            } else {
                throw NotFast{};
            }
        });
        require((seen | 32) & 1023, 1023); // sentAt, failedIDs and uncertainIDs are optional
        return n;
    }

    // MARK: JSON grammar

    void space() {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t')) {
            ++m_p;
        }
    }

    void expect(char c) {
        space();
        if (m_p == m_end || *m_p != c) {
            throw NotFast{};
        }
        ++m_p;
    }

    bool peek(char c) {
        space();
        return m_p != m_end && *m_p == c;
    }

    template <class Member>
    void object(Member member) {
        expect('{');
        if (peek('}')) {
            ++m_p;
            return;
        }
        do {
            const QByteArrayView k = rawKey();
            expect(':');
            member(k);
        } while (comma());
        expect('}');
    }

    template <class Element>
    void array(Element element) {
        expect('[');
        if (peek(']')) {
            ++m_p;
            return;
        }
        do {
            element();
        } while (comma());
        expect(']');
    }

    bool comma() {
        if (peek(',')) {
            ++m_p;
            return true;
        }
        return false;
    }

    // A key without escapes (ours are plain ASCII names).
    QByteArrayView rawKey() {
        expect('"');
        const char* start = m_p;
        while (m_p != m_end && *m_p != '"') {
            if (*m_p == '\\' || static_cast<unsigned char>(*m_p) < 0x20) {
                throw NotFast{};
            }
            ++m_p;
        }
        if (m_p == m_end) {
            throw NotFast{};
        }
        return QByteArrayView(start, m_p++ - start);
    }

    QString string() {
        expect('"');
        const char* start = m_p;
        bool ascii = true;
        while (m_p != m_end && *m_p != '"' && *m_p != '\\') {
            const auto c = static_cast<unsigned char>(*m_p);
            if (c < 0x20) {
                throw NotFast{};
            }
            ascii = ascii && c < 0x80;
            ++m_p;
        }
        if (m_p == m_end) {
            throw NotFast{};
        }
        if (*m_p == '"') {
            const QByteArrayView run(start, m_p++ - start);
            return ascii ? QString::fromLatin1(run) : utf8(run);
        }
        // Escapes: decode the raw runs between them as UTF-8.
        QString out = utf8(QByteArrayView(start, m_p - start));
        while (true) {
            if (m_p == m_end) {
                throw NotFast{};
            }
            if (*m_p == '"') {
                ++m_p;
                return out;
            }
            if (*m_p == '\\') {
                ++m_p;
                if (m_p == m_end) {
                    throw NotFast{};
                }
                switch (*m_p++) {
                case '"':
                    out += u'"';
                    break;
                case '\\':
                    out += u'\\';
                    break;
                case '/':
                    out += u'/';
                    break;
                case 'b':
                    out += u'\b';
                    break;
                case 'f':
                    out += u'\f';
                    break;
                case 'n':
                    out += u'\n';
                    break;
                case 'r':
                    out += u'\r';
                    break;
                case 't':
                    out += u'\t';
                    break;
                case 'u': {
                    const char16_t u = hex4();
                    if (QChar::isSurrogate(u)) {
                        throw NotFast{}; // pairs and lone halves: leave to the strict reader
                    }
                    out += QChar(u);
                    break;
                }
                default:
                    throw NotFast{};
                }
                continue;
            }
            const char* run = m_p;
            while (m_p != m_end && *m_p != '"' && *m_p != '\\') {
                if (static_cast<unsigned char>(*m_p) < 0x20) {
                    throw NotFast{};
                }
                ++m_p;
            }
            out += utf8(QByteArrayView(run, m_p - run));
        }
    }

    char16_t hex4() {
        if (m_end - m_p < 4) {
            throw NotFast{};
        }
        char16_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = char16_t(value << 4 | hexValue(*m_p++));
        }
        return value;
    }

    static int hexValue(char c) {
        const int v = hexDigits[static_cast<unsigned char>(c)];
        if (v < 0) {
            throw NotFast{};
        }
        return v;
    }

    static QString utf8(QByteArrayView bytes) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (decoder.hasError()) {
            throw NotFast{};
        }
        return text;
    }

    bool boolean() {
        space();
        if (m_end - m_p >= 4 && std::memcmp(m_p, "true", 4) == 0) {
            m_p += 4;
            return true;
        }
        if (m_end - m_p >= 5 && std::memcmp(m_p, "false", 5) == 0) {
            m_p += 5;
            return false;
        }
        throw NotFast{};
    }

    // Plain integers only; fractions and exponents take the strict path.
    qint64 integer() {
        space();
        const bool negative = m_p != m_end && *m_p == '-';
        if (negative) {
            ++m_p;
        }
        const char* start = m_p;
        quint64 value = 0;
        constexpr quint64 limit = quint64(std::numeric_limits<qint64>::max());
        while (m_p != m_end && *m_p >= '0' && *m_p <= '9') {
            if (value > limit / 10) {
                throw NotFast{};
            }
            value = value * 10 + quint64(*m_p++ - '0');
        }
        if (value > limit) {
            throw NotFast{};
        }
        const qsizetype digits = m_p - start;
        if (digits == 0 || (digits > 1 && *start == '0') ||
            (m_p != m_end && (*m_p == '.' || *m_p == 'e' || *m_p == 'E'))) {
            throw NotFast{};
        }
        return negative ? -qint64(value) : qint64(value);
    }

    QUuid uuid() {
        expect('"');
        if (m_end - m_p < 37 || m_p[36] != '"') {
            throw NotFast{};
        }
        const char* s = m_p;
        m_p += 37;
        auto hex = [s](int from, int count) {
            quint64 v = 0;
            for (int i = from; i < from + count; ++i) {
                v = v << 4 | quint64(hexValue(s[i]));
            }
            return v;
        };
        if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') {
            throw NotFast{};
        }
        return QUuid(uint(hex(0, 8)), ushort(hex(9, 4)), ushort(hex(14, 4)), uchar(hex(19, 2)),
                     uchar(hex(21, 2)), uchar(hex(24, 2)), uchar(hex(26, 2)), uchar(hex(28, 2)),
                     uchar(hex(30, 2)), uchar(hex(32, 2)), uchar(hex(34, 2)));
    }

    QDateTime date() {
        const QString text = string();
        if (auto d = IsoDate::parse(text)) {
            return *d;
        }
        throw NotFast{};
    }

    template <class E>
    E enumeration() {
        if (auto e = fromRaw<E>(string())) {
            return *e;
        }
        throw NotFast{};
    }

    const char* m_p;
    const char* m_end;
};

} // namespace

QByteArray write(const Library& library) {
    qsizetype ids = 0;
    qsizetype text = 0;
    for (const Newsletter& n : library.newsletters) {
        ids += n.deliveredIDs.size();
        text += n.markdown.size() + n.subject.size() + n.previewText.size();
    }
    Writer w(ids * 48 + library.subscribers.size() * 360 + text * 2 + 4096);
    w.beginObject();
    if (library.lastSync) {
        w.key("lastSync");
        w.date(*library.lastSync);
    }
    w.key("newsletters");
    w.beginArray();
    for (const Newsletter& n : library.newsletters) {
        w.element();
        writeNewsletter(w, n);
    }
    w.endArray();
    w.key("profile");
    writeProfile(w, library.profile);
    w.key("subscribers");
    w.beginArray();
    for (const Subscriber& s : library.subscribers) {
        w.element();
        writeSubscriber(w, s);
    }
    w.endArray();
    w.endObject();
    w.finish();
    return w.take();
}

std::optional<Library> readFast(QByteArrayView bytes) {
    try {
        return Reader(bytes).library();
    } catch (const NotFast&) {
        return std::nullopt;
    }
}

} // namespace quillmere::LibraryJSON
