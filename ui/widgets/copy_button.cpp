#include "ui/widgets/copy_button.h"

#include "ui/widgets/icons.h"

#include <QClipboard>
#include <QGuiApplication>

namespace quillmere {

CopyButton::CopyButton(const QString& title, std::function<QString()> text, QWidget* parent)
    : QPushButton(Icons::symbol(QStringLiteral("doc.on.doc")), title, parent) {
    connect(this, &QPushButton::clicked, this, [this, text = std::move(text)] {
        const QString value = text();
        QGuiApplication::clipboard()->setText(value);
        Q_EMIT copied(value);
    });
}

} // namespace quillmere
