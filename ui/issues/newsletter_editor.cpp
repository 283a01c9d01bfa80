#include "ui/issues/newsletter_editor.h"

#include "app/app_model.h"
#include "ses/compliance.h"
#include "ui/issues/html_preview.h"
#include "ui/issues/markdown_editor.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

namespace quillmere {

namespace {

// How long the preview waits for typing to pause before it renders again.
constexpr int previewDelayMilliseconds = 150;

} // namespace

NewsletterEditor::NewsletterEditor(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_subject(new QLineEdit(this))
    , m_previewText(new QLineEdit(this))
    , m_template(new QComboBox(this))
    , m_testAddress(new QLineEdit(this))
    , m_sendTest(new QPushButton(QStringLiteral("Send Test"), this))
    , m_fix(new QWidget(this))
    , m_fixLabel(new QLabel(m_fix))
    , m_sendToList(new QPushButton(this))
    , m_markdown(new MarkdownEditor(this))
    , m_preview(new HTMLPreview(this)) {
    m_subject->setObjectName(QStringLiteral("subject"));
    m_subject->setPlaceholderText(QStringLiteral("Subject"));
    m_previewText->setObjectName(QStringLiteral("previewText"));
    m_previewText->setPlaceholderText(QStringLiteral("Preview text shown in the inbox"));
    m_template->setObjectName(QStringLiteral("template"));
    for (EmailTemplate look : allCases<EmailTemplate>()) {
        m_template->addItem(displayName(look), int(look));
    }
    m_testAddress->setObjectName(QStringLiteral("testAddress"));
    m_testAddress->setPlaceholderText(QStringLiteral("Test address"));
    m_testAddress->setClearButtonEnabled(true);
    m_testAddress->setMinimumWidth(220);
    m_sendTest->setObjectName(QStringLiteral("sendTest"));
    m_sendToList->setObjectName(QStringLiteral("sendToList"));
    m_sendToList->setIcon(Icons::symbol(QStringLiteral("paperplane.fill")));
    m_sendToList->setDefault(true);

    auto* fixIcon = new QLabel(m_fix);
    fixIcon->setPixmap(Icons::tinted(QStringLiteral("exclamationmark.triangle.fill"), Style::orange)
                           .pixmap(QSize(16, 16), devicePixelRatioF()));
    m_fixLabel->setObjectName(QStringLiteral("fixCount"));
    Style::setTextColor(m_fixLabel, Style::orange);
    auto* fixLayout = new QHBoxLayout(m_fix);
    fixLayout->setContentsMargins(0, 0, 0, 0);
    fixLayout->setSpacing(4);
    fixLayout->addWidget(fixIcon);
    fixLayout->addWidget(m_fixLabel);

    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->addRow(QStringLiteral("Subject"), m_subject);
    fields->addRow(QStringLiteral("Preview text shown in the inbox"), m_previewText);
    fields->addRow(QStringLiteral("Template"), m_template);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    actions->addWidget(m_testAddress);
    actions->addWidget(m_sendTest);
    actions->addStretch(1);
    actions->addWidget(m_fix);
    actions->addWidget(m_sendToList);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("editorSplit"));
    split->setChildrenCollapsible(false);
    split->addWidget(m_markdown);
    split->addWidget(m_preview);
    split->setSizes({500, 500});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);
    layout->addLayout(fields);
    layout->addLayout(actions);
    layout->addWidget(split, 1);

    connect(m_subject, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_issue) {
            m_issue->subject = text;
            edited();
        }
    });
    connect(m_previewText, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_issue) {
            m_issue->previewText = text;
            edited();
        }
    });
    connect(m_template, &QComboBox::activated, this, [this](int index) {
        if (m_issue) {
            m_issue->emailTemplate = EmailTemplate(m_template->itemData(index).toInt());
            edited();
        }
    });
    m_markdown->setMediaFolder(m_model.mediaFolder());
    connect(m_markdown, &MarkdownEditor::problem, &m_model, &AppModel::showStatus);
    connect(m_markdown, &MarkdownEditor::textEdited, this, [this](const QString& text) {
        if (m_issue) {
            m_issue->markdown = text;
            edited();
        }
    });
    connect(m_testAddress, &QLineEdit::textChanged, this, &NewsletterEditor::refreshActions);
    connect(m_sendTest, &QPushButton::clicked, this, &NewsletterEditor::sendTest);
    connect(m_sendToList, &QPushButton::clicked, this, &NewsletterEditor::openSendSheet);

    m_previewTimer.setSingleShot(true);
    m_previewTimer.setInterval(previewDelayMilliseconds);
    connect(&m_previewTimer, &QTimer::timeout, this, &NewsletterEditor::refreshPreview);

    connect(&m_model, &AppModel::selectedNewsletterIDChanged, this, &NewsletterEditor::load);
    connect(&m_model, &AppModel::newslettersChanged, this, &NewsletterEditor::storedChanged);
    connect(&m_model, &AppModel::isBusyChanged, this, &NewsletterEditor::refreshActions);
    // Compliance depends on the profile (postal address, sender) as well as the issue.
    connect(&m_model, &AppModel::profileChanged, this, [this] {
        refreshActions();
        m_previewTimer.start();
    });
    connect(&m_model, &AppModel::showSendOnLaunchChanged, this,
            &NewsletterEditor::openSheetOnLaunch);
    load();
}

void NewsletterEditor::load() {
    m_issue = m_model.selectedNewsletter();
    const Newsletter shown = m_issue.value_or(Newsletter{});
    m_subject->setText(shown.subject);
    m_previewText->setText(shown.previewText);
    m_template->setCurrentIndex(m_template->findData(int(shown.emailTemplate)));
    m_markdown->setText(shown.markdown);
    m_markdown->setDisabled(!m_issue || shown.status == CampaignStatus::sending);
    setEnabled(m_issue.has_value());
    refreshActions();
    refreshPreview();
}

void NewsletterEditor::edited() {
    // Only the fields edited here go back: the status, statistics and delivered readers of the
    // stored issue move on their own while a send runs and must not be overwritten by the copy.
    std::optional<Newsletter> stored = m_model.selectedNewsletter();
    if (!stored || stored->id != m_issue->id) {
        return;
    }
    stored->subject = m_issue->subject;
    stored->previewText = m_issue->previewText;
    stored->emailTemplate = m_issue->emailTemplate;
    stored->markdown = m_issue->markdown;
    m_model.updateIssue(*stored);
    m_previewTimer.start();
}

void NewsletterEditor::storedChanged() {
    const std::optional<Newsletter> stored = m_model.selectedNewsletter();
    if (!stored || !m_issue || stored->id != m_issue->id) {
        if (stored.has_value() != m_issue.has_value() ||
            (stored && m_issue && stored->id != m_issue->id)) {
            load();
        }
        return;
    }
    // Take over what the model changed (status, statistics), keep the edited fields.
    Newsletter copy = *stored;
    copy.subject = m_issue->subject;
    copy.previewText = m_issue->previewText;
    copy.emailTemplate = m_issue->emailTemplate;
    copy.markdown = m_issue->markdown;
    const bool statusChanged = copy.status != m_issue->status;
    m_issue = copy;
    if (statusChanged) {
        m_markdown->setDisabled(m_issue->status == CampaignStatus::sending);
        m_previewTimer.start();
    }
    refreshActions();
}

void NewsletterEditor::refreshActions() {
    m_sendTest->setEnabled(m_issue && m_testAddress->text().contains(QLatin1Char('@')) &&
                           !m_model.isBusy());
    const bool sent = m_issue && m_issue->status == CampaignStatus::sent;
    m_sendToList->setText(sent ? QStringLiteral("Sent") : QStringLiteral("Send to List"));
    m_sendToList->setEnabled(m_issue && !sent);
    qsizetype blocking = 0;
    if (m_issue) {
        const QList<ComplianceIssue> findings =
            Compliance::check(m_model.library().profile, *m_issue);
        blocking = std::count_if(findings.cbegin(), findings.cend(),
                                 [](const ComplianceIssue& finding) { return finding.blocking; });
    }
    m_fixLabel->setText(QStringLiteral("%1 to fix").arg(blocking));
    m_fix->setVisible(blocking > 0);
}

void NewsletterEditor::refreshPreview() {
    m_previewTimer.stop();
    if (!m_issue) {
        return;
    }
    m_preview->setHTML(m_model.previewEmail(*m_issue).html,
                       QUrl::fromLocalFile(m_model.mediaFolder() + QLatin1Char('/')));
}

void NewsletterEditor::sendTest() {
    if (!m_issue || !m_sendTest->isEnabled()) {
        return;
    }
    // The model reports the outcome itself (toast) and never lets an error escape.
    m_model.sendTest(*m_issue, m_testAddress->text());
}

void NewsletterEditor::openSendSheet() {
    if (!m_issue || m_sheet) {
        return;
    }
    m_sheet = new SendSheet(m_model, m_issue->id, this);
    m_sheet->setAttribute(Qt::WA_DeleteOnClose);
    m_sheet->open();
}

void NewsletterEditor::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    openSheetOnLaunch();
}

void NewsletterEditor::openSheetOnLaunch() {
    // A launch with -showSend opens the sheet for the issue it selected, once.
    if (m_model.showSendOnLaunch() && isVisible() && m_issue) {
        m_model.setShowSendOnLaunch(false);
        openSendSheet();
    }
}

} // namespace quillmere
