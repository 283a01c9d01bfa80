#include "ui/onboarding/setup_step.h"

#include "ui/onboarding/step_number.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

SetupStep::SetupStep(qint64 number, const QString& title, bool done, const QString& detail,
                     QWidget* parent)
    : QWidget(parent)
    , m_badge(new StepNumber(number, StepNumber::Look::filled, this))
    , m_title(new QLabel(title, this))
    , m_detail(new QLabel(this)) {
    m_title->setFont(Style::headline(m_title));
    QFont callout = font();
    callout.setPointSizeF(callout.pointSizeF() * 0.93);
    m_detail->setFont(callout);
    m_detail->setWordWrap(true);
    Style::setTextColor(m_detail, Style::secondaryText(this));

    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    text->addWidget(m_title);
    text->addWidget(m_detail);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_badge, 0, Qt::AlignTop);
    layout->addLayout(text, 1);
    setDone(done);
    setDetail(detail);
}

qint64 SetupStep::number() const {
    return m_badge->number();
}

QString SetupStep::title() const {
    return m_title->text();
}

bool SetupStep::isDone() const {
    return m_badge->isDone();
}

QString SetupStep::detail() const {
    return m_detail->text();
}

QString SetupStep::badgeText() const {
    return m_badge->text();
}

void SetupStep::setDone(bool done) {
    m_badge->setDone(done);
}

void SetupStep::setDetail(const QString& detail) {
    m_detail->setText(detail);
    m_detail->setVisible(!detail.isEmpty());
}

} // namespace quillmere
