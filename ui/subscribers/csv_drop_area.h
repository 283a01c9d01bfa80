#pragma once

#include <QFrame>

class QPushButton;

namespace quillmere {

// A dashed area that takes one dropped list file (CSV or plain text), with a button that opens
// a file chooser instead.
class CSVDropArea : public QFrame {
    Q_OBJECT

public:
    explicit CSVDropArea(QWidget* parent = nullptr);

    QPushButton* chooseButton() const { return m_choose; }
    bool isHighlighted() const { return m_highlighted; }

Q_SIGNALS:
    void fileDropped(const QString& path);
    void chooseRequested();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setHighlighted(bool on);

    QPushButton* m_choose;
    bool m_highlighted = false;
};

} // namespace quillmere
