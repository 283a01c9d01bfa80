#pragma once

#include "ui/onboarding/guide_page.h"

class QPushButton;

namespace quillmere {

class Feature;

// The guide's first page: what the application is, and the two ways in.
class WelcomePage : public GuidePage {
    Q_OBJECT

public:
    explicit WelcomePage(AppModel& model, QWidget* parent = nullptr);

    QPushButton* setUpButton() const { return m_setUp; }
    QPushButton* demoButton() const { return m_demo; }
    QList<Feature*> features() const { return m_features; }

Q_SIGNALS:
    void setUpRequested();

private:
    QPushButton* m_setUp;
    QPushButton* m_demo;
    QList<Feature*> m_features;
};

} // namespace quillmere
