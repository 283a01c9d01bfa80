#pragma once

#include "ui/setup/cloudflare_connect.h"

#include <QFrame>

class QComboBox;
class QLabel;
class QPushButton;

namespace quillmere {

class AppModel;
class ResultLine;
class SecureField;

// The guide's compact connect-and-deploy card: a Cloudflare token, the account it sees, and the
// deployment of the signup worker into it.
class WorkerDeployCard : public QFrame {
    Q_OBJECT

public:
    explicit WorkerDeployCard(AppModel& model, QWidget* parent = nullptr);

    SecureField* tokenField() const { return m_cloudflare->tokenField(); }
    QPushButton* connectButton() const { return m_cloudflare->connectButton(); }
    QComboBox* accountPicker() const { return m_cloudflare->accountPicker(); }
    QPushButton* deployButton() const { return m_deploy; }
    const QList<CloudflareAccountChoice>& accounts() const { return m_cloudflare->accounts(); }
    const QString& accountID() const { return m_cloudflare->accountID(); }
    // The error shown, or empty.
    QString error() const { return m_cloudflare->error().value_or(QString()); }
    // "Live at " and the worker's address once deployed, or empty.
    QString liveText() const;
    bool isConnecting() const { return m_cloudflare->isConnecting(); }

Q_SIGNALS:
    // A connect attempt ended (accepted, refused or failed).
    void connectFinished();

private:
    void deploy();
    void refresh();

    AppModel& m_model;
    CloudflareConnect* m_cloudflare;
    QLabel* m_pickerLabel;
    QPushButton* m_deploy;
    ResultLine* m_live;
};

} // namespace quillmere
