#pragma once

#include "app/onboarding_step.h"

#include <QDialog>

#include <map>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace quillmere {

class AppModel;
class PostalAddressField;
class SetupStep;

// The settings window: the publication profile ("General") and the way back into the guided
// setup at any step ("Setup"). Everything edits the model directly.
class SettingsWindow : public QDialog {
    Q_OBJECT

public:
    SettingsWindow(AppModel& model, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    QLineEdit* publicationNameField() const { return m_publicationName; }
    QLineEdit* fromNameField() const { return m_fromName; }
    QLineEdit* fromEmailField() const { return m_fromEmail; }
    QLineEdit* replyToField() const { return m_replyTo; }
    PostalAddressField* postalAddressField() const { return m_postalAddress; }
    QCheckBox* doubleOptInToggle() const { return m_doubleOptIn; }
    SetupStep* stepRow(OnboardingStep step) const { return m_steps.at(step); }
    QPushButton* openButton(OnboardingStep step) const { return m_open.at(step); }

private:
    QWidget* makeGeneral();
    QWidget* makeSetup();
    void reopen(OnboardingStep step);
    void refreshSteps();

    AppModel& m_model;
    QTabWidget* m_tabs;
    QLineEdit* m_publicationName = nullptr;
    QLineEdit* m_fromName = nullptr;
    QLineEdit* m_fromEmail = nullptr;
    QLineEdit* m_replyTo = nullptr;
    PostalAddressField* m_postalAddress = nullptr;
    QCheckBox* m_doubleOptIn = nullptr;
    std::map<OnboardingStep, SetupStep*> m_steps;
    std::map<OnboardingStep, QPushButton*> m_open;
};

} // namespace quillmere
