#include "ui/settings_window.h"

#include "app/app_model.h"
#include "ui/style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

SettingsWindow::SettingsWindow(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model) {
    setWindowTitle(QStringLiteral("Settings"));
    auto* title = new QLabel(QStringLiteral("Settings"), this);
    title->setFont(Style::title(title));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(title);
    layout->addStretch();
    resize(520, 420);
}

} // namespace quillmere
