#include "ui/setup/postal_address_field.h"

namespace quillmere {

PostalAddressField::PostalAddressField(QWidget* parent)
    : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void PostalAddressField::setText(const QString& text) {
    if (toPlainText() != text) {
        setPlainText(text);
    }
}

QSize PostalAddressField::sizeHint() const {
    const int lines = 4; // street, town, postcode, country
    const QMargins margins = contentsMargins();
    const int height = fontMetrics().lineSpacing() * lines + int(document()->documentMargin() * 2) +
                       margins.top() + margins.bottom() + 2;
    return {QPlainTextEdit::sizeHint().width(), height};
}

QSize PostalAddressField::minimumSizeHint() const {
    return {120, sizeHint().height()};
}

} // namespace quillmere
