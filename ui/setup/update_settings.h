#pragma once

#include <QString>
#include <QUrl>

class QSettings;

namespace quillmere {

// Where "Check for Updates…" looks. Read from the [updates] group of the application's
// settings (~/.config/Quillmere/Quillmere.conf on Linux):
//   [updates]
//   signingKey=<public key the feed's releases are signed with>
//   feed=https://…/appcast.xml
// A packager fills them in; a build without them shows the command disabled.
struct UpdateSettings {
    QString signingKey;
    QString feed;

    static UpdateSettings read(QSettings& settings);

    // A real signing key (present, not a "REPLACE_" template value) and an https feed.
    bool canCheck() const;
    QUrl feedURL() const;

    bool operator==(const UpdateSettings&) const = default;
};

} // namespace quillmere
