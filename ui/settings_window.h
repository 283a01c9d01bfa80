#pragma once

#include <QDialog>

namespace quillmere {

class AppModel;

// The settings window: the publication profile and the way back into the guided setup.
class SettingsWindow : public QDialog {
    Q_OBJECT

public:
    SettingsWindow(AppModel& model, QWidget* parent = nullptr);

private:
    AppModel& m_model;
};

} // namespace quillmere
