#pragma once

#include "ui/setup/cloudflare_account_choice.h"

#include <QFrame>
#include <qcoro/qcorotask.h>

#include <optional>

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

    SecureField* tokenField() const { return m_token; }
    QPushButton* connectButton() const { return m_connect; }
    QComboBox* accountPicker() const { return m_picker; }
    QPushButton* deployButton() const { return m_deploy; }
    const QList<CloudflareAccountChoice>& accounts() const { return m_accounts; }
    const QString& accountID() const { return m_accountID; }
    // The error shown, or empty.
    QString error() const;
    // "Live at " and the worker's address once deployed, or empty.
    QString liveText() const;
    bool isConnecting() const { return m_connecting; }

Q_SIGNALS:
    // A connect attempt ended (accepted, refused or failed).
    void connectFinished();

private:
    QCoro::Task<void> connectToken();
    void deploy();
    void refresh();

    AppModel& m_model;
    SecureField* m_token;
    QPushButton* m_connect;
    QLabel* m_pickerLabel;
    QComboBox* m_picker;
    QPushButton* m_deploy;
    QLabel* m_error;
    ResultLine* m_live;
    QList<CloudflareAccountChoice> m_accounts;
    QString m_accountID;
    std::optional<QString> m_errorText;
    bool m_connecting = false;
};

} // namespace quillmere
