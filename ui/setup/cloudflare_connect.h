#pragma once

#include "ui/setup/cloudflare_account_choice.h"

#include <QObject>
#include <qcoro/qcorotask.h>

#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace quillmere {

class AppModel;
class SecureField;

// The Cloudflare connect step of both worker screens: a token field, "Connect", the accounts
// the token sees (first one chosen) and an error line. The widgets are made here, children of
// the screen, and each screen places them in its own layout.
class CloudflareConnect : public QObject {
    Q_OBJECT

public:
    struct Words {
        QString rejected;                 // Cloudflare says the token is not active
        std::optional<QString> noAccount; // the token sees no account; no error when none
    };

    CloudflareConnect(AppModel& model, Words words, QWidget* screen);

    SecureField* tokenField() const { return m_token; }
    QPushButton* connectButton() const { return m_connect; }
    QComboBox* accountPicker() const { return m_picker; }
    QLabel* errorLabel() const { return m_errorLabel; }

    QString token() const;
    const QList<CloudflareAccountChoice>& accounts() const { return m_accounts; }
    const QString& accountID() const { return m_accountID; }
    const std::optional<QString>& error() const { return m_error; }
    bool isConnecting() const { return m_connecting; }

Q_SIGNALS:
    // The token, the accounts, the choice, the error or the connecting state changed.
    void changed();
    // A connect attempt ended (accepted, refused or failed).
    void connectFinished();

private:
    QCoro::Task<void> connectToken();
    void refresh();

    AppModel& m_model;
    Words m_words;
    SecureField* m_token;
    QPushButton* m_connect;
    QComboBox* m_picker;
    QLabel* m_errorLabel;
    QList<CloudflareAccountChoice> m_accounts;
    QString m_accountID;
    std::optional<QString> m_error;
    bool m_connecting = false;
};

} // namespace quillmere
