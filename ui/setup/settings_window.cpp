#include "ui/setup/settings_window.h"

#include "app/app_model.h"
#include "ui/issues/spell_checker.h"
#include "ui/issues/spelling_language_picker.h"
#include "ui/onboarding/setup_step.h"
#include "ui/setup/sender_details_form.h"
#include "ui/setup/setup_state.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/grouped_form.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace quillmere {

SettingsWindow::SettingsWindow(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_tabs(new QTabWidget(this)) {
    setWindowTitle(tr("Settings"));
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setDocumentMode(true);
    m_tabs->addTab(makeGeneral(), Icons::symbol(QStringLiteral("gearshape")), tr("General"));
    m_tabs->addTab(makeSetup(), Icons::symbol(QStringLiteral("list.bullet.clipboard")),
                   tr("Setup"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(m_tabs);
    resize(600, 560);
}

QWidget* SettingsWindow::makeGeneral() {
    auto* form = new GroupedForm({}, this);
    form->setObjectName(QStringLiteral("generalSettings"));
    m_sender = new SenderDetailsForm(m_model,
                                     {tr("Name"), tr("From name"), tr("From address"),
                                      tr("Replies go to"), tr("Postal address"),
                                      tr("Ask new readers to confirm (double opt-in)")},
                                     form);
    m_sender->addTo(form->addSection(tr("Newsletter")), form->addSection(tr("Signups")));
    FormSection* spelling = form->addSection(tr("Spelling"));
    spelling->addRow(tr("Language"), new SpellingLanguagePicker(SpellChecker::shared(), form));
    return form;
}

QWidget* SettingsWindow::makeSetup() {
    auto* form = new GroupedForm({}, this);
    form->setObjectName(QStringLiteral("setupSettings"));
    FormSection* steps = form->addSection({});
    qint64 number = 1;
    for (OnboardingStep step : allCases<OnboardingStep>()) {
        auto* row = new SetupStep(number++, title(step), false, {}, steps);
        row->setObjectName(QStringLiteral("setupStep-") + rawValue(step));
        auto* open = new QPushButton(tr("Open"), steps);
        open->setObjectName(QStringLiteral("open-") + rawValue(step));
        connect(open, &QPushButton::clicked, this, [this, step] { reopen(step); });
        auto* line = new QHBoxLayout;
        line->addWidget(row, 1);
        line->addWidget(open, 0, Qt::AlignVCenter);
        steps->addRow(line);
        m_steps[step] = row;
        m_open[step] = open;
    }
    auto* caption = new QLabel(tr("Reopens the guided setup at that step."), form);
    caption->setObjectName(QStringLiteral("setupCaption"));
    caption->setFont(Style::caption(caption));
    Style::setTextColor(caption, Style::secondaryText(this));
    form->addWidget(caption);
    onSetupStateChange(m_model, this, [this] { refreshSteps(); });
    refreshSteps();
    return form;
}

void SettingsWindow::refreshSteps() {
    for (const auto& [step, row] : m_steps) {
        row->setDone(m_model.isComplete(step));
    }
}

void SettingsWindow::reopen(OnboardingStep step) {
    // Cleared first, so that choosing the step the guide was last opened at still moves a
    // guide that is already showing.
    m_model.setOnboardingStartStep(std::nullopt);
    m_model.setOnboardingStartStep(step);
    m_model.setOnboardingDone(false);
    // The guide takes the main window; this window steps aside.
    close();
}

} // namespace quillmere
