#include "core/library_json_writer.h"

#include <QJsonArray>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quillmere::LibraryJSONWriter {

namespace {

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

    void integer(qint64 value) { raw(QByteArray::number(value)); }

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

    // A member this version does not read, written back as QJsonDocument would write it.
    void value(const QJsonValue& v) {
        switch (v.type()) {
        case QJsonValue::Bool:
            boolean(v.toBool());
            break;
        case QJsonValue::Double:
            // Two fallbacks tell a whole number apart (QJsonValue does not say which it holds).
            if (v.toInteger(0) == v.toInteger(1)) {
                integer(v.toInteger());
            } else if (const double d = v.toDouble(); std::isfinite(d)) {
                raw(QByteArray::number(d, 'g', QLocale::FloatingPointShortest));
            } else {
                raw("null");
            }
            break;
        case QJsonValue::String:
            string(v.toString());
            break;
        case QJsonValue::Array:
            beginArray();
            for (const QJsonValue& item : v.toArray()) {
                element();
                value(item);
            }
            endArray();
            break;
        case QJsonValue::Object: {
            const QJsonObject object = v.toObject();
            beginObject();
            for (auto it = object.begin(); it != object.end(); ++it) {
                key(it.key());
                value(it.value());
            }
            endObject();
            break;
        }
        case QJsonValue::Null:
        case QJsonValue::Undefined:
            raw("null");
            break;
        }
    }

    void key(const QString& name) {
        element();
        string(name);
        raw(": ");
    }

private:
    void raw(QByteArrayView text) {
        reserve(text.size());
        std::memcpy(m_cursor, text.data(), size_t(text.size()));
        m_cursor += text.size();
    }

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

// Puts the members this version does not read among the known ones, in key order; a known key
// wins over another member of the same name.
class Members {
public:
    Members(Writer& w, const QJsonObject& other)
        : m_w(w)
        , m_other(other)
        , m_none(other.isEmpty())
        , m_it(other.begin()) {}

    Q_ALWAYS_INLINE void key(const char* known) {
        if (!m_none) {
            before(QLatin1StringView(known));
        }
        m_w.key(known);
    }

    void end() {
        for (; !m_none && m_it != m_other.end(); ++m_it) {
            m_w.key(m_it.key());
            m_w.value(m_it.value());
        }
        m_w.endObject();
    }

private:
    // Writes the other members up to `known`, leaving out one of that very name.
    void before(QLatin1StringView known) {
        for (; m_it != m_other.end() && m_it.key() <= known; ++m_it) {
            if (m_it.key() != known) {
                m_w.key(m_it.key());
                m_w.value(m_it.value());
            }
        }
    }

    Writer& m_w;
    const QJsonObject& m_other;
    const bool m_none; // the common case, asked once rather than at every key
    QJsonObject::const_iterator m_it;
};

void writeProfile(Writer& w, const SenderProfile& p) {
    w.beginObject();
    Members m(w, p.otherMembers);
    m.key("domain");
    w.string(p.domain);
    m.key("doubleOptIn");
    w.boolean(p.doubleOptIn);
    m.key("fromEmail");
    w.string(p.fromEmail);
    m.key("fromName");
    w.string(p.fromName);
    m.key("postalAddress");
    w.string(p.postalAddress);
    m.key("publicationName");
    w.string(p.publicationName);
    m.key("region");
    w.string(p.region);
    m.key("replyTo");
    w.string(p.replyTo);
    m.key("workerBaseURL");
    w.string(p.workerBaseURL);
    m.end();
}

void writeStats(Writer& w, const CampaignStats& s) {
    w.beginObject();
    Members m(w, s.otherMembers);
    m.key("bounced");
    w.integer(s.bounced);
    m.key("complained");
    w.integer(s.complained);
    m.key("failed");
    w.integer(s.failed);
    m.key("recipients");
    w.integer(s.recipients);
    m.key("sent");
    w.integer(s.sent);
    m.key("unsubscribed");
    w.integer(s.unsubscribed);
    m.end();
}

inline bool uuidLess(const QUuid& a, const QUuid& b) {
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

void writeIDs(Writer& w, Members& m, const char* key, const QSet<QUuid>& set) {
    m.key(key);
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
    Members m(w, n.otherMembers);
    m.key("createdAt");
    w.date(n.createdAt);
    writeIDs(w, m, "deliveredIDs", n.deliveredIDs);
    if (!n.failedIDs.isEmpty()) {
        writeIDs(w, m, "failedIDs", n.failedIDs);
    }
    m.key("id");
    w.uuid(n.id);
    m.key("markdown");
    w.string(n.markdown);
    m.key("previewText");
    w.string(n.previewText);
    if (n.sentAt) {
        m.key("sentAt");
        w.date(*n.sentAt);
    }
    m.key("stats");
    writeStats(w, n.stats);
    m.key("status");
    w.string(rawValue(n.status));
    m.key("subject");
    w.string(n.subject);
    m.key("template");
    w.string(rawValue(n.emailTemplate));
    if (!n.uncertainIDs.isEmpty()) {
        writeIDs(w, m, "uncertainIDs", n.uncertainIDs);
    }
    m.end();
}

void writeSubscriber(Writer& w, const Subscriber& s) {
    w.beginObject();
    Members m(w, s.otherMembers);
    m.key("createdAt");
    w.date(s.createdAt);
    m.key("email");
    w.string(s.email);
    m.key("id");
    w.uuid(s.id);
    m.key("name");
    w.string(s.name);
    m.key("source");
    w.string(s.source);
    m.key("status");
    w.string(rawValue(s.status));
    m.key("updatedAt");
    w.date(s.updatedAt);
    m.end();
}

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
    Members m(w, library.otherMembers);
    if (library.lastSync) {
        m.key("lastSync");
        w.date(*library.lastSync);
    }
    m.key("newsletters");
    w.beginArray();
    for (const Newsletter& n : library.newsletters) {
        w.element();
        writeNewsletter(w, n);
    }
    w.endArray();
    m.key("profile");
    writeProfile(w, library.profile);
    m.key("subscribers");
    w.beginArray();
    for (const Subscriber& s : library.subscribers) {
        w.element();
        writeSubscriber(w, s);
    }
    w.endArray();
    m.end();
    w.finish();
    return w.take();
}

} // namespace quillmere::LibraryJSONWriter
