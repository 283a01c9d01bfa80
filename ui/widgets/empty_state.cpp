#include "ui/widgets/empty_state.h"

#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

EmptyState::EmptyState(const QString& symbol, const QString& title, const QString& description,
                       QWidget* parent)
    : QWidget(parent)
    , m_buttons(new QHBoxLayout) {
    auto* icon = new QLabel(this);
    const QColor secondary = Style::secondaryText(this);
    icon->setPixmap(Icons::tinted(symbol, secondary).pixmap(QSize(48, 48), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);

    auto* heading = new QLabel(title, this);
    heading->setObjectName(QStringLiteral("emptyTitle"));
    heading->setFont(Style::title(heading, 1.5));
    heading->setAlignment(Qt::AlignCenter);

    auto* text = new QLabel(description, this);
    text->setObjectName(QStringLiteral("emptyDescription"));
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    // A fixed width lets the wrapped text take the height it needs.
    text->setFixedWidth(420);
    text->setMinimumHeight(text->heightForWidth(420));
    Style::setTextColor(text, secondary);

    m_buttons->setSpacing(10);
    m_buttons->addStretch();
    m_buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    layout->addWidget(icon);
    layout->addSpacing(6);
    layout->addWidget(heading);
    layout->addWidget(text, 0, Qt::AlignHCenter);
    layout->addSpacing(8);
    layout->addLayout(m_buttons);
    layout->addStretch();
}

QPushButton* EmptyState::addButton(const QString& text, bool prominent) {
    auto* button = new QPushButton(text, this);
    if (prominent) {
        button->setDefault(true);
    }
    m_buttons->insertWidget(m_buttons->count() - 1, button);
    return button;
}

} // namespace quillmere
