#include "render/mime_builder.h"

#include "render/grapheme_clusters.h"

#include <QLocale>
#include <QUuid>

namespace quillmere::MIMEBuilder {

namespace {

// RFC 5322 allows 998 characters on a line; longer plain values are encoded, which folds them.
constexpr qsizetype kMaxLine = 998;
constexpr qsizetype kMaxWordBytes = 45;

const QString kFallbackDomain = QStringLiteral("quillmere.invalid");

bool isControl(char16_t u) {
    return u < 0x20 || u == 0x7F;
}

// Plain ASCII passes through; anything a reader of the raw header could not get back exactly
// (non-ASCII, control characters, "=?", edge spaces the header grammar drops, an overlong line)
// is encoded.
bool needsEncoding(QStringView v, qsizetype lineLength) {
    if (v.isEmpty()) {
        return false;
    }
    if (lineLength > kMaxLine || v.contains(QLatin1String("=?"))) {
        return true;
    }
    if (v.front() == u' ' || v.back() == u' ') {
        return true;
    }
    for (QChar c : v) {
        const char16_t u = c.unicode();
        if (u > 0x7E || isControl(u)) {
            return true;
        }
    }
    return false;
}

void appendWord(QString& out, const QByteArray& chunk) {
    if (!out.isEmpty()) {
        out += QLatin1String("\r\n ");
    }
    out += QLatin1String("=?UTF-8?B?");
    out += QString::fromLatin1(chunk.toBase64());
    out += QLatin1String("?=");
}

QString encodedWords(QStringView v) {
    QString out;
    QByteArray chunk;
    const std::vector<int> clusters = GraphemeClusters::boundaries(v);
    for (size_t i = 0; i + 1 < clusters.size(); ++i) {
        const QStringView cluster = v.mid(clusters[i], clusters[i + 1] - clusters[i]);
        QByteArray bytes = cluster.toUtf8();
        if (bytes.size() > kMaxWordBytes) {
            // A cluster too long for one word (a base letter with dozens of marks) is split
            // between code points, never inside one.
            for (qsizetype k = 0; k < cluster.size();) {
                const qsizetype step = cluster[k].isHighSurrogate() && k + 1 < cluster.size() &&
                                               cluster[k + 1].isLowSurrogate()
                                           ? 2
                                           : 1;
                const QByteArray point = cluster.mid(k, step).toUtf8();
                if (chunk.size() + point.size() > kMaxWordBytes && !chunk.isEmpty()) {
                    appendWord(out, chunk);
                    chunk.clear();
                }
                chunk += point;
                k += step;
            }
            continue;
        }
        if (chunk.size() + bytes.size() > kMaxWordBytes && !chunk.isEmpty()) {
            appendWord(out, chunk);
            chunk.clear();
        }
        chunk += bytes;
    }
    if (!chunk.isEmpty()) {
        appendWord(out, chunk);
    }
    return out;
}

// An address, a URL or a boundary: cleaned, trimmed and without control characters, which no
// valid value holds and which some transfer agents treat as the end of the message.
QString cleanToken(QStringView value) {
    QString s = clean(value).trimmed();
    s.removeIf([](QChar c) { return isControl(c.unicode()); });
    return s;
}

bool isUriChar(char16_t u) {
    if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9')) {
        return true;
    }
    return QStringView(u"-._~:/?#[]@!$&'()*+,;=%").contains(QChar(u));
}

// Inside "<...>" of List-Unsubscribe only URI characters may stand; anything else (spaces,
// angle brackets, quotes, non-ASCII) is percent-encoded so the targets stay separable.
QString uriTarget(QStringView value) {
    const QString s = cleanToken(value);
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s[i].unicode();
        if (u < 0x80 && isUriChar(u)) {
            out += QChar(u);
            continue;
        }
        const qsizetype step =
            s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate() ? 2 : 1;
        const QByteArray bytes = QStringView(s).mid(i, step).toUtf8();
        for (char b : bytes) {
            out += QStringLiteral("%%1").arg(uint(uchar(b)), 2, 16, QLatin1Char('0')).toUpper();
        }
        i += step - 1;
    }
    return out;
}

bool isDomainText(QStringView d) {
    if (d.isEmpty()) {
        return false;
    }
    for (QChar c : d) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') ||
                        QStringView(u".!#$%&'*+-/=?^_`{|}~").contains(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

QString messageIDDomain(QStringView from) {
    const QString cleaned = cleanToken(from);
    const QStringList pieces = cleaned.split(u'@', Qt::SkipEmptyParts);
    if (pieces.isEmpty() || !isDomainText(pieces.last())) {
        return kFallbackDomain;
    }
    return pieces.last();
}

void appendPart(QByteArray& out, const QByteArray& delimiter, const char* contentType,
                const QString& body) {
    out += delimiter;
    out += "Content-Type: ";
    out += contentType;
    out += "; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    out += base64Lines(body.toUtf8());
    out += "\r\n";
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

QString clean(QStringView value) {
    QString s;
    s.reserve(value.size());
    for (QChar c : value) {
        if (c == u'\r') {
            continue;
        }
        s += c == u'\n' ? QChar(u' ') : c;
    }
    return s;
}

QString encodeHeader(QStringView value) {
    const QString v = clean(value);
    // "Subject: " is the longest header these values start.
    if (!needsEncoding(v, 9 + v.size())) {
        return v;
    }
    return encodedWords(v);
}

QString formatAddress(QStringView name, QStringView email) {
    const QString n = clean(name).trimmed();
    const QString e = cleanToken(email);
    if (n.isEmpty()) {
        return e;
    }
    const qsizetype line = 6 + n.size() + 4 + e.size(); // "From: " + name + ' <' + '>' + quotes
    if (needsEncoding(n, line)) {
        // One encoded word when it fits the line: Python's email package keeps the folding
        // space between adjacent encoded words of a display name (RFC 2047 says to drop it, as
        // other readers do), so a name split into words would come back with spaces inside.
        const QByteArray bytes = n.toUtf8();
        const qsizetype single = 12 + (bytes.size() + 2) / 3 * 4;
        if (6 + single + 3 + e.size() <= kMaxLine) {
            return QStringLiteral("=?UTF-8?B?") + QString::fromLatin1(bytes.toBase64()) +
                   QStringLiteral("?= <") + e + u'>';
        }
        return encodedWords(n) + QStringLiteral(" <") + e + u'>';
    }
    static const QString specials = QStringLiteral("()<>[]:;@\\,.\"");
    bool special = false;
    for (QChar c : n) {
        if (specials.contains(c)) {
            special = true;
            break;
        }
    }
    if (!special) {
        return n + QStringLiteral(" <") + e + u'>';
    }
    QString quoted = QStringLiteral("\"");
    for (QChar c : n) {
        if (c == u'\\' || c == u'"') {
            quoted += u'\\';
        }
        quoted += c;
    }
    return quoted + QStringLiteral("\" <") + e + u'>';
}

QString formatDate(const QDateTime& date) {
    const QDateTime utc = date.isValid() ? date.toUTC() : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    return QLocale::c().toString(utc, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss")) +
           QStringLiteral(" +0000");
}

QString generateBoundary() {
    return QStringLiteral("=_Postwick_") +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

bool isValidBoundary(QStringView boundary) {
    if (boundary.isEmpty() || boundary.size() > 70 || boundary.back() == u' ') {
        return false;
    }
    for (QChar c : boundary) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                        (u >= u'0' && u <= u'9') || QStringView(u"'()+_,-./:=? ").contains(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

QByteArray base64Lines(QByteArrayView data) {
    const qsizetype n = data.size();
    if (n == 0) {
        return QByteArray();
    }
    const qsizetype groups = (n + 2) / 3;
    const qsizetype lines = (n + 56) / 57;
    QByteArray out(groups * 4 + (lines - 1) * 2, Qt::Uninitialized);
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    char* o = out.data();
    qsizetype i = 0;
    qsizetype inLine = 0;
    while (i + 3 <= n) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        o[0] = kAlphabet[(v >> 18) & 63];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = kAlphabet[v & 63];
        o += 4;
        i += 3;
        if (++inLine == 19 && i < n) {
            o[0] = '\r';
            o[1] = '\n';
            o += 2;
            inLine = 0;
        }
    }
    if (i < n) {
        const unsigned v = (unsigned(in[i]) << 16) | (i + 1 < n ? unsigned(in[i + 1]) << 8 : 0u);
        o[0] = kAlphabet[(v >> 18) & 63];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
        o[3] = '=';
    }
    return out;
}

QByteArray build(const RenderedEmail& email, const QString& from, const QString& fromName,
                 const QString& to, const std::optional<QString>& replyTo,
                 const QUrl& unsubscribeURL, const std::optional<QString>& unsubscribeMailto,
                 const QDateTime& date, const std::optional<QString>& boundary) {
    QString b = boundary ? cleanToken(*boundary) : QString();
    if (!isValidBoundary(b)) {
        b = generateBoundary();
    }

    QString targets = u'<' + uriTarget(unsubscribeURL.toString(QUrl::FullyEncoded)) + u'>';
    if (unsubscribeMailto && !unsubscribeMailto->trimmed().isEmpty()) {
        QString mailto = cleanToken(*unsubscribeMailto);
        if (!mailto.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive)) {
            mailto.prepend(QLatin1String("mailto:"));
        }
        targets += QStringLiteral(", <") + uriTarget(mailto) + u'>';
    }

    QString headers;
    headers.reserve(1024);
    headers += QStringLiteral("From: ") + formatAddress(fromName, from);
    headers += QStringLiteral("\r\nTo: ") + cleanToken(to);
    if (replyTo && !replyTo->trimmed().isEmpty()) {
        headers += QStringLiteral("\r\nReply-To: ") + cleanToken(*replyTo);
    }
    headers += QStringLiteral("\r\nSubject: ") + encodeHeader(email.subject);
    headers += QStringLiteral("\r\nDate: ") + formatDate(date);
    headers += QStringLiteral("\r\nMessage-ID: <") +
               QUuid::createUuid().toString(QUuid::WithoutBraces) + u'@' + messageIDDomain(from) +
               u'>';
    headers += QStringLiteral("\r\nMIME-Version: 1.0");
    headers += QStringLiteral("\r\nList-Unsubscribe: ") + targets;
    headers += QStringLiteral("\r\nList-Unsubscribe-Post: List-Unsubscribe=One-Click");
    headers += QStringLiteral("\r\nContent-Type: multipart/alternative; boundary=\"") + b +
               QStringLiteral("\"\r\n\r\n");

    const QByteArray delimiter = "--" + b.toLatin1() + "\r\n";
    QByteArray out;
    out.reserve(headers.size() + (email.text.size() + email.html.size()) * 3 / 2 + 512);
    out += headers.toUtf8();
    out += "This is a multi-part message in MIME format.\r\n\r\n";
    appendPart(out, delimiter, "text/plain", email.text);
    appendPart(out, delimiter, "text/html", email.html);
    out += "--" + b.toLatin1() + "--\r\n";
    return out;
}

} // namespace quillmere::MIMEBuilder
