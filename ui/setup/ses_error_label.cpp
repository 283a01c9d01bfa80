#include "ui/setup/ses_error_label.h"

#include "app/app_model.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quillmere {

SESErrorLabel::SESErrorLabel(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_text(new QLabel(this)) {
    setObjectName(QStringLiteral("sesError"));
    auto* icon = new QLabel(this);
    icon->setPixmap(Icons::tinted(QStringLiteral("exclamationmark.triangle.fill"), Style::red)
                        .pixmap(QSize(16, 16)));
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setTextColor(m_text, Style::red);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);
    connect(&m_model, &AppModel::sesErrorChanged, this, &SESErrorLabel::refresh);
    refresh();
}

QString SESErrorLabel::text() const {
    return isHidden() ? QString() : m_text->text();
}

void SESErrorLabel::refresh() {
    const auto& error = m_model.sesError();
    m_text->setText(error.value_or(QString()));
    setVisible(error.has_value());
}

} // namespace quillmere
