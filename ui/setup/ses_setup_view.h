#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quillmere {

class AppModel;
class DNSRecordList;
class FormSection;
class SenderDetailsForm;
class RegionPicker;
class SecureField;
class SESErrorLabel;

// The "Amazon SES" screen: access keys and region, the account's state, the sending domain with
// the records to publish, and the sender details.
class SESSetupView : public QWidget {
    Q_OBJECT

public:
    SESSetupView(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* accessKeyField() const { return m_accessKey; }
    SecureField* secretKeyField() const { return m_secretKey; }
    RegionPicker* regionPicker() const { return m_region; }
    QLabel* keysSavedLabel() const { return m_saved; }
    QPushButton* saveKeysButton() const { return m_saveKeys; }

    QLabel* modeValue() const { return m_mode; }
    QLabel* quotaValue() const { return m_quota; }
    QLabel* rateValue() const { return m_rate; }
    QLabel* enforcementValue() const { return m_enforcement; }
    QLabel* sandboxNote() const { return m_sandboxNote; }
    QPushButton* checkAccountButton() const { return m_checkAccount; }

    QLineEdit* domainField() const { return m_domain; }
    QLabel* verifiedValue() const { return m_verified; }
    QLabel* dkimValue() const { return m_dkim; }
    DNSRecordList* records() const { return m_records; }
    QPushButton* verifyButton() const { return m_verify; }

    SenderDetailsForm* senderForm() const { return m_sender; }

    SESErrorLabel* errorLabel() const { return m_error; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void saveKeys();
    void verify();
    void refresh();

    AppModel& m_model;
    SESErrorLabel* m_error;
    QLineEdit* m_accessKey;
    SecureField* m_secretKey;
    RegionPicker* m_region;
    QLabel* m_saved;
    QPushButton* m_saveKeys;
    FormSection* m_accountSection;
    QLabel* m_mode;
    QLabel* m_quota;
    QLabel* m_rate;
    QLabel* m_enforcement;
    QLabel* m_sandboxNote;
    QPushButton* m_checkAccount;
    QLineEdit* m_domain;
    QLabel* m_verified;
    QLabel* m_dkim;
    DNSRecordList* m_records;
    QPushButton* m_verify;
    SenderDetailsForm* m_sender;
};

} // namespace quillmere
