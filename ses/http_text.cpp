#include "ses/http_text.h"

#include <QStringDecoder>

namespace quillmere::HTTPText {

bool isToken(QStringView text) {
    if (text.isEmpty()) {
        return false;
    }
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') ||
                        (u >= '0' && u <= '9') || QStringView(u"!#$%&'*+-.^_`|~").contains(c);
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool isSafeHeaderValue(QStringView text) {
    for (QChar c : text) {
        if (c == u'\r' || c == u'\n' || c == u'\0') {
            return false;
        }
    }
    return true;
}

QString headerText(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return QString::fromLatin1(bytes);
    }
    return text;
}

} // namespace quillmere::HTTPText
