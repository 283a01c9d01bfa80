#include "ui/widgets/copy_button.h"

#include "ui/widgets/icons.h"

#include <QClipboard>
#include <QGuiApplication>

namespace quillmere {

CopyButton::CopyButton(const QString& title, std::function<QString()> text, QWidget* parent)
    : QPushButton(Icons::symbol(QStringLiteral("doc.on.doc")), title, parent)
    , m_title(title) {
    m_restore.setSingleShot(true);
    m_restore.setInterval(feedbackMilliseconds);
    connect(&m_restore, &QTimer::timeout, this, [this] {
        setText(m_title);
        setIcon(Icons::symbol(QStringLiteral("doc.on.doc")));
    });
    connect(this, &QPushButton::clicked, this, [this, text = std::move(text)] {
        const QString value = text();
        QGuiApplication::clipboard()->setText(value);
        // The button keeps its width, so the row does not jump while it says so.
        setMinimumWidth(width());
        setText(tr("Copied"));
        setIcon(Icons::symbol(QStringLiteral("checkmark")));
        m_restore.start();
        Q_EMIT copied(value);
    });
}

} // namespace quillmere
