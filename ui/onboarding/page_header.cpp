#include "ui/onboarding/page_header.h"

#include "ui/widgets/style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

PageHeader::PageHeader(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_subtitle(new QLabel(subtitle, this)) {
    m_title->setObjectName(QStringLiteral("pageTitle"));
    m_title->setFont(Style::title(m_title, 1.9));
    m_title->setWordWrap(true);
    m_subtitle->setObjectName(QStringLiteral("pageSubtitle"));
    QFont larger = font();
    larger.setPointSizeF(larger.pointSizeF() * 1.1);
    m_subtitle->setFont(larger);
    m_subtitle->setWordWrap(true);
    Style::setTextColor(m_subtitle, Style::secondaryText(this));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_title);
    layout->addWidget(m_subtitle);
}

QString PageHeader::title() const {
    return m_title->text();
}

QString PageHeader::subtitle() const {
    return m_subtitle->text();
}

} // namespace quillmere
