#include "ui/onboarding/feature.h"

#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

Feature::Feature(const QString& symbol, const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_title(new QLabel(title, this))
    , m_text(new QLabel(text, this)) {
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::tinted(symbol, Style::accent(this)).pixmap(QSize(30, 30)));
    icon->setFixedSize(36, 36);
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_title->setFont(Style::headline(m_title));
    m_text->setWordWrap(true);
    Style::setTextColor(m_text, Style::secondaryText(this));
    auto* words = new QVBoxLayout;
    words->setSpacing(2);
    words->addWidget(m_title);
    words->addWidget(m_text);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(14);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addLayout(words, 1);
}

QString Feature::title() const {
    return m_title->text();
}

QString Feature::text() const {
    return m_text->text();
}

} // namespace quillmere
