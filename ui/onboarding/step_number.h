#pragma once

#include <QWidget>

namespace quillmere {

// A step's number in a small circle: filled in the accent colour (a setup step), or drawn as an
// outline (a numbered instruction). A done step shows a check-mark instead of its number.
class StepNumber : public QWidget {
    Q_OBJECT

public:
    enum class Look { filled, outlined };

    StepNumber(qint64 number, Look look, QWidget* parent = nullptr);

    qint64 number() const { return m_number; }
    bool isDone() const { return m_done; }
    void setNumber(qint64 number);
    void setDone(bool done);
    // What the circle shows: the number ("%lld"), or "✓" when done.
    QString text() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    qint64 m_number;
    Look m_look;
    bool m_done = false;
};

} // namespace quillmere
