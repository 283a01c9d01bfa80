#include "ui/widgets/result_line.h"

#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quillmere {

ResultLine::ResultLine(QWidget* parent)
    : ResultLine(false, {}, parent) {}

ResultLine::ResultLine(bool ok, const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_text(new QLabel(this)) {
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_icon->setFixedSize(20, 20);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(m_icon, 0, Qt::AlignTop);
    layout->addWidget(m_text, 1);
    set(ok, text);
}

QString ResultLine::text() const {
    return m_text->text();
}

QString ResultLine::symbol() const {
    return m_ok ? QStringLiteral("checkmark.circle.fill")
                : QStringLiteral("exclamationmark.circle.fill");
}

void ResultLine::set(bool ok, const QString& text) {
    m_ok = ok;
    m_icon->setPixmap(
        Icons::tinted(symbol(), ok ? Style::green : Style::orange).pixmap(QSize(18, 18)));
    m_text->setText(text);
}

} // namespace quillmere
