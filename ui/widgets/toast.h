#pragma once

#include <QFrame>
#include <QTimer>

#include <chrono>

class QLabel;
class QToolButton;

namespace quillmere {

// A one-line message floating at the bottom of its parent, with a "Dismiss" button. It asks to
// be cleared when dismissed or when its interval has passed since the message was shown; the
// owner clears the message it came from.
class Toast : public QFrame {
    Q_OBJECT

public:
    explicit Toast(QWidget* parent, std::chrono::milliseconds interval = std::chrono::seconds(6));

    // Shows the text (restarting the interval), or hides the toast for none.
    void setMessage(const std::optional<QString>& message);
    QString message() const;
    std::chrono::milliseconds interval() const;

Q_SIGNALS:
    // The "Dismiss" button was pressed or the interval ran out.
    void dismissRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place();

    QLabel* m_label;
    QToolButton* m_dismiss;
    QTimer m_timer;
};

} // namespace quillmere
