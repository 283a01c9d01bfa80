#include "ui/subscribers/add_subscriber_sheet.h"

#include "app/app_model.h"
#include "ui/widgets/style.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

AddSubscriberSheet::AddSubscriberSheet(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_email(new QLineEdit(this))
    , m_name(new QLineEdit(this))
    , m_note(new QLabel(this)) {
    setObjectName(QStringLiteral("addSubscriberSheet"));
    setWindowTitle(tr("Add"));
    setWindowModality(Qt::WindowModal);
    m_email->setObjectName(QStringLiteral("email"));
    m_email->setPlaceholderText(tr("Email"));
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setPlaceholderText(tr("Name"));
    m_note->setObjectName(QStringLiteral("note"));
    m_note->setWordWrap(true);
    m_note->setFont(Style::caption(m_note));
    Style::setTextColor(m_note, Style::secondaryText(this));
    m_note->setText(model.library().profile.doubleOptIn
                        ? tr("Added as pending. They become active after confirming via the "
                             "double opt-in email.")
                        : tr("Double opt-in is off, so this address is added as active. Only add "
                             "people who asked to subscribe."));

    auto* buttons = new QDialogButtonBox(this);
    m_cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    m_add = buttons->addButton(tr("Add"), QDialogButtonBox::AcceptRole);
    m_add->setDefault(true);
    Style::setBlocked(m_add, tr("Type the reader's email address."));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, &AddSubscriberSheet::add);
    connect(m_email, &QLineEdit::textChanged, this, [this](const QString& text) {
        Style::setBlocked(m_add, text.contains(QLatin1Char('@'))
                                     ? QString()
                                     : tr("Type the reader's email address."));
    });

    auto* form = new QFormLayout;
    form->addRow(tr("Email"), m_email);
    form->addRow(tr("Name"), m_name);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(12);
    layout->addLayout(form);
    layout->addWidget(m_note);
    layout->addWidget(buttons);
    setMinimumWidth(420);
}

void AddSubscriberSheet::add() {
    if (!m_email->text().contains(QLatin1Char('@'))) {
        return; // Return pressed while "Add" is disabled
    }
    m_model.addSubscriber(m_email->text(), m_name->text());
    accept();
}

} // namespace quillmere
