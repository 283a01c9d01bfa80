#include "core/library_json_reader.h"

#include "core/decoding_error.h"
#include "core/json_reader.h"

#include <QJsonArray>
#include <QStringDecoder>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace quillmere::LibraryJSONReader {

namespace {

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

// A JSON number as QJsonValue holds it: an integer when written without fraction or exponent
// and in range, else a double.
struct Number {
    bool isInteger = false;
    qint64 integer = 0;
    double real = 0;
};

// Where a record sits, for its errors: "subscribers[3]", "newsletters[0].stats" or a path
// given whole. The text is made only when an error needs it.
struct Place {
    const char* kind;
    const char* list = nullptr;
    qsizetype index = 0;
    const char* suffix = "";
    QString given = {};

    QString path() const {
        if (!list) {
            return given;
        }
        return QStringLiteral("%1[%2]%3")
            .arg(QLatin1StringView(list))
            .arg(index)
            .arg(QLatin1StringView(suffix));
    }
};

// The JSON grammar over the raw bytes, with the typed reads the records are built from.
class Parser {
public:
    explicit Parser(QByteArrayView bytes)
        : m_begin(bytes.data())
        , m_p(bytes.data())
        , m_end(bytes.data() + bytes.size()) {
        if (bytes.startsWith("\xEF\xBB\xBF")) {
            m_p += 3;
        }
    }

    [[noreturn]] void invalid(const char* what) const {
        throw DecodingError(QStringLiteral("Library"), QString(), QString(),
                            QStringLiteral("not valid JSON (%1 at byte %2)")
                                .arg(QLatin1StringView(what))
                                .arg(m_p - m_begin));
    }

    [[noreturn]] static void fail(const Place& place, const char* key, const QString& reason) {
        throw DecodingError(QString::fromLatin1(place.kind), place.path(),
                            key ? QString::fromLatin1(key) : QString(), reason);
    }

    // The next character of a value, after white space.
    char peek() {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t')) {
            ++m_p;
        }
        if (m_p == m_end) {
            invalid("unexpected end of the document");
        }
        return *m_p;
    }

    void expect(char c, const char* what) {
        if (peek() != c) {
            invalid(what);
        }
        ++m_p;
    }

    void end() {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t')) {
            ++m_p;
        }
        if (m_p != m_end) {
            invalid("garbage at the end of the document");
        }
    }

    // Calls member(key) for each member; the key is the member's name as UTF-8 (decoded when
    // it holds escapes) and `member` reads the value.
    template <class Member>
    void object(Member member) {
        expect('{', "expected an object");
        if (peek() == '}') {
            ++m_p;
            return;
        }
        while (true) {
            if (peek() != '"') {
                invalid("expected a member name");
            }
            const QByteArrayView key = name();
            expect(':', "missing name separator");
            member(key);
            const char c = peek();
            ++m_p;
            if (c == '}') {
                return;
            }
            if (c != ',') {
                --m_p;
                invalid("missing value separator");
            }
        }
    }

    template <class Element>
    void array(Element element) {
        expect('[', "expected a list");
        if (peek() == ']') {
            ++m_p;
            return;
        }
        qsizetype index = 0;
        while (true) {
            element(index++);
            const char c = peek();
            ++m_p;
            if (c == ']') {
                return;
            }
            if (c != ',') {
                --m_p;
                invalid("missing value separator");
            }
        }
    }

    QString string() {
        if (peek() != '"') {
            invalid("expected text");
        }
        ++m_p;
        const char* start = m_p;
        bool ascii = true;
        while (m_p != m_end && *m_p != '"' && *m_p != '\\') {
            const auto c = static_cast<unsigned char>(*m_p);
            if (c < 0x20) {
                invalid("control character in text");
            }
            ascii = ascii && c < 0x80;
            ++m_p;
        }
        if (m_p == m_end) {
            invalid("unterminated text");
        }
        if (*m_p == '"') {
            const QByteArrayView run(start, m_p++ - start);
            return ascii ? QString::fromLatin1(run) : utf8(run);
        }
        QString out = utf8(QByteArrayView(start, m_p - start));
        while (true) {
            if (m_p == m_end) {
                invalid("unterminated text");
            }
            if (*m_p == '"') {
                ++m_p;
                return out;
            }
            if (*m_p == '\\') {
                out += escape();
                continue;
            }
            const char* run = m_p;
            while (m_p != m_end && *m_p != '"' && *m_p != '\\') {
                if (static_cast<unsigned char>(*m_p) < 0x20) {
                    invalid("control character in text");
                }
                ++m_p;
            }
            out += utf8(QByteArrayView(run, m_p - run));
        }
    }

    Number number() {
        peek();
        const char* start = m_p;
        bool integral = true;
        if (m_p != m_end && *m_p == '-') {
            ++m_p;
        }
        if (m_p == m_end || !isDigit(*m_p)) {
            invalid("illegal value");
        }
        if (*m_p == '0') {
            ++m_p;
        } else {
            skipDigits();
        }
        if (m_p != m_end && *m_p == '.') {
            integral = false;
            ++m_p;
            if (m_p == m_end || !isDigit(*m_p)) {
                invalid("illegal number");
            }
            skipDigits();
        }
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            integral = false;
            ++m_p;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-')) {
                ++m_p;
            }
            if (m_p == m_end || !isDigit(*m_p)) {
                invalid("illegal number");
            }
            skipDigits();
        }
        Number n;
        if (integral) {
            const auto [end, error] = std::from_chars(start, m_p, n.integer);
            n.isInteger = error == std::errc() && end == m_p;
        }
        if (!n.isInteger && std::from_chars(start, m_p, n.real).ec != std::errc()) {
            invalid("illegal number"); // beyond what a double holds
        }
        return n;
    }

    bool literal(const char* word) {
        const size_t n = std::strlen(word);
        if (size_t(m_end - m_p) >= n && std::memcmp(m_p, word, n) == 0) {
            m_p += n;
            return true;
        }
        return false;
    }

    // Any value, as QJsonDocument would hold it.
    QJsonValue value() {
        switch (peek()) {
        case '{': {
            QJsonObject object;
            this->object([&](QByteArrayView key) { member(object, key); });
            return object;
        }
        case '[': {
            QJsonArray array;
            this->array([&](qsizetype) { array.append(value()); });
            return array;
        }
        case '"':
            return string();
        case 't':
        case 'f':
        case 'n':
            if (literal("true")) {
                return true;
            }
            if (literal("false")) {
                return false;
            }
            if (literal("null")) {
                return QJsonValue(QJsonValue::Null);
            }
            invalid("illegal value");
        default: {
            const Number n = number();
            return n.isInteger ? QJsonValue(n.integer) : QJsonValue(n.real);
        }
        }
    }

    // Reads the value of a member this version does not know into `into`.
    void member(QJsonObject& into, QByteArrayView key) {
        const QString name = m_keyEscaped ? m_escapedKey : QString::fromUtf8(key);
        into.insert(name, value());
    }

    // MARK: typed values

    [[noreturn]] void wrongType(const Place& place, const char* key, const char* expected) {
        const QString found = describeJsonValue(value());
        fail(place, key,
             QStringLiteral("expected %1, found %2").arg(QLatin1StringView(expected), found));
    }

    QString text(const Place& place, const char* key) {
        if (peek() != '"') {
            wrongType(place, key, "text");
        }
        return string();
    }

    bool boolean(const Place& place, const char* key) {
        peek();
        if (literal("true")) {
            return true;
        }
        if (literal("false")) {
            return false;
        }
        wrongType(place, key, "true or false");
    }

    // Whole numbers in any notation ("2", "2.0", "2e0"), as QJsonValue::toInteger reads them.
    qint64 whole(const Place& place, const char* key) {
        const char c = peek();
        if (c != '-' && !isDigit(c)) {
            wrongType(place, key, "a whole number");
        }
        const char* start = m_p;
        const Number n = number();
        if (n.isInteger) {
            return n.integer;
        }
        constexpr double limit = 9223372036854775808.0; // 2^63
        if (std::trunc(n.real) == n.real && n.real >= -limit && n.real < limit) {
            return qint64(n.real);
        }
        m_p = start;
        wrongType(place, key, "a whole number");
    }

    QDateTime date(const Place& place, const char* key) {
        if (peek() != '"') {
            wrongType(place, key, "a date");
        }
        const QString text = string();
        if (auto d = IsoDate::parse(text)) {
            return *d;
        }
        fail(place, key, QStringLiteral("Invalid ISO8601 date: ") + text);
    }

    QUuid uuid(const Place& place, const char* key) {
        if (auto id = canonicalUuid()) {
            return *id;
        }
        const QString text = this->text(place, key);
        if (auto id = uuidFrom(text)) {
            return *id;
        }
        fail(place, key, QStringLiteral("not a UUID: \"%1\"").arg(text));
    }

    QUuid uuidElement(const Place& place, const char* key, qsizetype index) {
        if (auto id = canonicalUuid()) {
            return *id;
        }
        const char* start = m_p;
        if (peek() == '"') {
            if (auto id = uuidFrom(string())) {
                return *id;
            }
        }
        m_p = start;
        fail(place, key,
             QStringLiteral("element %1 is not a UUID: %2")
                 .arg(index)
                 .arg(describeJsonValue(value())));
    }

    template <class E>
    E enumeration(const Place& place, const char* key) {
        const QString raw = text(place, key);
        if (auto e = fromRaw<E>(raw)) {
            return *e;
        }
        fail(place, key, QStringLiteral("unknown value \"%1\"").arg(raw));
    }

    // A value that must be an object; anything else is named as what it is.
    void requireObject(const Place& place) {
        if (peek() != '{') {
            const QString found = describeJsonValue(value());
            fail(place, nullptr, QStringLiteral("expected an object, found ") + found);
        }
    }

    void requireArray(const Place& place, const char* key) {
        if (peek() != '[') {
            wrongType(place, key, "a list");
        }
    }

private:
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    void skipDigits() {
        while (m_p != m_end && isDigit(*m_p)) {
            ++m_p;
        }
    }

    QString utf8(QByteArrayView bytes) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (decoder.hasError()) {
            invalid("invalid UTF-8 in text");
        }
        return text;
    }

    // After a backslash: the character it stands for. A \u pair of surrogates is one
    // character; a lone half is kept as it is, as QJsonDocument keeps it.
    QString escape() {
        ++m_p;
        if (m_p == m_end) {
            invalid("unterminated text");
        }
        switch (*m_p++) {
        case '"':
            return QStringLiteral("\"");
        case '\\':
            return QStringLiteral("\\");
        case '/':
            return QStringLiteral("/");
        case 'b':
            return QStringLiteral("\b");
        case 'f':
            return QStringLiteral("\f");
        case 'n':
            return QStringLiteral("\n");
        case 'r':
            return QStringLiteral("\r");
        case 't':
            return QStringLiteral("\t");
        case 'u': {
            const char16_t u = hex4();
            if (QChar::isHighSurrogate(u) && m_end - m_p >= 6 && m_p[0] == '\\' && m_p[1] == 'u') {
                const char* back = m_p;
                m_p += 2;
                const char16_t low = hex4();
                if (QChar::isLowSurrogate(low)) {
                    const QChar pair[2] = {QChar(u), QChar(low)};
                    return QString(pair, 2);
                }
                m_p = back;
            }
            return QString(QChar(u));
        }
        default:
            --m_p;
            invalid("illegal escape sequence");
        }
    }

    char16_t hex4() {
        if (m_end - m_p < 4) {
            invalid("illegal escape sequence");
        }
        char16_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigits[static_cast<unsigned char>(*m_p)];
            if (digit < 0) {
                invalid("illegal escape sequence");
            }
            value = char16_t(value << 4 | digit);
            ++m_p;
        }
        return value;
    }

    // A member name: the raw bytes when they hold no escape (every name this version knows),
    // else decoded.
    QByteArrayView name() {
        ++m_p; // the opening quote
        const char* start = m_p;
        unsigned char high = 0;
        while (m_p != m_end && *m_p != '"' && *m_p != '\\' &&
               static_cast<unsigned char>(*m_p) >= 0x20) {
            high |= static_cast<unsigned char>(*m_p);
            ++m_p;
        }
        if (m_p != m_end && *m_p == '"') {
            m_keyEscaped = false;
            const QByteArrayView key(start, m_p - start);
            ++m_p;
            if (high >= 0x80 && !key.isValidUtf8()) {
                invalid("invalid UTF-8 in text");
            }
            return key;
        }
        m_p = start - 1;
        m_escapedKey = string();
        m_escapedKeyUtf8 = m_escapedKey.toUtf8();
        m_keyEscaped = true;
        return m_escapedKeyUtf8;
    }

    // The 36-character upper- or lower-case form, without building a string.
    std::optional<QUuid> canonicalUuid() {
        if (peek() != '"' || m_end - m_p < 38 || m_p[37] != '"') {
            return std::nullopt;
        }
        const char* s = m_p + 1;
        if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') {
            return std::nullopt;
        }
        bool ok = true;
        auto hex = [s, &ok](int from, int count) {
            quint64 v = 0;
            for (int i = from; i < from + count; ++i) {
                const int digit = hexDigits[static_cast<unsigned char>(s[i])];
                ok = ok && digit >= 0;
                v = v << 4 | quint64(digit & 0xF);
            }
            return v;
        };
        const QUuid id(uint(hex(0, 8)), ushort(hex(9, 4)), ushort(hex(14, 4)), uchar(hex(19, 2)),
                       uchar(hex(21, 2)), uchar(hex(24, 2)), uchar(hex(26, 2)), uchar(hex(28, 2)),
                       uchar(hex(30, 2)), uchar(hex(32, 2)), uchar(hex(34, 2)));
        if (!ok) {
            return std::nullopt;
        }
        m_p += 38;
        return id;
    }

    static std::optional<QUuid> uuidFrom(const QString& text) {
        const QUuid id = QUuid::fromString(text);
        if (id.isNull() && text != QLatin1StringView("00000000-0000-0000-0000-000000000000")) {
            return std::nullopt;
        }
        return id;
    }

    const char* m_begin;
    const char* m_p;
    const char* m_end;
    bool m_keyEscaped = false;
    QString m_escapedKey;
    QByteArray m_escapedKeyUtf8;
};

// Names the first required member (in `names` order, bit i for names[i]) that `seen` lacks.
template <size_t N>
void requireMembers(const Place& place, unsigned seen, const std::array<const char*, N>& names) {
    for (size_t i = 0; i < N; ++i) {
        if (!(seen & (1u << i))) {
            Parser::fail(place, names[i], QStringLiteral("missing"));
        }
    }
}

// Each record lists its required members; a member's bit is its place in that list.
constexpr std::array profileMembers{"publicationName", "fromName",      "fromEmail",
                                    "replyTo",         "postalAddress", "region",
                                    "domain",          "workerBaseURL", "doubleOptIn"};
constexpr std::array subscriberMembers{"id",     "email",     "name",     "status",
                                       "source", "createdAt", "updatedAt"};
constexpr std::array statsMembers{"recipients", "sent",       "failed",
                                  "bounced",    "complained", "unsubscribed"};
constexpr std::array newsletterMembers{"id",        "subject",  "previewText",
                                       "markdown",  "template", "status",
                                       "createdAt", "stats",    "deliveredIDs"};

SenderProfile profile(Parser& p, const Place& place) {
    p.requireObject(place);
    SenderProfile r;
    unsigned seen = 0;
    const auto text = [&](int bit, QString& field) {
        seen |= 1u << bit;
        field = p.text(place, profileMembers[size_t(bit)]);
    };
    p.object([&](QByteArrayView key) {
        if (key == "publicationName") {
            text(0, r.publicationName);
        } else if (key == "fromName") {
            text(1, r.fromName);
        } else if (key == "fromEmail") {
            text(2, r.fromEmail);
        } else if (key == "replyTo") {
            text(3, r.replyTo);
        } else if (key == "postalAddress") {
            text(4, r.postalAddress);
        } else if (key == "region") {
            text(5, r.region);
        } else if (key == "domain") {
            text(6, r.domain);
        } else if (key == "workerBaseURL") {
            text(7, r.workerBaseURL);
        } else if (key == "doubleOptIn") {
            seen |= 1u << 8;
            r.doubleOptIn = p.boolean(place, "doubleOptIn");
        } else {
            p.member(r.otherMembers, key);
        }
    });
    requireMembers(place, seen, profileMembers);
    return r;
}

Subscriber subscriber(Parser& p, const Place& place) {
    p.requireObject(place);
    Subscriber r;
    unsigned seen = 0;
    p.object([&](QByteArrayView key) {
        if (key == "createdAt") {
            seen |= 1u << 5;
            r.createdAt = p.date(place, "createdAt");
        } else if (key == "email") {
            seen |= 1u << 1;
            r.email = p.text(place, "email");
        } else if (key == "id") {
            seen |= 1u << 0;
            r.id = p.uuid(place, "id");
        } else if (key == "name") {
            seen |= 1u << 2;
            r.name = p.text(place, "name");
        } else if (key == "source") {
            seen |= 1u << 4;
            r.source = p.text(place, "source");
        } else if (key == "status") {
            seen |= 1u << 3;
            r.status = p.enumeration<SubscriberStatus>(place, "status");
        } else if (key == "updatedAt") {
            seen |= 1u << 6;
            r.updatedAt = p.date(place, "updatedAt");
        } else {
            p.member(r.otherMembers, key);
        }
    });
    requireMembers(place, seen, subscriberMembers);
    return r;
}

CampaignStats stats(Parser& p, const Place& place) {
    p.requireObject(place);
    CampaignStats r;
    unsigned seen = 0;
    const auto whole = [&](int bit, qint64& field) {
        seen |= 1u << bit;
        field = p.whole(place, statsMembers[size_t(bit)]);
    };
    p.object([&](QByteArrayView key) {
        if (key == "recipients") {
            whole(0, r.recipients);
        } else if (key == "sent") {
            whole(1, r.sent);
        } else if (key == "failed") {
            whole(2, r.failed);
        } else if (key == "bounced") {
            whole(3, r.bounced);
        } else if (key == "complained") {
            whole(4, r.complained);
        } else if (key == "unsubscribed") {
            whole(5, r.unsubscribed);
        } else {
            p.member(r.otherMembers, key);
        }
    });
    requireMembers(place, seen, statsMembers);
    return r;
}

Newsletter newsletter(Parser& p, const Place& place) {
    p.requireObject(place);
    Newsletter r;
    unsigned seen = 0;
    const auto ids = [&](QSet<QUuid>& into, const char* key) {
        p.requireArray(place, key);
        into.clear();
        p.array([&](qsizetype index) { into.insert(p.uuidElement(place, key, index)); });
    };
    p.object([&](QByteArrayView key) {
        if (key == "createdAt") {
            seen |= 1u << 6;
            r.createdAt = p.date(place, "createdAt");
        } else if (key == "deliveredIDs") {
            seen |= 1u << 8;
            ids(r.deliveredIDs, "deliveredIDs");
        } else if (key == "failedIDs") {
            ids(r.failedIDs, "failedIDs");
        } else if (key == "uncertainIDs") {
            ids(r.uncertainIDs, "uncertainIDs");
        } else if (key == "id") {
            seen |= 1u << 0;
            r.id = p.uuid(place, "id");
        } else if (key == "markdown") {
            seen |= 1u << 3;
            r.markdown = p.text(place, "markdown");
        } else if (key == "previewText") {
            seen |= 1u << 2;
            r.previewText = p.text(place, "previewText");
        } else if (key == "sentAt") {
            r.sentAt = p.date(place, "sentAt");
        } else if (key == "stats") {
            seen |= 1u << 7;
            r.stats = place.list
                          ? stats(p, Place{"CampaignStats", place.list, place.index, ".stats"})
                          : stats(p, Place{"CampaignStats", nullptr, 0, "",
                                           place.given + QStringLiteral(".stats")});
        } else if (key == "status") {
            seen |= 1u << 5;
            r.status = p.enumeration<CampaignStatus>(place, "status");
        } else if (key == "subject") {
            seen |= 1u << 1;
            r.subject = p.text(place, "subject");
        } else if (key == "template") {
            seen |= 1u << 4;
            r.emailTemplate = p.enumeration<EmailTemplate>(place, "template");
        } else {
            p.member(r.otherMembers, key);
        }
    });
    requireMembers(place, seen, newsletterMembers);
    return r;
}

Reading library(Parser& p) {
    const Place place{"Library"};
    if (p.peek() != '{') {
        p.value(); // a document that is not valid JSON says so first
        p.end();
        Parser::fail(place, nullptr, QStringLiteral("the document is not a JSON object"));
    }
    Reading reading;
    Library& r = reading.library;
    bool hasProfile = false;
    bool hasSubscribers = false;
    bool hasNewsletters = false;
    p.object([&](QByteArrayView key) {
        if (key == "profile") {
            hasProfile = true;
            r.profile =
                profile(p, Place{"SenderProfile", nullptr, 0, "", QStringLiteral("profile")});
        } else if (key == "subscribers") {
            hasSubscribers = true;
            p.requireArray(place, "subscribers");
            r.subscribers.clear();
            p.array([&](qsizetype i) {
                r.subscribers.append(subscriber(p, Place{"Subscriber", "subscribers", i}));
            });
        } else if (key == "newsletters") {
            hasNewsletters = true;
            p.requireArray(place, "newsletters");
            r.newsletters.clear();
            p.array([&](qsizetype i) {
                r.newsletters.append(newsletter(p, Place{"Newsletter", "newsletters", i}));
            });
        } else if (key == "lastSync") {
            r.lastSync = p.date(place, "lastSync");
        } else {
            p.member(r.otherMembers, key);
        }
    });
    p.end();
    for (const auto& [present, name] :
         {std::pair{hasProfile, "profile"}, std::pair{hasSubscribers, "subscribers"},
          std::pair{hasNewsletters, "newsletters"}}) {
        if (!present) {
            reading.missing.append(QString::fromLatin1(name));
        }
    }
    return reading;
}

} // namespace

Reading read(QByteArrayView bytes) {
    Parser parser(bytes);
    return library(parser);
}

template <class Record>
Record readRecord(QByteArrayView json, const QString& path) {
    Parser p(json);
    Record record;
    if constexpr (std::is_same_v<Record, SenderProfile>) {
        record = profile(p, Place{"SenderProfile", nullptr, 0, "", path});
    } else if constexpr (std::is_same_v<Record, Subscriber>) {
        record = subscriber(p, Place{"Subscriber", nullptr, 0, "", path});
    } else if constexpr (std::is_same_v<Record, Newsletter>) {
        record = newsletter(p, Place{"Newsletter", nullptr, 0, "", path});
    } else {
        record = stats(p, Place{"CampaignStats", nullptr, 0, "", path});
    }
    p.end();
    return record;
}

template SenderProfile readRecord<SenderProfile>(QByteArrayView, const QString&);
template Subscriber readRecord<Subscriber>(QByteArrayView, const QString&);
template Newsletter readRecord<Newsletter>(QByteArrayView, const QString&);
template CampaignStats readRecord<CampaignStats>(QByteArrayView, const QString&);

} // namespace quillmere::LibraryJSONReader
