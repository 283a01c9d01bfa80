// AWS Signature Version 4 on arbitrary requests: any URL, headers, body, keys, region, service
// and date. Input fields are split at 0xFF bytes (which UTF-8 never holds): URL, method, body,
// secret key, region, service, then header names and values in turns. The first byte also
// chooses how the URL text is read.
//
// Checks: nothing crashes; the canonical URI and query hold only unreserved characters,
// upper-case escapes and their separators, and canonicalising them again changes nothing (never
// double-encoded); the header block is sorted, lower-case and consistent with the signed-header
// list; signing is deterministic, leaves the request otherwise as it was, and a signed request
// signed again gets the same Authorization.

#include "ses/sigv4_signer.h"

#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace quillmere;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "sigv4: %s\n", what);
    std::abort();
}

bool isHexUpper(QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F');
}

// Only A-Z a-z 0-9 - . _ ~, "%XX" with upper-case digits, and the given separators.
void checkEncoded(const QString& text, const QString& separators, const char* what) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool unreserved = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                                (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_' ||
                                c == u'~';
        if (unreserved || separators.contains(c)) {
            continue;
        }
        if (c == u'%' && i + 2 < text.size() && isHexUpper(text[i + 1]) &&
            isHexUpper(text[i + 2])) {
            i += 2;
            continue;
        }
        fail(what);
    }
}

bool isToken(const QByteArray& name) {
    static const QByteArray symbols("!#$%&'*+-.^_`|~");
    if (name.isEmpty()) {
        return false;
    }
    for (const char c : name) {
        const bool alphanumeric =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alphanumeric && !symbols.contains(c)) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool encodedURL = data[0] & 1;
    const QList<QByteArray> fields =
        QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)).split('\xff');
    const auto field = [&](qsizetype i) { return i < fields.size() ? fields[i] : QByteArray(); };

    HTTPRequest request;
    request.url = encodedURL ? QUrl::fromEncoded(field(0), QUrl::TolerantMode)
                             : QUrl(QString::fromUtf8(field(0)));
    request.method = QString::fromUtf8(field(1));
    request.body = field(2);
    // Header names are HTTP tokens: a name holding ';', ':', a blank or a control character
    // cannot go on the wire, and the signed-header list could not name it unambiguously.
    for (qsizetype i = 6; i + 1 < fields.size(); i += 2) {
        if (isToken(fields[i])) {
            request.headers.insert(QString::fromUtf8(fields[i]), QString::fromUtf8(fields[i + 1]));
        }
    }
    const SigV4Signer signer(
        AWSCredentials{QStringLiteral("AKIDEXAMPLE"), QString::fromUtf8(field(3)), std::nullopt},
        QString::fromUtf8(field(4)), QString::fromUtf8(field(5)));
    const QDateTime date =
        QDateTime::fromMSecsSinceEpoch(qint64(qHash(field(0)) % 4102444800000ULL), Qt::UTC);

    // Canonical URI: starts with "/", encoded once.
    const QString uri = SigV4Signer::canonicalURI(request.url);
    if (!uri.startsWith(u'/')) {
        fail("canonical URI without a leading slash");
    }
    checkEncoded(uri, QStringLiteral("/"), "canonical URI holds a raw character");
    QUrl reread(QStringLiteral("https://host.example"));
    reread.setPath(uri, QUrl::TolerantMode);
    if (SigV4Signer::canonicalURI(reread) != uri) {
        fail("canonical URI is not stable");
    }

    // Canonical query: name=value pairs in byte order, encoded once.
    const QString query = SigV4Signer::canonicalQuery(request.url);
    checkEncoded(query, QStringLiteral("=&"), "canonical query holds a raw character");
    const QStringList pairs = query.isEmpty() ? QStringList() : query.split(u'&');
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        if (pairs[i].count(u'=') != 1) {
            fail("query pair without exactly one '='");
        }
        if (i > 0 && pairs[i - 1].section(u'=', 0, 0) > pairs[i].section(u'=', 0, 0)) {
            fail("query names out of order");
        }
    }
    QUrl requery(QStringLiteral("https://host.example/"));
    requery.setQuery(query, QUrl::TolerantMode);
    if (SigV4Signer::canonicalQuery(requery) != query) {
        fail("canonical query is not stable");
    }

    // Canonical headers: one "name:value" line per signed name, in order.
    const QString stamp = SigV4Signer::amzDate(date);
    const auto [block, signedHeaders] = signer.canonicalHeaders(request, stamp);
    if (!block.endsWith(u'\n')) {
        fail("header block does not end with a line break");
    }
    const QStringList names = signedHeaders.split(u';');
    if (!names.contains(QStringLiteral("x-amz-date"))) {
        fail("x-amz-date is not signed");
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names[i] != names[i].toLower() || (i > 0 && !(names[i - 1] < names[i]))) {
            fail("signed header names not lower-case, unique and sorted");
        }
    }

    // Signing.
    const HTTPRequest signed1 = signer.sign(request, date);
    const HTTPRequest signed2 = signer.sign(request, date);
    if (!(signed1 == signed2)) {
        fail("signing is not deterministic");
    }
    const QString authorization = signed1.headers.value(QStringLiteral("Authorization"));
    const QString prefix = QStringLiteral("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/") +
                           stamp.left(8) + QLatin1Char('/');
    const qsizetype at = authorization.lastIndexOf(QStringLiteral(", Signature="));
    if (!authorization.startsWith(prefix) || at < 0 || authorization.size() - at != 12 + 64) {
        fail("Authorization header shape");
    }
    if (signed1.url != request.url || signed1.method != request.method ||
        signed1.body != request.body) {
        fail("signing changed the request");
    }
    const HTTPRequest resigned = signer.sign(signed1, date);
    if (resigned.headers.value(QStringLiteral("Authorization")) != authorization) {
        fail("a signed request signs again differently");
    }
    return 0;
}
