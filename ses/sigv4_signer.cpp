#include "ses/sigv4_signer.h"

#include "render/trim_spaces_and_tabs.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QStringDecoder>

#include <algorithm>
#include <map>
#include <optional>

namespace quillmere {

namespace {

// Trims spaces and tabs and turns every inner run of them into one space.
QString collapseWhitespace(QStringView text) {
    const QStringView trimmed = trimSpacesAndTabs(text);
    QString out;
    out.reserve(trimmed.size());
    bool inRun = false;
    for (QChar c : trimmed) {
        if (isSpaceOrTab(c)) {
            inRun = true;
            continue;
        }
        if (inRun) {
            out.append(u' ');
            inRun = false;
        }
        out.append(c);
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Strict percent-decoding: a malformed escape or bytes that are not UTF-8 give nothing, and the
// caller then keeps the text as it was.
std::optional<QString> percentDecoded(QStringView text) {
    if (!text.contains(u'%')) {
        return text.toString();
    }
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes;
    bytes.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes.append(utf8[i]);
            continue;
        }
        if (i + 2 >= utf8.size()) {
            return std::nullopt;
        }
        const int high = hexValue(utf8[i + 1]);
        const int low = hexValue(utf8[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.append(char(high * 16 + low));
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return decoded;
}

QString decodeThenEncode(QStringView text) {
    const std::optional<QString> decoded = percentDecoded(text);
    return SigV4Signer::uriEncode(decoded ? QStringView(*decoded) : text);
}

QByteArray hmac(const QByteArray& key, const QByteArray& message) {
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256);
}

bool isSignatureHeader(const QString& name) {
    return name.compare(QLatin1String("authorization"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("x-amz-date"), Qt::CaseInsensitive) == 0 ||
           name.compare(QLatin1String("x-amz-security-token"), Qt::CaseInsensitive) == 0;
}

std::optional<QString> headerNamed(const HTTPRequest& request, QLatin1String lowerName) {
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        if (it.key().compare(lowerName, Qt::CaseInsensitive) == 0) {
            return it.value();
        }
    }
    return std::nullopt;
}

} // namespace

SigV4Signer::SigV4Signer(AWSCredentials credentials, QString region, QString service,
                         bool addContentSHA256)
    : credentials(std::move(credentials))
    , region(std::move(region))
    , service(std::move(service))
    , addContentSHA256(addContentSHA256) {}

HTTPRequest SigV4Signer::sign(const HTTPRequest& request, const QDateTime& date) const {
    HTTPRequest copy = request;
    for (auto it = copy.headers.begin(); it != copy.headers.end();) {
        it = isSignatureHeader(it.key()) ? copy.headers.erase(it) : std::next(it);
    }
    const QString stamp = amzDate(date);
    copy.headers.insert(QStringLiteral("X-Amz-Date"), stamp);
    if (credentials.sessionToken && !credentials.sessionToken->isEmpty()) {
        copy.headers.insert(QStringLiteral("X-Amz-Security-Token"), *credentials.sessionToken);
    }
    if (addContentSHA256 && !headerNamed(copy, QLatin1String("x-amz-content-sha256"))) {
        copy.headers.insert(QStringLiteral("X-Amz-Content-Sha256"), hexSHA256(copy.body));
    }
    copy.headers.insert(QStringLiteral("Authorization"), authorizationHeader(copy, stamp));
    return copy;
}

QString SigV4Signer::amzDate(const QDateTime& date) {
    const QDateTime utc = date.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    // An invalid date or time reports -1 for its parts; those count as 0.
    const auto part = [](int value) { return std::max(value, 0); };
    return QString::asprintf("%04d%02d%02dT%02d%02d%02dZ", part(d.year()), part(d.month()),
                             part(d.day()), part(t.hour()), part(t.minute()), part(t.second()));
}

QString SigV4Signer::hexSHA256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString SigV4Signer::uriEncode(QStringView text) {
    static constexpr char digits[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (const char byte : utf8) {
        const auto c = static_cast<unsigned char>(byte);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out.append(QLatin1Char(char(c)));
        } else {
            out.append(u'%');
            out.append(QLatin1Char(digits[c >> 4]));
            out.append(QLatin1Char(digits[c & 0x0F]));
        }
    }
    return out;
}

QString SigV4Signer::canonicalURI(const QUrl& url) {
    if (!url.isValid()) {
        return QStringLiteral("/");
    }
    const QString path = url.path(QUrl::FullyEncoded);
    if (path.isEmpty()) {
        return QStringLiteral("/");
    }
    // Each segment is decoded and encoded once: never double-encoded.
    QString out;
    out.reserve(path.size() + 8);
    bool first = true;
    for (const QStringView segment : QStringView(path).split(u'/')) {
        if (!first) {
            out.append(u'/');
        }
        first = false;
        out.append(decodeThenEncode(segment));
    }
    if (!out.startsWith(u'/')) {
        out.prepend(u'/');
    }
    return out;
}

QString SigV4Signer::canonicalQuery(const QUrl& url) {
    const QString query = url.query(QUrl::FullyEncoded);
    if (query.isEmpty()) {
        return {};
    }
    std::vector<std::pair<QString, QString>> pairs;
    for (const QStringView part : QStringView(query).split(u'&', Qt::SkipEmptyParts)) {
        const qsizetype equals = part.indexOf(u'=');
        const QStringView name = equals < 0 ? part : part.first(equals);
        const QStringView value = equals < 0 ? QStringView() : part.sliced(equals + 1);
        pairs.emplace_back(decodeThenEncode(name), decodeThenEncode(value));
    }
    // Encoded texts are ASCII, so code-unit order is byte order.
    std::sort(pairs.begin(), pairs.end());
    QString out;
    for (const auto& [name, value] : pairs) {
        if (!out.isEmpty()) {
            out.append(u'&');
        }
        out.append(name);
        out.append(u'=');
        out.append(value);
    }
    return out;
}

std::pair<QString, QString> SigV4Signer::canonicalHeaders(const HTTPRequest& request,
                                                          const QString& amzDate) const {
    // std::map orders by code unit; the names that reach here are ASCII in practice, and for
    // ASCII that is the byte order the algorithm sorts by.
    std::map<QString, QString> map;
    for (auto it = request.headers.cbegin(); it != request.headers.cend(); ++it) {
        const QString name = trimSpacesAndTabs(it.key().toLower()).toString();
        if (name == QLatin1String("authorization")) {
            continue;
        }
        map.insert_or_assign(name, collapseWhitespace(it.value()));
    }
    if (!map.contains(QStringLiteral("host"))) {
        QString host = request.url.host(QUrl::FullyEncoded);
        if (!host.isEmpty()) {
            // The Host header Qt sends writes an IPv6 literal in brackets; sign what is sent.
            if (host.contains(u':')) {
                host = QLatin1Char('[') + host + QLatin1Char(']');
            }
            const int port = request.url.port();
            if (port >= 0) {
                const QString scheme = request.url.scheme().toLower();
                const bool defaultPort = (scheme == QLatin1String("https") && port == 443) ||
                                         (scheme == QLatin1String("http") && port == 80);
                if (!defaultPort) {
                    host += QLatin1Char(':') + QString::number(port);
                }
            }
            map.emplace(QStringLiteral("host"), host);
        }
    }
    map.try_emplace(QStringLiteral("x-amz-date"), amzDate);

    QString block;
    QString signedHeaders;
    for (const auto& [name, value] : map) {
        block += name + QLatin1Char(':') + value + QLatin1Char('\n');
        if (!signedHeaders.isEmpty()) {
            signedHeaders += QLatin1Char(';');
        }
        signedHeaders += name;
    }
    return {block, signedHeaders};
}

QString SigV4Signer::canonicalRequest(const HTTPRequest& request, const QString& amzDate) const {
    const auto [block, signedHeaders] = canonicalHeaders(request, amzDate);
    const QString payloadHash = headerNamed(request, QLatin1String("x-amz-content-sha256"))
                                    .value_or(hexSHA256(request.body));
    return request.method.toUpper() + QLatin1Char('\n') + canonicalURI(request.url) +
           QLatin1Char('\n') + canonicalQuery(request.url) + QLatin1Char('\n') + block +
           QLatin1Char('\n') + signedHeaders + QLatin1Char('\n') + payloadHash;
}

QString SigV4Signer::credentialScope(const QString& dateStamp) const {
    return dateStamp + QLatin1Char('/') + region + QLatin1Char('/') + service +
           QLatin1String("/aws4_request");
}

QString SigV4Signer::stringToSign(const QString& canonicalRequest, const QString& amzDate) const {
    return algorithm + QLatin1Char('\n') + amzDate + QLatin1Char('\n') +
           credentialScope(amzDate.left(8)) + QLatin1Char('\n') +
           hexSHA256(canonicalRequest.toUtf8());
}

QByteArray SigV4Signer::signingKey(const QString& dateStamp) const {
    const QByteArray kDate =
        hmac(QByteArrayLiteral("AWS4") + credentials.secretAccessKey.toUtf8(), dateStamp.toUtf8());
    const QByteArray kRegion = hmac(kDate, region.toUtf8());
    const QByteArray kService = hmac(kRegion, service.toUtf8());
    return hmac(kService, QByteArrayLiteral("aws4_request"));
}

QString SigV4Signer::signature(const QString& stringToSign, const QString& dateStamp) const {
    return QString::fromLatin1(hmac(signingKey(dateStamp), stringToSign.toUtf8()).toHex());
}

QString SigV4Signer::authorizationHeader(const HTTPRequest& request, const QString& amzDate) const {
    const QString dateStamp = amzDate.left(8);
    const QString canonical = canonicalRequest(request, amzDate);
    const QString toSign = stringToSign(canonical, amzDate);
    const QString signedHeaders = canonicalHeaders(request, amzDate).second;
    return algorithm + QLatin1String(" Credential=") + credentials.accessKeyID + QLatin1Char('/') +
           credentialScope(dateStamp) + QLatin1String(", SignedHeaders=") + signedHeaders +
           QLatin1String(", Signature=") + signature(toSign, dateStamp);
}

} // namespace quillmere
