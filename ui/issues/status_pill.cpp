#include "ui/issues/status_pill.h"

#include "ui/widgets/accessibility.h"
#include "ui/widgets/style.h"

#include <QPainter>
#include <QPainterPath>

namespace quillmere {

namespace {

constexpr int horizontalPadding = 6;
constexpr int verticalPadding = 2;

} // namespace

StatusPill::StatusPill(CampaignStatus status, QWidget* parent)
    : QWidget(parent)
    , m_status(status) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Accessibility::describe(this, QAccessible::StaticText, Style::name(status));
}

void StatusPill::setStatus(CampaignStatus status) {
    if (m_status != status) {
        m_status = status;
        setAccessibleName(Style::name(status));
        updateGeometry();
        update();
    }
}

QString StatusPill::text() const {
    return text(m_status);
}

QString StatusPill::text(CampaignStatus status) {
    return Style::name(status);
}

QFont StatusPill::font(const QFont& body) {
    QFont font = body;
    font.setPointSizeF(body.pointSizeF() * 0.8);
    font.setWeight(QFont::DemiBold);
    return font;
}

QSize StatusPill::size(CampaignStatus status, const QFont& font) {
    const QFontMetrics metrics(font);
    return {metrics.horizontalAdvance(text(status)) + 2 * horizontalPadding,
            metrics.height() + 2 * verticalPadding};
}

QSize StatusPill::sizeHint() const {
    return size(m_status, font(QWidget::font()));
}

int StatusPill::paint(QPainter* painter, const QPoint& topLeft, CampaignStatus status,
                      const QFont& font) {
    const QSize extent = size(status, font);
    const QRectF rect(topLeft, extent);
    QColor tint = Style::color(status);
    tint.setAlphaF(0.18);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(tint);
    painter->drawRoundedRect(rect, extent.height() / 2.0, extent.height() / 2.0);
    painter->setFont(font);
    painter->setPen(Style::color(status));
    painter->drawText(rect, Qt::AlignCenter, text(status));
    painter->restore();
    return extent.width();
}

void StatusPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(&painter, QPoint(0, 0), m_status, font(QWidget::font()));
}

} // namespace quillmere
