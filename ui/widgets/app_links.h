#pragma once

#include <QUrl>

namespace quillmere::AppLinks {

// The product's help pages and support address, opened from the Help menu.
inline QUrl help() {
    return QUrl(QStringLiteral("https://quillmere.app/help"));
}

inline QUrl support() {
    return QUrl(QStringLiteral("mailto:support@quillmere.app"));
}

} // namespace quillmere::AppLinks
