#pragma once

#include <QPushButton>
#include <QTimer>

#include <functional>

namespace quillmere {

// A button with the two-documents symbol that puts a text on the clipboard as plain text, then
// reads "Copied" with a check mark for a moment, so the writer sees that it worked.
class CopyButton : public QPushButton {
    Q_OBJECT

public:
    CopyButton(const QString& title, std::function<QString()> text, QWidget* parent = nullptr);

    // How long "Copied" stays.
    static constexpr int feedbackMilliseconds = 1800;

Q_SIGNALS:
    void copied(const QString& text);

private:
    QString m_title;
    QTimer m_restore;
};

} // namespace quillmere
