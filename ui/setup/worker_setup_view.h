#pragma once

#include "ui/setup/cloudflare_connect.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;

namespace quillmere {

class AppModel;
class FormSection;
class SecureField;

// The "Signup Worker" screen: a Cloudflare token, the account to deploy into, the deployment,
// the addresses to use afterwards, what the worker reports about itself, and how to route
// bounces to the worker.
class WorkerSetupView : public QWidget {
    Q_OBJECT

public:
    WorkerSetupView(AppModel& model, QWidget* parent = nullptr);

    SecureField* tokenField() const { return m_cloudflare->tokenField(); }
    QPushButton* connectButton() const { return m_cloudflare->connectButton(); }
    QComboBox* accountPicker() const { return m_cloudflare->accountPicker(); }
    QPushButton* deployButton() const { return m_deploy; }
    QLabel* workerURLValue() const { return m_workerURL; }
    QLabel* signupFormValue() const { return m_signupForm; }
    QLabel* snsEndpointValue() const { return m_snsEndpoint; }
    QLabel* errorLabel() const { return m_cloudflare->errorLabel(); }
    // What the worker reports: failures, and bounce routing that needs the AWS account.
    QLabel* healthLabel() const { return m_health; }

    const QList<CloudflareAccountChoice>& accounts() const { return m_cloudflare->accounts(); }
    const QString& accountID() const { return m_cloudflare->accountID(); }
    const std::optional<QString>& error() const { return m_cloudflare->error(); }
    bool isConnecting() const { return m_cloudflare->isConnecting(); }

Q_SIGNALS:
    // A connect attempt ended.
    void connectFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();

    AppModel& m_model;
    CloudflareConnect* m_cloudflare;
    FormSection* m_deployment;
    QLabel* m_workerURL;
    QLabel* m_signupForm;
    QLabel* m_snsEndpoint;
    QPushButton* m_deploy;
    FormSection* m_bounces;
    QLabel* m_health;
};

} // namespace quillmere
