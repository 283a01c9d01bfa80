#pragma once

#include <QWidget>

namespace quillmere {

class AppModel;

// The "Production Access" screen.
class ProductionAccessView : public QWidget {
    Q_OBJECT

public:
    ProductionAccessView(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& m_model;
};

} // namespace quillmere
