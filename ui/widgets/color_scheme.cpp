#include "ui/widgets/color_scheme.h"

#include "ui/widgets/style.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStyle>

namespace quillmere {

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString interface = QStringLiteral("org.freedesktop.portal.Settings");
const QString group = QStringLiteral("org.freedesktop.appearance");
const QString key = QStringLiteral("color-scheme");
constexpr int portalWaitMilliseconds = 500;

// The portal wraps the value in one variant, older versions in two.
std::optional<uint> schemeValue(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    return ok ? std::optional(scheme) : std::nullopt;
}

} // namespace

ColorScheme::ColorScheme(QObject* parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    // From whichever process serves the portal now, so a restarted portal is still heard.
    bus.connect(QString(), path, interface, QStringLiteral("SettingChanged"), this,
                SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read =
        QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Read"));
    read << group << key;
    const QDBusMessage reply = bus.call(read, QDBus::Block, portalWaitMilliseconds);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        if (const auto scheme = schemeValue(reply.arguments().constFirst())) {
            apply(*scheme == 1);
        }
    }
}

void ColorScheme::settingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() == 3 && arguments.at(0).toString() == group &&
        arguments.at(1).toString() == key) {
        if (const auto scheme = schemeValue(arguments.at(2))) {
            apply(*scheme == 1);
        }
    }
}

void ColorScheme::apply(bool dark) {
    m_dark = dark;
    usePalette(dark);
    Q_EMIT changed(dark);
}

void ColorScheme::usePalette(bool dark) {
    QApplication::setPalette(palette(dark));
    // Fusion outlines a check box in the window colour made darker: on a dark card that is the
    // card's own colour, and an unticked box vanished. A light window colour for check boxes alone
    // gives the box a visible edge (their background is never filled, so nothing else changes).
    QPalette checkBox = palette(dark);
    if (dark) {
        checkBox.setColor(QPalette::Window, QColor(0xa0, 0xa0, 0xa6));
    }
    QApplication::setPalette(checkBox, "QCheckBox");
}

QPalette ColorScheme::palette(bool dark) {
    QPalette palette = QApplication::style()->standardPalette();
    if (dark) {
        const QColor window(0x2b, 0x2b, 0x2d);
        const QColor base(0x1f, 0x1f, 0x21);
        const QColor text(0xe8, 0xe8, 0xea);
        const QColor button(0x3a, 0x3a, 0x3d);
        palette.setColor(QPalette::Window, window);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::AlternateBase, QColor(0x27, 0x27, 0x2a));
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Button, button);
        palette.setColor(QPalette::ButtonText, text);
        palette.setColor(QPalette::ToolTipBase, button);
        palette.setColor(QPalette::ToolTipText, text);
        palette.setColor(QPalette::BrightText, Qt::white);
        palette.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4e));
        palette.setColor(QPalette::Midlight, QColor(0x42, 0x42, 0x46));
        palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x33));
        palette.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
        palette.setColor(QPalette::Shadow, Qt::black);
        palette.setColor(QPalette::Link, QColor(0x5a, 0xa8, 0xff));
        for (QPalette::ColorRole role :
             {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
            palette.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x84));
        }
        palette.setColor(QPalette::Disabled, QPalette::Button, window);
    }
    const QColor accent = Style::blue;
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x80, 0x80, 0x84));
    // Placeholders a clear step fainter than text, and still readable on the field.
    palette.setColor(QPalette::PlaceholderText,
                     dark ? QColor(0x9a, 0x9a, 0xa0) : QColor(0x70, 0x70, 0x76));
    return palette;
}

} // namespace quillmere
