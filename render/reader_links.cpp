#include "render/reader_links.h"

#include "render/email_address.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QStringDecoder>

namespace quillmere::ReaderLinks {

namespace {

// Reader links go into href attributes and the List-Unsubscribe header, whose one-click target
// must be HTTPS: only web addresses with a host qualify.
bool isAbsoluteURL(const QString& text) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http")) &&
           !url.host().isEmpty();
}

QUrl readerURL(const QString& base, const QString& pathAndQuery) {
    const QString text = normalisedBase(base) + pathAndQuery;
    if (isAbsoluteURL(text)) {
        return QUrl(text, QUrl::StrictMode);
    }
    return QUrl(fallbackBase + pathAndQuery, QUrl::StrictMode);
}

} // namespace

QString token(const QString& purpose, const QString& email, const QString& secret) {
    const QByteArray address = EmailAddress::normalised(email).toUtf8();
    const QByteArray code = QMessageAuthenticationCode::hash(
        purpose.toUtf8() + ':' + address, secret.toUtf8(), QCryptographicHash::Sha256);
    const QByteArray encoded =
        address.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    return QString::fromLatin1(encoded) + QLatin1Char('.') + QString::fromLatin1(code.toHex());
}

std::optional<QString> verify(const QString& tokenText, const QString& purpose,
                              const QString& secret) {
    const QStringList parts = tokenText.split(QLatin1Char('.'));
    if (parts.size() != 2) {
        return std::nullopt;
    }
    QByteArray first = parts[0].toLatin1();
    first.replace('-', '+').replace('_', '/');
    while (first.size() % 4 != 0) {
        first.append('=');
    }
    const auto decoded =
        QByteArray::fromBase64Encoding(first, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString address = utf8.decode(*decoded);
    if (utf8.hasError()) {
        return std::nullopt;
    }
    const QByteArray expected = token(purpose, address, secret).toUtf8();
    const QByteArray given = tokenText.toUtf8();
    if (expected.size() != given.size()) {
        return std::nullopt;
    }
    // Every byte is compared, whatever differs early, so timing tells nothing.
    unsigned char difference = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        difference |= static_cast<unsigned char>(expected[i] ^ given[i]);
    }
    if (difference != 0) {
        return std::nullopt;
    }
    return address;
}

QString normalisedBase(const QString& base) {
    QString text = base.trimmed();
    while (text.endsWith(QLatin1Char('/'))) {
        text.chop(1);
    }
    return text;
}

QString linkBase(const QString& workerBaseURL) {
    return workerBaseURL.trimmed().isEmpty() ? placeholderWorkerBase : workerBaseURL;
}

QUrl unsubscribeURL(const QString& base, const QString& email, const QString& secret) {
    return readerURL(base, QStringLiteral("/unsubscribe?t=") + unsubscribeToken(email, secret));
}

QUrl confirmURL(const QString& base, const QString& email, const QString& secret) {
    return readerURL(base, QStringLiteral("/confirm?t=") + confirmToken(email, secret));
}

std::optional<QUrl> archiveURL(const QString& base, const QString& slug) {
    const QString normalised = normalisedBase(base);
    if (normalised.isEmpty()) {
        return std::nullopt;
    }
    const QString text = normalised + QStringLiteral("/archive/") + slug;
    if (!isAbsoluteURL(text)) {
        return std::nullopt;
    }
    return QUrl(text, QUrl::StrictMode);
}

QString randomSecret() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()),
                                          bytes.size() / int(sizeof(quint32)));
    return QString::fromLatin1(bytes.toHex());
}

} // namespace quillmere::ReaderLinks
