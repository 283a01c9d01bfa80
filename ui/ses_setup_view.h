#pragma once

#include <QWidget>

namespace quillmere {

class AppModel;

// The "Amazon SES" screen.
class SESSetupView : public QWidget {
    Q_OBJECT

public:
    SESSetupView(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& m_model;
};

} // namespace quillmere
