#include "ui/setup/update_settings.h"

#include <QSettings>

namespace quillmere {

UpdateSettings UpdateSettings::read(QSettings& settings) {
    UpdateSettings result;
    settings.beginGroup(QStringLiteral("updates"));
    result.signingKey = settings.value(QStringLiteral("signingKey")).toString().trimmed();
    result.feed = settings.value(QStringLiteral("feed")).toString().trimmed();
    settings.endGroup();
    return result;
}

QUrl UpdateSettings::feedURL() const {
    return QUrl(feed, QUrl::StrictMode);
}

bool UpdateSettings::canCheck() const {
    if (signingKey.isEmpty() || signingKey.startsWith(QStringLiteral("REPLACE_"))) {
        return false;
    }
    const QUrl url = feedURL();
    return url.isValid() && url.scheme() == QStringLiteral("https") && !url.host().isEmpty();
}

} // namespace quillmere
