#include "ui/widgets/grouped_form.h"

#include "ui/widgets/form_section.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

namespace {
constexpr int maximumColumnWidth = 760;
}

GroupedForm::GroupedForm(const QString& title, QWidget* parent)
    : QScrollArea(parent)
    , m_column(new QVBoxLayout) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* inner = new QWidget(this);
    inner->setObjectName(QStringLiteral("groupedFormInner"));
    auto* column = new QWidget(inner);
    column->setMaximumWidth(maximumColumnWidth);
    column->setLayout(m_column);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(18);
    if (!title.isEmpty()) {
        auto* heading = new QLabel(title, column);
        heading->setObjectName(QStringLiteral("screenTitle"));
        heading->setFont(Style::title(heading, 1.3));
        m_column->addWidget(heading);
    }
    m_column->addStretch(1);

    // The column keeps a readable width and stays at the left on wide windows.
    auto* row = new QHBoxLayout(inner);
    row->setContentsMargins(24, 16, 24, 24);
    row->addWidget(column, 1);
    row->addStretch(0);
    setWidget(inner);
}

FormSection* GroupedForm::addSection(const QString& title) {
    auto* section = new FormSection(title, widget());
    addWidget(section);
    return section;
}

void GroupedForm::addWidget(QWidget* widget) {
    m_column->insertWidget(m_column->count() - 1, widget);
}

} // namespace quillmere
