#include "ui/widgets/toast.h"

#include "ui/widgets/accessibility.h"
#include "ui/widgets/icons.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace quillmere {

Toast::Toast(QWidget* parent, std::chrono::milliseconds interval)
    : QFrame(parent)
    , m_label(new QLabel(this))
    , m_dismiss(new QToolButton(this)) {
    setObjectName(QStringLiteral("toast"));
    setAutoFillBackground(true);
    setFrameShape(QFrame::StyledPanel);
    setStyleSheet(QStringLiteral("#toast { background: palette(window); border: 1px solid "
                                 "palette(mid); border-radius: 10px; }"));
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 3);
    shadow->setColor(QColor(0, 0, 0, 70));
    setGraphicsEffect(shadow);

    m_label->setObjectName(QStringLiteral("toastMessage"));
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_dismiss->setObjectName(QStringLiteral("toastDismiss"));
    m_dismiss->setText(tr("Dismiss"));
    m_dismiss->setToolTip(tr("Dismiss"));
    m_dismiss->setIcon(Icons::symbol(QStringLiteral("xmark")));
    m_dismiss->setAutoRaise(true);
    m_dismiss->setToolButtonStyle(Qt::ToolButtonIconOnly);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 8, 8);
    layout->setSpacing(10);
    layout->addWidget(m_label, 1);
    layout->addWidget(m_dismiss);

    m_timer.setSingleShot(true);
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &Toast::dismissRequested);
    connect(m_dismiss, &QToolButton::clicked, this, &Toast::dismissRequested);

    parent->installEventFilter(this);
    hide();
}

void Toast::setMessage(const std::optional<QString>& message) {
    if (!message) {
        m_timer.stop();
        m_label->clear();
        hide();
        return;
    }
    m_label->setText(*message);
    Accessibility::describe(this, QAccessible::AlertMessage, *message);
    m_timer.start();
    place();
    show();
    raise();
}

QString Toast::message() const {
    return isVisibleTo(parentWidget()) ? m_label->text() : QString();
}

std::chrono::milliseconds Toast::interval() const {
    return m_timer.intervalAsDuration();
}

bool Toast::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        place();
    }
    return QFrame::eventFilter(watched, event);
}

void Toast::place() {
    QWidget* host = parentWidget();
    const int width = std::min(560, std::max(240, host->width() - 48));
    m_label->setMaximumWidth(width - 70);
    const int height = heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height();
    setGeometry((host->width() - width) / 2, host->height() - height - 20, width, height);
}

} // namespace quillmere
