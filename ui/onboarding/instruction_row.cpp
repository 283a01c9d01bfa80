#include "ui/onboarding/instruction_row.h"

#include "ui/onboarding/step_number.h"
#include "ui/widgets/inline_markup.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quillmere {

InstructionRow::InstructionRow(qint64 number, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_number(number)
    , m_text(text)
    , m_label(new QLabel(this)) {
    m_label->setTextFormat(Qt::RichText);
    m_label->setText(InlineMarkup::toHtml(text));
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new StepNumber(number, StepNumber::Look::outlined, this), 0, Qt::AlignTop);
    layout->addWidget(m_label, 1);
}

QString InstructionRow::text() const {
    return InlineMarkup::toPlain(m_text);
}

} // namespace quillmere
