#include "ui/onboarding/step_rail.h"

#include "app/app_model.h"
#include "ui/setup/setup_state.h"
#include "ui/widgets/accessibility.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

namespace quillmere {

namespace {

// One step of the rail: its symbol and title, left-aligned, the whole row clickable.
class RailRow : public QAbstractButton {
public:
    explicit RailRow(const QString& text, QWidget* parent)
        : QAbstractButton(parent) {
        setText(text);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::StrongFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setLook(const QIcon& icon, const QColor& color, bool strong) {
        setIcon(icon);
        m_color = color;
        QFont f = font();
        f.setWeight(strong ? QFont::DemiBold : QFont::Normal);
        setFont(f);
        update();
    }

    QSize sizeHint() const override { return {200, qMax(fontMetrics().height(), 18) + 14}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (underMouse() || isDown()) {
            QColor hover = palette().color(QPalette::WindowText);
            hover.setAlphaF(isDown() ? 0.10 : 0.05);
            painter.setPen(Qt::NoPen);
            painter.setBrush(hover);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0, 1, 0, -1), 6, 6);
        }
        const int side = 18;
        const QRect iconRect(8, (height() - side) / 2, side, side);
        icon().paint(&painter, iconRect);
        painter.setPen(m_color);
        painter.setFont(font());
        const QRect textRect = rect().adjusted(iconRect.right() + 10, 0, -6, 0);
        painter.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                         fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
        if (hasFocus()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }

private:
    QColor m_color;
};

} // namespace

StepRail::StepRail(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_note(new QLabel(
          tr("About 15 minutes, plus a day or so for Amazon to approve your account."), this)) {
    setObjectName(QStringLiteral("stepRail"));
    setStyleSheet(QStringLiteral("#stepRail { background: rgba(128, 128, 128, 0.07); "
                                 "border-right: 1px solid rgba(128, 128, 128, 0.2); }"));
    setFixedWidth(260);
    Accessibility::describe(this, QAccessible::List, tr("Setup steps"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 28, 14, 20);
    layout->setSpacing(2);
    for (OnboardingStep step : allCases<OnboardingStep>()) {
        auto* row = new RailRow(title(step), this);
        row->setObjectName(QStringLiteral("rail-") + rawValue(step));
        connect(row, &QAbstractButton::clicked, this, [this, step] {
            setCurrent(step);
            Q_EMIT selected(step);
        });
        layout->addWidget(row);
        m_rows[step] = row;
    }
    layout->addSpacing(16);
    m_note->setObjectName(QStringLiteral("railNote"));
    m_note->setWordWrap(true);
    m_note->setFont(Style::caption(m_note));
    Style::setTextColor(m_note, Style::secondaryText(this));
    layout->addWidget(m_note);
    layout->addStretch(1);

    onSetupStateChange(m_model, this, [this] { refresh(); });
    refresh();
}

void StepRail::setCurrent(OnboardingStep step) {
    if (m_current != step) {
        m_current = step;
        refresh();
    }
}

QString StepRail::symbol(OnboardingStep step) const {
    if (m_model.isComplete(step)) {
        return QStringLiteral("checkmark.circle.fill");
    }
    return step == m_current ? QStringLiteral("circle.inset.filled") : QStringLiteral("circle");
}

QString StepRail::note() const {
    return m_note->text();
}

void StepRail::refresh() {
    for (const auto& [step, button] : m_rows) {
        const QString name = symbol(step);
        const QColor color = name == QLatin1String("checkmark.circle.fill") ? Style::green
                             : name == QLatin1String("circle.inset.filled")
                                 ? Style::accent(this)
                                 : Style::secondaryText(this);
        const bool current = step == m_current;
        static_cast<RailRow*>(button)->setLook(
            Icons::tinted(name, color),
            current ? Style::primaryText(this) : Style::secondaryText(this), current);
        button->setAccessibleName(button->text());
        button->setAccessibleDescription(
            (current ? tr("Current step") + QStringLiteral(", ") : QString()) +
            (name == QLatin1String("checkmark.circle.fill") ? tr("complete") : tr("not done")));
    }
}

} // namespace quillmere
