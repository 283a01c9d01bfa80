#pragma once

#include "ui/setup/cloudflare_account_choice.h"

#include <QWidget>
#include <qcoro/qcorotask.h>

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace quillmere {

class AppModel;
class FormSection;
class SecureField;

// The "Signup Worker" screen: a Cloudflare token, the account to deploy into, the deployment,
// the addresses to use afterwards, and how to route bounces to the worker.
class WorkerSetupView : public QWidget {
    Q_OBJECT

public:
    WorkerSetupView(AppModel& model, QWidget* parent = nullptr);

    SecureField* tokenField() const { return m_token; }
    QPushButton* connectButton() const { return m_connect; }
    QComboBox* accountPicker() const { return m_picker; }
    QPushButton* deployButton() const { return m_deploy; }
    QLabel* workerURLValue() const { return m_workerURL; }
    QLabel* signupFormValue() const { return m_signupForm; }
    QLabel* snsEndpointValue() const { return m_snsEndpoint; }
    QLabel* errorLabel() const { return m_errorLabel; }

    const QList<CloudflareAccountChoice>& accounts() const { return m_accounts; }
    const QString& accountID() const { return m_accountID; }
    const std::optional<QString>& error() const { return m_error; }
    bool isConnecting() const { return m_connecting; }

Q_SIGNALS:
    // A connect attempt ended.
    void connectFinished();

private:
    QCoro::Task<void> connectToken();
    void refresh();

    AppModel& m_model;
    SecureField* m_token;
    QPushButton* m_connect;
    FormSection* m_deployment;
    QComboBox* m_picker;
    QLabel* m_workerURL;
    QLabel* m_signupForm;
    QLabel* m_snsEndpoint;
    QPushButton* m_deploy;
    QLabel* m_errorLabel;
    QList<CloudflareAccountChoice> m_accounts;
    QString m_accountID;
    std::optional<QString> m_error;
    bool m_connecting = false;
};

} // namespace quillmere
