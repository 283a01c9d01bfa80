#include "ui/widgets/prominent_button.h"

#include "ui/widgets/style.h"

#include <QEvent>

namespace quillmere {

ProminentButton::ProminentButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {
    setDefault(true);
    restyle();
}

void ProminentButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        restyle();
    }
}

void ProminentButton::restyle() {
    // The active group's accent: a disabled button's palette gives the disabled (grey)
    // highlight, and a sheet built from it would stay grey once the button is enabled.
    const QColor accent = palette().color(QPalette::Active, QPalette::Highlight);
    const QString sheet = QStringLiteral(
        "QPushButton { background: %1; color: white; border: 1px solid %2; border-radius: 5px; "
        "padding: 5px 16px; font-weight: 600; }"
        "QPushButton:hover { background: %3; }"
        "QPushButton:pressed { background: %2; }"
        "QPushButton:focus { border: 1px solid %4; }"
        "QPushButton:disabled { background: rgba(128, 128, 128, 0.22); color: %5; "
        "border: 1px solid transparent; }");
    // Set once per palette: changing the sheet itself sends another palette change.
    const QString styled =
        sheet.arg(accent.name(), accent.darker(125).name(), accent.lighter(110).name(),
                  accent.darker(160).name(),
                  palette().color(QPalette::Disabled, QPalette::ButtonText).name());
    if (styleSheet() != styled) {
        setStyleSheet(styled);
    }
}

} // namespace quillmere
