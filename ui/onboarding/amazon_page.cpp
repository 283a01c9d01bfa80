#include "ui/onboarding/amazon_page.h"

#include "app/app_model.h"
#include "ui/onboarding/instruction_row.h"
#include "ui/setup/profile_binding.h"
#include "ui/setup/region_picker.h"
#include "ui/setup/setup_links.h"
#include "ui/setup/setup_state.h"
#include "ui/widgets/copy_button.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/result_line.h"
#include "ui/widgets/secure_field.h"
#include "ui/widgets/style.h"

#include <QDesktopServices>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

QString AmazonPage::policy() {
    return QStringLiteral("{\n"
                          "  \"Version\": \"2012-10-17\",\n"
                          "  \"Statement\": [\n"
                          "    {\n"
                          "      \"Effect\": \"Allow\",\n"
                          "      \"Action\": [\n"
                          "        \"ses:SendEmail\",\n"
                          "        \"ses:SendRawEmail\",\n"
                          "        \"ses:GetAccount\",\n"
                          "        \"ses:CreateEmailIdentity\",\n"
                          "        \"ses:GetEmailIdentity\"\n"
                          "      ],\n"
                          "      \"Resource\": \"*\"\n"
                          "    }\n"
                          "  ]\n"
                          "}");
}

AmazonPage::AmazonPage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::amazon, tr("Connect your Amazon account"),
                tr("Amazon SES does the actual sending. You create a key that lets this "
                   "app send email and nothing else."),
                parent)
    , m_accessKey(new QLineEdit(this))
    , m_secretKey(new SecureField({}, this))
    , m_region(new RegionPicker(this))
    , m_connect(new ProminentButton(tr("Connect"), this))
    , m_copyPolicy(new CopyButton(
          tr("Copy policy"), [] { return policy(); }, this))
    , m_openIAM(new QPushButton(Icons::symbol(QStringLiteral("arrow.up.right.square")),
                                tr("Open AWS IAM"), this))
    , m_result(new ResultLine(this)) {
    const QStringList instructions{
        tr("Sign in to AWS and open **IAM**, then **Users**, then **Create user**. "
           "Name it `newsletter`."),
        tr("Choose **Attach policies directly**, then **Create policy**, switch to "
           "JSON and paste the policy below."),
        tr("Open the new user, then **Security credentials**, then **Create access "
           "key**. Pick **Application running outside AWS**."),
        tr("Paste both keys here. They are saved in your system keychain."),
    };
    for (qsizetype i = 0; i < instructions.size(); ++i) {
        column()->addWidget(new InstructionRow(i + 1, instructions.at(i), this));
    }

    // The policy box.
    auto* box = new QFrame(this);
    box->setObjectName(QStringLiteral("policyBox"));
    box->setStyleSheet(QStringLiteral("#policyBox { background: palette(base); border: 1px solid "
                                      "rgba(128, 128, 128, 0.28); border-radius: 8px; }"));
    auto* policyText = new QLabel(policy(), box);
    policyText->setObjectName(QStringLiteral("policy"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(Style::caption(this).pointSizeF());
    policyText->setFont(mono);
    policyText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_copyPolicy->setObjectName(QStringLiteral("copyPolicy"));
    m_openIAM->setObjectName(QStringLiteral("openIAM"));
    auto* boxButtons = new QVBoxLayout;
    boxButtons->addWidget(m_copyPolicy);
    boxButtons->addWidget(m_openIAM);
    boxButtons->addStretch(1);
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(14, 10, 14, 10);
    boxLayout->addWidget(policyText, 1);
    boxLayout->addLayout(boxButtons);
    column()->addWidget(box);

    // The keys and the region.
    auto* keys = new FormSection({}, this);
    m_accessKey->setObjectName(QStringLiteral("accessKey"));
    m_accessKey->setPlaceholderText(tr("AKIA..."));
    m_secretKey->setObjectName(QStringLiteral("secretKey"));
    m_region->setObjectName(QStringLiteral("region"));
    m_connect->setObjectName(QStringLiteral("connectAmazon"));
    m_result->setObjectName(QStringLiteral("amazonResult"));
    keys->addRow(tr("Access key ID"), m_accessKey);
    keys->addRow(tr("Secret access key"), m_secretKey);
    keys->addNote(tr("Saved in your system keychain"));
    keys->addRow(tr("Region"), m_region);
    keys->addNote(tr("Pick the region closest to your readers. You can't move a domain "
                     "between regions later without verifying it again."));
    auto* connectRow = new QHBoxLayout;
    connectRow->addStretch(1);
    connectRow->addWidget(m_connect);
    keys->addRow(connectRow);
    column()->addWidget(keys);
    column()->addWidget(m_result);

    ProfileBinding::bind(m_region, m_model, &SenderProfile::region);
    connect(m_openIAM, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(SetupLinks::awsIAMUsers()); });
    connect(m_connect, &QPushButton::clicked, this, &AmazonPage::connectAccount);
    connect(m_accessKey, &QLineEdit::textChanged, this, &AmazonPage::refresh);
    connect(m_secretKey, &QLineEdit::textChanged, this, &AmazonPage::refresh);
    connect(&m_model, &AppModel::isBusyChanged, this, &AmazonPage::refresh);
    connect(&m_model, &AppModel::sesErrorChanged, this, &AmazonPage::refresh);
    onSetupStateChange(m_model, this, [this] { refresh(); });
    refresh();
}

namespace {

// Stores what was typed (the fields are cleared only once it is stored), then checks the account.
QCoro::Task<void> saveThenConnect(AppModel& model, QPointer<QLineEdit> accessKey,
                                  QPointer<QLineEdit> secretKey) {
    if (!accessKey->text().isEmpty() && !secretKey->text().isEmpty()) {
        auto saving = model.saveAWSKeys(accessKey->text(), secretKey->text());
        const bool saved = co_await saving;
        if (!saved) {
            co_return; // not stored: the fields keep what was typed, the error says why
        }
        if (accessKey && secretKey) {
            accessKey->clear();
            secretKey->clear();
        }
    }
    auto checking = model.refreshSES();
    co_await checking;
}

} // namespace

void AmazonPage::connectAccount() {
    if (!m_connect->isEnabled()) {
        return;
    }
    saveThenConnect(m_model, m_accessKey, m_secretKey);
}

void AmazonPage::refresh() {
    const bool typed = !m_accessKey->text().isEmpty() && !m_secretKey->text().isEmpty();
    const bool untouched = m_accessKey->text().isEmpty() && m_secretKey->text().isEmpty();
    // Empty fields never replace stored keys: with keys stored, Connect only checks again.
    QString connectReason;
    if (m_model.isBusy()) {
        connectReason = tr("Wait for the current task to finish.");
    } else if (!typed && !(untouched && m_model.hasAWSKeys())) {
        connectReason = tr("Type both keys first.");
    }
    DemoGuard::block(m_connect, m_model, connectReason);

    const auto& account = m_model.account();
    if (account) {
        m_result->set(true, account->productionAccessEnabled
                                ? tr("Connected. Your account can send up to %1 emails a day.")
                                      .arg(Formatting::integer(qint64(account->max24HourSend)))
                                : tr("Connected, in sandbox mode. You can send tests "
                                     "now. Request production access to email your "
                                     "list (we write the request for you)."));
        m_result->show();
    } else if (const auto& error = m_model.sesError()) {
        m_result->set(false, *error);
        m_result->show();
    } else {
        m_result->hide();
    }
}

} // namespace quillmere
