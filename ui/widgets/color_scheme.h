#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QPalette>

namespace quillmere {

// Follows the desktop's light or dark preference as the freedesktop portal publishes it
// ("org.freedesktop.appearance" "color-scheme": 1 dark, 2 light, 0 no preference), and gives the
// application the matching palette, placeholders readable in both.
class ColorScheme : public QObject {
    Q_OBJECT

public:
    // Reads the preference once (waiting at most a moment for the portal, so a desktop without
    // one starts at once) and then follows its changes.
    explicit ColorScheme(QObject* parent = nullptr);

    bool isDark() const { return m_dark; }

    static QPalette palette(bool dark);
    // Gives the application the light or dark palette.
    static void usePalette(bool dark);

Q_SIGNALS:
    void changed(bool dark);

public Q_SLOTS:
    // The portal's SettingChanged signal: group, key and the new value.
    void settingChanged(const QDBusMessage& message);

private:
    void apply(bool dark);

    bool m_dark = false;
};

} // namespace quillmere
