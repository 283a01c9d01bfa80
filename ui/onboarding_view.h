#pragma once

#include <QWidget>

namespace quillmere {

class AppModel;

// The "Welcome" screen.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    OnboardingView(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& m_model;
};

} // namespace quillmere
