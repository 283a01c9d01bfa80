#include "ui/production_access_view.h"

#include "app/app_model.h"
#include "ui/style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quillmere {

ProductionAccessView::ProductionAccessView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    auto* title = new QLabel(QStringLiteral("Production Access"), this);
    title->setFont(Style::title(title));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(title);
    layout->addStretch();
}

} // namespace quillmere
