#pragma once

#include "app/onboarding_step.h"

#include <QDialog>

#include <map>

class QPushButton;
class QTabWidget;

namespace quillmere {

class AppModel;
class SenderDetailsForm;
class SetupStep;

// The settings window: the publication profile ("General") and the way back into the guided
// setup at any step ("Setup"). Everything edits the model directly.
class SettingsWindow : public QDialog {
    Q_OBJECT

public:
    SettingsWindow(AppModel& model, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    SenderDetailsForm* senderForm() const { return m_sender; }
    SetupStep* stepRow(OnboardingStep step) const { return m_steps.at(step); }
    QPushButton* openButton(OnboardingStep step) const { return m_open.at(step); }

private:
    QWidget* makeGeneral();
    QWidget* makeSetup();
    void reopen(OnboardingStep step);
    void refreshSteps();

    AppModel& m_model;
    QTabWidget* m_tabs;
    SenderDetailsForm* m_sender = nullptr;
    std::map<OnboardingStep, SetupStep*> m_steps;
    std::map<OnboardingStep, QPushButton*> m_open;
};

} // namespace quillmere
