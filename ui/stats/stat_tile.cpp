#include "ui/stats/stat_tile.h"

#include "ui/widgets/style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

StatTile::StatTile(const QString& title, QWidget* parent)
    : QFrame(parent)
    , m_title(new QLabel(title, this))
    , m_value(new QLabel(this)) {
    setObjectName(QStringLiteral("statTile"));
    setStyleSheet(QStringLiteral("#statTile { background: rgba(128, 128, 128, 0.1); border: 1px "
                                 "solid rgba(128, 128, 128, 0.18); border-radius: 14px; }"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_title->setObjectName(QStringLiteral("tileTitle"));
    m_title->setFont(Style::caption(m_title));
    Style::setTextColor(m_title, Style::secondaryText(this));
    m_value->setObjectName(QStringLiteral("tileValue"));
    m_value->setFont(Style::monospacedDigits(Style::title(m_value, 1.7)));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(6);
    layout->addWidget(m_title);
    layout->addWidget(m_value);
    setValue(QStringLiteral("0"));
}

QString StatTile::title() const {
    return m_title->text();
}

QString StatTile::value() const {
    return m_value->text();
}

void StatTile::setValue(const QString& value, bool warning) {
    m_value->setText(value);
    m_warning = warning;
    Style::setTextColor(m_value, warning ? Style::red : Style::primaryText(this));
}

} // namespace quillmere
