#pragma once

#include "ui/onboarding/guide_page.h"

class QPushButton;

namespace quillmere {

class WorkerDeployCard;

// The guide's page for the signup worker: why, how to make a Cloudflare token, and the
// deployment itself.
class SignupPage : public GuidePage {
    Q_OBJECT

public:
    explicit SignupPage(AppModel& model, QWidget* parent = nullptr);

    QPushButton* openTokensButton() const { return m_openTokens; }
    WorkerDeployCard* deployCard() const { return m_card; }

private:
    QPushButton* m_openTokens;
    WorkerDeployCard* m_card;
};

} // namespace quillmere
