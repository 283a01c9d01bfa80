#include "ui/widgets/secure_field.h"

namespace quillmere {

SecureField::SecureField(const QString& placeholder, QWidget* parent)
    : QLineEdit(parent) {
    setPlaceholderText(placeholder);
    setEchoMode(QLineEdit::Password);
    setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText |
                        Qt::ImhNoAutoUppercase);
    setDragEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

} // namespace quillmere
