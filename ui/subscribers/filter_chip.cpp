#include "ui/subscribers/filter_chip.h"

#include "ui/widgets/style.h"

#include <QPainter>

namespace quillmere {

namespace {

constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 4;
constexpr int gap = 5;

} // namespace

FilterChip::FilterChip(const QString& title, QWidget* parent)
    : QAbstractButton(parent) {
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    refreshName();
}

void FilterChip::refreshName() {
    setAccessibleName(tr("%1, %n reader(s)", nullptr, int(m_count)).arg(text()));
    setAccessibleDescription(m_selected ? tr("Filter in use") : QString());
}

void FilterChip::setCount(qint64 count) {
    if (m_count != count) {
        m_count = count;
        refreshName();
        updateGeometry();
        update();
    }
}

void FilterChip::setSelected(bool selected) {
    if (m_selected != selected) {
        m_selected = selected;
        refreshName();
        update();
    }
}

QString FilterChip::countText() const {
    return QString::number(m_count);
}

QSize FilterChip::sizeHint() const {
    const QFontMetrics metrics(font());
    const QFontMetrics digits(Style::monospacedDigits(font()));
    return {horizontalPadding * 2 + metrics.horizontalAdvance(text()) + gap +
                digits.horizontalAdvance(countText()),
            metrics.height() + verticalPadding * 2};
}

void FilterChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background = m_selected ? Style::accent(this) : Style::secondaryText(this);
    background.setAlphaF(m_selected ? 0.22 : (underMouse() ? 0.16 : 0.1));
    painter.setPen(hasFocus() ? QPen(Style::accent(this), 1.5) : Qt::NoPen);
    painter.setBrush(background);
    const QRectF box = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    painter.drawRoundedRect(box, 8, 8);

    const QFontMetrics metrics(font());
    const int titleWidth = metrics.horizontalAdvance(text());
    QRect area = rect().adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    painter.setPen(Style::primaryText(this));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, text());
    painter.setFont(Style::monospacedDigits(font()));
    painter.setPen(Style::secondaryText(this));
    area.setLeft(area.left() + titleWidth + gap);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, countText());
}

} // namespace quillmere
