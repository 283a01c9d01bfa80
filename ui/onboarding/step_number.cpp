#include "ui/onboarding/step_number.h"

#include "ui/widgets/style.h"

#include <QPainter>
#include <QPainterPath>

namespace quillmere {

StepNumber::StepNumber(qint64 number, Look look, QWidget* parent)
    : QWidget(parent)
    , m_number(number)
    , m_look(look) {
    QFont font = Style::caption(this);
    font.setWeight(QFont::Bold);
    setFont(font);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StepNumber::setNumber(qint64 number) {
    if (m_number != number) {
        m_number = number;
        update();
    }
}

void StepNumber::setDone(bool done) {
    if (m_done != done) {
        m_done = done;
        update();
    }
}

QString StepNumber::text() const {
    return m_done ? QStringLiteral("✓")
                  : QString::asprintf("%lld", static_cast<long long>(m_number));
}

QSize StepNumber::sizeHint() const {
    const int side = fontMetrics().height() + 8;
    return {side, side};
}

void StepNumber::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = qMin(width(), height());
    const QRectF circle(0.75, 0.75, side - 1.5, side - 1.5);
    const QColor accent = m_done ? Style::green : Style::accent(this);
    QColor ink;
    if (m_look == Look::filled) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(circle);
        ink = Qt::white;
    } else {
        ink = m_done ? Style::green : Style::secondaryText(this);
        painter.setPen(QPen(ink, 1.3));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle);
    }
    if (m_done) {
        // Drawn, not typed: the font may lack a check-mark glyph.
        QPainterPath tick;
        tick.moveTo(circle.left() + side * 0.28, circle.top() + side * 0.52);
        tick.lineTo(circle.left() + side * 0.44, circle.top() + side * 0.67);
        tick.lineTo(circle.left() + side * 0.72, circle.top() + side * 0.35);
        painter.setPen(QPen(ink, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(tick);
        return;
    }
    painter.setPen(ink);
    painter.drawText(circle, Qt::AlignCenter, text());
}

} // namespace quillmere
