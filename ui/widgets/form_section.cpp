#include "ui/widgets/form_section.h"

#include "ui/widgets/style.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

FormSection::FormSection(const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_card(new QFrame(this))
    , m_form(new QFormLayout) {
    m_title->setObjectName(QStringLiteral("sectionTitle"));
    m_title->setFont(Style::headline(m_title));
    m_title->setVisible(!title.isEmpty());

    m_card->setObjectName(QStringLiteral("formCard"));
    m_card->setStyleSheet(QStringLiteral("#formCard { background: palette(base); border: 1px solid "
                                         "rgba(128, 128, 128, 0.28); border-radius: 8px; }") +
                          framedFields(QStringLiteral("#formCard")));
    m_form->setContentsMargins(14, 12, 14, 12);
    m_form->setHorizontalSpacing(16);
    m_form->setVerticalSpacing(10);
    m_form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    m_card->setLayout(m_form);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_title);
    layout->addWidget(m_card);
}

QString FormSection::title() const {
    return m_title->text();
}

void FormSection::addRow(const QString& label, QWidget* field) {
    m_form->addRow(label, field);
}

void FormSection::addRow(const QString& label, QLayout* field) {
    m_form->addRow(label, field);
}

void FormSection::addRow(QWidget* widget) {
    m_form->addRow(widget);
}

void FormSection::addRow(QLayout* layout) {
    m_form->addRow(layout);
}

QLabel* FormSection::addValueRow(const QString& label) {
    auto* value = new QLabel(m_card);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_form->addRow(label, value);
    return value;
}

QLabel* FormSection::addNote(const QString& text) {
    auto* note = new QLabel(text, m_card);
    note->setWordWrap(true);
    note->setFont(Style::caption(note));
    Style::setTextColor(note, Style::secondaryText(this));
    m_form->addRow(note);
    return note;
}

void FormSection::setRowVisible(QWidget* field, bool visible) {
    m_form->setRowVisible(field, visible);
}

void FormSection::setLabelsAbove(bool above) {
    m_form->setRowWrapPolicy(above ? QFormLayout::WrapAllRows : QFormLayout::DontWrapRows);
    m_form->setVerticalSpacing(above ? 6 : 10);
}

QString FormSection::framedFields(const QString& card) {
    return QStringLiteral("%1 QLineEdit, %1 QPlainTextEdit { border: 1px solid rgba(128, 128, 128, "
                          "0.55); border-radius: 3px; padding: 1px 2px; }"
                          "%1 QLineEdit:focus, %1 QPlainTextEdit:focus { border-color: "
                          "palette(highlight); }")
        .arg(card);
}

} // namespace quillmere
