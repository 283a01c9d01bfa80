#include "ui/onboarding/guide_page.h"

#include "ui/onboarding/page_header.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

GuidePage::GuidePage(AppModel& model, OnboardingStep step, const QString& title,
                     const QString& subtitle, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_step(step)
    , m_header(new PageHeader(title, subtitle, this))
    , m_column(new QVBoxLayout(this)) {
    setObjectName(QStringLiteral("page-") + rawValue(step));
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(16);
    m_column->addWidget(m_header);
    m_column->addSpacing(6);
}

QLabel* GuidePage::addParagraph(const QString& text) {
    auto* label = new QLabel(text, this);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_column->addWidget(label);
    return label;
}

} // namespace quillmere
