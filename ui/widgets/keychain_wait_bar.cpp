#include "ui/widgets/keychain_wait_bar.h"

#include "app/app_model.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace quillmere {

KeychainWaitBar::KeychainWaitBar(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_cancel(new QPushButton(tr("Cancel"), this)) {
    setObjectName(QStringLiteral("keychainWait"));
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("#keychainWait { background: palette(window); border: 1px solid "
                                 "palette(mid); border-radius: 10px; }"));
    auto* label =
        new QLabel(tr("Waiting for your system keychain. Unlock it in the window it shows, or "
                      "cancel."),
                   this);
    label->setWordWrap(true);
    m_cancel->setObjectName(QStringLiteral("cancelKeychainWait"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 8, 8, 8);
    layout->addWidget(label, 1);
    layout->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, &m_model, &AppModel::cancelKeychainWait);
    connect(&m_model, &AppModel::keychainWaitingChanged, this, &KeychainWaitBar::refresh);
    parent->installEventFilter(this);
    refresh();
}

void KeychainWaitBar::refresh() {
    setVisible(m_model.isKeychainWaiting());
    if (isVisible()) {
        place();
        raise();
    }
}

void KeychainWaitBar::place() {
    const int width = std::min(parentWidget()->width() - 40, 560);
    resize(width, sizeHint().height());
    move((parentWidget()->width() - width) / 2, 16);
}

bool KeychainWaitBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        place();
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace quillmere
