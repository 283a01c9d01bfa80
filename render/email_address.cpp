#include "render/email_address.h"

#include <QList>

namespace quillmere::EmailAddress {

namespace {

bool isLocalChar(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) {
        return true;
    }
    switch (c) {
    case u'.':
    case u'!':
    case u'#':
    case u'$':
    case u'%':
    case u'&':
    case u'\'':
    case u'*':
    case u'+':
    case u'/':
    case u'=':
    case u'?':
    case u'^':
    case u'_':
    case u'`':
    case u'{':
    case u'|':
    case u'}':
    case u'~':
    case u'-':
        return true;
    default:
        return false;
    }
}

bool isAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool isLabelChar(char16_t c) {
    return isAsciiLetter(c) || (c >= u'0' && c <= u'9') || c == u'-';
}

} // namespace

bool isValid(QStringView address) {
    const QStringView s = address.trimmed();
    if (s.size() > 254) {
        return false;
    }
    const qsizetype at = s.indexOf(u'@');
    if (at < 0 || s.indexOf(u'@', at + 1) >= 0) {
        return false;
    }
    const QStringView local = s.left(at);
    const QStringView domainPart = s.mid(at + 1);
    if (local.isEmpty() || local.size() > 64 || local.startsWith(u'.') || local.endsWith(u'.') ||
        local.contains(QStringLiteral(".."))) {
        return false;
    }
    for (QChar c : local) {
        if (!isLocalChar(c.unicode())) {
            return false;
        }
    }
    if (domainPart.isEmpty()) {
        return false;
    }
    const auto labels = domainPart.split(u'.');
    if (labels.size() < 2) {
        return false;
    }
    for (QStringView label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') ||
            label.endsWith(u'-')) {
            return false;
        }
        for (QChar c : label) {
            if (!isLabelChar(c.unicode())) {
                return false;
            }
        }
    }
    const QStringView last = labels.last();
    if (last.size() < 2) {
        return false;
    }
    for (QChar c : last) {
        if (!isAsciiLetter(c.unicode())) {
            return false;
        }
    }
    return true;
}

QString normalisedDomain(QStringView typed) {
    return typed.trimmed().toString().toLower();
}

QString normalised(const QString& address) {
    return address.trimmed().toLower();
}

std::optional<QString> domain(QStringView address) {
    const auto pieces = address.trimmed().split(u'@', Qt::SkipEmptyParts);
    if (pieces.size() != 2) {
        return std::nullopt;
    }
    return pieces[1].toString().toLower();
}

} // namespace quillmere::EmailAddress
