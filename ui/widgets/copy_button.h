#pragma once

#include <QPushButton>

#include <functional>

namespace quillmere {

// A button with the two-documents symbol that puts a text on the clipboard as plain text.
class CopyButton : public QPushButton {
    Q_OBJECT

public:
    CopyButton(const QString& title, std::function<QString()> text, QWidget* parent = nullptr);

Q_SIGNALS:
    void copied(const QString& text);
};

} // namespace quillmere
