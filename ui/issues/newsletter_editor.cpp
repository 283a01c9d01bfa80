#include "ui/issues/newsletter_editor.h"

#include "app/app_model.h"
#include "ses/compliance.h"
#include "ui/issues/html_preview.h"
#include "ui/issues/markdown_editor.h"
#include "ui/widgets/demo_guard.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/style.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
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
    , m_sendTest(new QPushButton(tr("Send Test"), this))
    , m_fix(new QToolButton(this))
    , m_sendToList(new ProminentButton(QString(), this))
    , m_sentBanner(new QWidget(this))
    , m_duplicate(new QPushButton(tr("Duplicate as New Issue"), m_sentBanner))
    , m_markdown(new MarkdownEditor(this))
    , m_preview(new HTMLPreview(this)) {
    m_subject->setObjectName(QStringLiteral("subject"));
    m_subject->setPlaceholderText(tr("Subject"));
    m_previewText->setObjectName(QStringLiteral("previewText"));
    m_previewText->setPlaceholderText(tr("Preview text shown in the inbox"));
    m_template->setObjectName(QStringLiteral("template"));
    for (EmailTemplate look : allCases<EmailTemplate>()) {
        m_template->addItem(displayName(look), int(look));
    }
    m_testAddress->setObjectName(QStringLiteral("testAddress"));
    m_testAddress->setPlaceholderText(tr("Test address"));
    m_testAddress->setClearButtonEnabled(true);
    m_testAddress->setMinimumWidth(220);
    m_sendTest->setObjectName(QStringLiteral("sendTest"));
    m_sendToList->setObjectName(QStringLiteral("sendToList"));
    m_sendToList->setIcon(Icons::symbol(QStringLiteral("paperplane.fill")));
    m_sendToList->setDefault(true);

    m_fix->setObjectName(QStringLiteral("fixCount"));
    m_fix->setIcon(Icons::tinted(QStringLiteral("exclamationmark.triangle.fill"), Style::orange));
    m_fix->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_fix->setAutoRaise(true);
    m_fix->setCursor(Qt::PointingHandCursor);
    Style::setTextColor(m_fix, Style::orange);
    connect(m_fix, &QToolButton::clicked, this, &NewsletterEditor::showFindings);

    // Shown instead of the editing tools once the issue is sent.
    m_sentBanner->setObjectName(QStringLiteral("sentBanner"));
    m_duplicate->setObjectName(QStringLiteral("duplicate"));
    auto* sentText =
        new QLabel(tr("Sent. The text stays as your readers received it."), m_sentBanner);
    Style::setTextColor(sentText, Style::secondaryText(this));
    auto* sentLayout = new QHBoxLayout(m_sentBanner);
    sentLayout->setContentsMargins(0, 0, 0, 0);
    sentLayout->addWidget(sentText, 1);
    sentLayout->addWidget(m_duplicate);
    connect(m_duplicate, &QPushButton::clicked, this, [this] {
        if (m_issue) {
            m_model.duplicateIssue(m_issue->id);
        }
    });

    auto* fields = new QFormLayout;
    fields->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    fields->setRowWrapPolicy(QFormLayout::WrapLongRows);
    fields->addRow(tr("Subject"), m_subject);
    fields->addRow(tr("Preview text shown in the inbox"), m_previewText);
    fields->addRow(tr("Template"), m_template);

    auto* actions = new QHBoxLayout;
    actions->setSpacing(8);
    actions->addWidget(m_testAddress);
    actions->addWidget(m_sendTest);
    actions->addStretch(1);
    actions->addWidget(m_fix);
    actions->addWidget(m_sendToList);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setObjectName(QStringLiteral("editorSplit"));
    // The formatting tools span editor and preview, so a narrow window keeps them whole.
    split->setChildrenCollapsible(false);
    split->setChildrenCollapsible(false);
    split->addWidget(m_markdown);
    split->addWidget(m_preview);
    split->setSizes({500, 500});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);
    layout->addLayout(fields);
    layout->addLayout(actions);
    layout->addWidget(m_sentBanner);
    m_markdown->layout()->removeWidget(m_markdown->toolBar());
    m_markdown->textArea()->installEventFilter(this);
    layout->addWidget(m_markdown->toolBar());
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
    connect(&m_model, &AppModel::isDemoChanged, this, &NewsletterEditor::refreshActions);
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
    // The start of a long preview text, not its tail.
    m_previewText->setCursorPosition(0);
    m_markdown->setText(shown.markdown);
    setEnabled(m_issue.has_value());
    applyReadOnly();
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
        applyReadOnly();
        m_previewTimer.start();
    }
    refreshActions();
}

void NewsletterEditor::applyReadOnly() {
    const CampaignStatus status = m_issue ? m_issue->status : CampaignStatus::draft;
    const bool sent = status == CampaignStatus::sent;
    // A running send has built its messages already; a sent issue is what readers received.
    m_markdown->setDisabled(!m_issue || sent || status == CampaignStatus::sending);
    for (QLineEdit* field : {m_subject, m_previewText}) {
        field->setReadOnly(sent);
    }
    m_template->setEnabled(!sent);
    m_sentBanner->setVisible(sent);
    m_markdown->toolBar()->setVisible(!sent);
}

QStringList NewsletterEditor::blockingFindings() const {
    QStringList messages;
    if (m_issue) {
        for (const ComplianceIssue& finding :
             Compliance::check(m_model.library().profile, *m_issue)) {
            if (finding.blocking) {
                messages.append(finding.message);
            }
        }
    }
    return messages;
}

void NewsletterEditor::refreshActions() {
    QString testReason;
    if (!m_testAddress->text().contains(QLatin1Char('@'))) {
        testReason = tr("Type the address to send the test to.");
    } else if (m_model.isBusy()) {
        testReason = tr("Wait for the current task to finish.");
    }
    DemoGuard::block(m_sendTest, m_model, testReason);
    const bool sent = m_issue && m_issue->status == CampaignStatus::sent;
    // A sent issue with readers SES refused opens the sheet once more, to retry them.
    const bool failures = sent && !m_issue->failedIDs.isEmpty();
    m_sendToList->setText(failures ? tr("Retry Failed…") : sent ? tr("Sent") : tr("Send to List"));
    Style::setBlocked(m_sendToList,
                      sent && !failures
                          ? tr("This issue has been sent. Duplicate it to send it again.")
                          : QString());
    const QStringList findings = blockingFindings();
    m_fix->setText(tr("%n to fix", nullptr, int(findings.size())));
    const QString list = QStringLiteral("• ") + findings.join(QStringLiteral("\n• "));
    m_fix->setToolTip(list);
    m_fix->setAccessibleDescription(list);
    m_fix->setVisible(!findings.isEmpty() && !sent);
    if (m_findings && findings.isEmpty()) {
        m_findings->close();
    }
}

void NewsletterEditor::showFindings() {
    if (m_findings) {
        m_findings->close();
    }
    auto* popup = new QFrame(this, Qt::Popup);
    popup->setObjectName(QStringLiteral("findings"));
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(popup);
    layout->setContentsMargins(14, 10, 14, 12);
    auto* heading = new QLabel(tr("Fix before sending to your list:"), popup);
    heading->setFont(Style::headline(heading));
    layout->addWidget(heading);
    for (const QString& message : blockingFindings()) {
        auto* line = new QLabel(QStringLiteral("• ") + message, popup);
        line->setWordWrap(true);
        line->setMaximumWidth(380);
        layout->addWidget(line);
    }
    m_findings = popup;
    popup->adjustSize();
    QPoint at = m_fix->mapToGlobal(QPoint(m_fix->width() - popup->width(), m_fix->height()));
    popup->move(at);
    popup->show();
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

bool NewsletterEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_markdown->textArea() && event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_K)) {
            return true; // left unaccepted: the shortcut takes it
        }
    }
    return QWidget::eventFilter(watched, event);
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
