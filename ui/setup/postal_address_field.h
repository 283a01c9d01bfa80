#pragma once

#include <QPlainTextEdit>

namespace quillmere {

// The postal address printed in every footer: a few lines of plain text, so an address kept on
// several lines is shown and saved as it is. Tab moves on to the next field.
class PostalAddressField : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit PostalAddressField(QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }
    // Replaces the text unless it is already that (so the caret stays while typing).
    void setText(const QString& text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

} // namespace quillmere
