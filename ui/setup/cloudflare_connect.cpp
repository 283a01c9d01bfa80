#include "ui/setup/cloudflare_connect.h"

#include "app/app_model.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/style.h"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

namespace quillmere {

CloudflareConnect::CloudflareConnect(AppModel& model, Words words, QWidget* screen)
    : QObject(screen)
    , m_model(model)
    , m_words(std::move(words))
    , m_token(new SecureField({}, screen))
    , m_connect(new QPushButton(tr("Connect"), screen))
    , m_picker(new QComboBox(screen))
    , m_errorLabel(new QLabel(screen)) {
    m_token->setObjectName(QStringLiteral("cloudflareToken"));
    m_connect->setObjectName(QStringLiteral("cloudflareConnect"));
    m_picker->setObjectName(QStringLiteral("cloudflareAccount"));
    m_errorLabel->setObjectName(QStringLiteral("cloudflareError"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Style::setTextColor(m_errorLabel, Style::red);

    connect(m_token, &QLineEdit::textChanged, this, &CloudflareConnect::refresh);
    connect(m_connect, &QPushButton::clicked, this, [this] { connectToken(); });
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_accounts.size()) {
            m_accountID = m_accounts.at(index).id;
        }
        refresh();
    });
    connect(&model, &AppModel::isDemoChanged, this, &CloudflareConnect::refresh);
    refresh();
}

QString CloudflareConnect::token() const {
    return m_token->text();
}

QCoro::Task<void> CloudflareConnect::connectToken() {
    QPointer<CloudflareConnect> self(this);
    m_connecting = true;
    m_error.reset();
    refresh();
    try {
        auto asking = m_model.cloudflareAccounts(m_token->text());
        const std::optional<QList<CloudflareAccount>> found = co_await asking;
        if (!self) {
            co_return;
        }
        if (!found) {
            m_error = m_words.rejected;
        } else {
            m_accounts = accountChoices(*found);
            m_accountID = m_accounts.isEmpty() ? QString() : m_accounts.first().id;
            m_error = m_accounts.isEmpty() ? m_words.noAccount : std::nullopt;
        }
    } catch (const std::exception& failure) {
        if (!self) {
            co_return;
        }
        m_error = AppModel::errorText(failure);
    }
    m_connecting = false;
    showAccountChoices(m_picker, m_accounts, m_accountID);
    refresh();
    Q_EMIT connectFinished();
}

void CloudflareConnect::refresh() {
    DemoGuard::enable(m_connect, m_model, !m_connecting && !m_token->text().isEmpty());
    m_errorLabel->setText(m_error.value_or(QString()));
    Q_EMIT changed();
}

} // namespace quillmere
