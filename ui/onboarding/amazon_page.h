#pragma once

#include "ui/onboarding/guide_page.h"

class QLineEdit;
class QPushButton;

namespace quillmere {

class RegionPicker;
class ResultLine;
class SecureField;

// The guide's page for the writer's own Amazon SES: how to make an IAM user that can send and
// nothing else, its keys, the region, and the account's state once connected.
class AmazonPage : public GuidePage {
    Q_OBJECT

public:
    explicit AmazonPage(AppModel& model, QWidget* parent = nullptr);

    // The IAM policy the writer pastes into AWS.
    static QString policy();

    QLineEdit* accessKeyField() const { return m_accessKey; }
    SecureField* secretKeyField() const { return m_secretKey; }
    RegionPicker* regionPicker() const { return m_region; }
    QPushButton* connectButton() const { return m_connect; }
    QPushButton* copyPolicyButton() const { return m_copyPolicy; }
    QPushButton* openIAMButton() const { return m_openIAM; }
    ResultLine* resultLine() const { return m_result; }

private:
    void connectAccount();
    void refresh();

    QLineEdit* m_accessKey;
    SecureField* m_secretKey;
    RegionPicker* m_region;
    QPushButton* m_connect;
    QPushButton* m_copyPolicy;
    QPushButton* m_openIAM;
    ResultLine* m_result;
};

} // namespace quillmere
