#pragma once

#include <QWidget>

namespace quillmere {

class AppModel;

// The "Signup Worker" screen.
class WorkerSetupView : public QWidget {
    Q_OBJECT

public:
    WorkerSetupView(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& m_model;
};

} // namespace quillmere
