#include "ui/issues/send_sheet.h"

#include "app/app_model.h"
#include "app/send_plan.h"
#include "ses/compliance.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/prominent_button.h"
#include "ui/widgets/style.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

namespace {

std::optional<Newsletter> findIssue(const AppModel& model, const QUuid& id) {
    const Newsletter* issue = model.library().issue(id);
    return issue ? std::optional<Newsletter>(*issue) : std::nullopt;
}

void showLine(QLabel* label, const std::optional<QString>& text) {
    label->setVisible(text.has_value());
    label->setText(text.value_or(QString()));
}

constexpr int uncertainListed = 20;

} // namespace

SendSheet::SendSheet(AppModel& model, const QUuid& issueID, QWidget* parent)
    : QDialog(parent)
    , m_model(model)
    , m_issueID(issueID)
    , m_title(new QLabel(this))
    , m_audience(new QLabel(this))
    , m_blockers(new QLabel(this))
    , m_progressGroup(new QWidget(this))
    , m_progress(new QProgressBar(m_progressGroup))
    , m_progressText(new QLabel(m_progressGroup))
    , m_rate(new QLabel(this))
    , m_duration(new QLabel(this))
    , m_quota(new QLabel(this))
    , m_quotaWarning(new QLabel(this))
    , m_sandbox(new QLabel(this))
    , m_result(new QLabel(this))
    , m_uncertain(new QLabel(this))
    , m_close(new QPushButton(tr("Close"), this))
    , m_retryFailed(new QPushButton(tr("Retry Failed"), this))
    , m_action(new ProminentButton(QString(), this)) {
    setObjectName(QStringLiteral("sendSheet"));
    setWindowTitle(tr("Send to List"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(520);

    m_title->setObjectName(QStringLiteral("sendTitle"));
    m_title->setFont(Style::title(m_title, 1.4));
    m_title->setWordWrap(true);
    m_audience->setObjectName(QStringLiteral("audience"));
    m_audience->setWordWrap(true);
    Style::setTextColor(m_audience, Style::secondaryText(this));

    auto* checks = new QGroupBox(tr("Compliance checks"), this);
    auto* checksLayout = new QVBoxLayout(checks);
    checksLayout->setSpacing(6);
    for (const char* text :
         {QT_TR_NOOP("Unsubscribe link and List-Unsubscribe one-click headers in every email"),
          QT_TR_NOOP("Postal address in footer"),
          QT_TR_NOOP("Bounce guard halts above 5% bounces or 0.1% complaints")}) {
        Line line{new QLabel(checks), new QLabel(tr(text), checks)};
        line.text->setWordWrap(true);
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(line.icon, 0, Qt::AlignTop);
        row->addWidget(line.text, 1);
        checksLayout->addLayout(row);
        m_lines.append(line);
    }

    m_blockers->setObjectName(QStringLiteral("blockers"));
    m_blockers->setWordWrap(true);
    Style::setTextColor(m_blockers, Style::red);
    checksLayout->addWidget(m_blockers);

    m_progress->setObjectName(QStringLiteral("sendProgress"));
    m_progress->setTextVisible(false);
    m_progressText->setObjectName(QStringLiteral("sendState"));
    QFont callout = Style::monospacedDigits(font());
    callout.setPointSizeF(callout.pointSizeF() * 0.95);
    m_progressText->setFont(callout);
    auto* progressLayout = new QVBoxLayout(m_progressGroup);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(4);
    progressLayout->addWidget(m_progress);
    progressLayout->addWidget(m_progressText);

    m_rate->setObjectName(QStringLiteral("rate"));
    m_rate->setFont(Style::caption(m_rate));
    Style::setTextColor(m_rate, Style::secondaryText(this));
    for (QLabel* line : {m_duration, m_quota, m_quotaWarning, m_sandbox, m_result, m_uncertain}) {
        line->setWordWrap(true);
    }
    m_duration->setObjectName(QStringLiteral("duration"));
    m_quota->setObjectName(QStringLiteral("quota"));
    m_quotaWarning->setObjectName(QStringLiteral("quotaWarning"));
    Style::setTextColor(m_quotaWarning, Style::orange);
    m_sandbox->setObjectName(QStringLiteral("sandbox"));
    Style::setTextColor(m_sandbox, Style::orange);
    m_result->setObjectName(QStringLiteral("sendResult"));
    m_uncertain->setObjectName(QStringLiteral("uncertainReaders"));
    m_uncertain->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_close->setObjectName(QStringLiteral("close"));
    m_retryFailed->setObjectName(QStringLiteral("retryFailed"));
    m_action->setObjectName(QStringLiteral("sendAction"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_close);
    buttons->addWidget(m_retryFailed);
    buttons->addWidget(m_action);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_action, &QPushButton::clicked, this, &SendSheet::act);
    connect(m_retryFailed, &QPushButton::clicked, this, [this] {
        if (const std::optional<Newsletter> issue = findIssue(m_model, m_issueID)) {
            m_model.retryFailed(*issue);
        }
    });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(14);
    layout->addWidget(m_title);
    layout->addWidget(m_audience);
    layout->addWidget(checks);
    layout->addWidget(m_progressGroup);
    layout->addWidget(m_result);
    layout->addWidget(m_uncertain);
    layout->addWidget(m_rate);
    layout->addWidget(m_duration);
    layout->addWidget(m_quota);
    layout->addWidget(m_quotaWarning);
    layout->addWidget(m_sandbox);
    layout->addLayout(buttons);

    // The sheet follows the model live: the send's progress, the list, the profile, the pace.
    for (auto signal :
         {&AppModel::sendSessionChanged, &AppModel::subscribersChanged, &AppModel::profileChanged,
          &AppModel::accountChanged, &AppModel::newslettersChanged}) {
        connect(&m_model, signal, this, &SendSheet::refresh);
    }
    refresh();
    // Return answers the sheet's own action, not Close (a focused button becomes the default).
    m_action->setFocus();
}

void SendSheet::setLine(Line& line, bool ok) {
    line.ok = ok;
    const QString symbol =
        ok ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.octagon.fill");
    line.icon->setPixmap(Icons::tinted(symbol, ok ? Style::green : Style::red)
                             .pixmap(QSize(16, 16), devicePixelRatioF()));
    Style::setTextColor(line.text, ok ? Style::primaryText(this) : Style::red);
}

QList<QPair<QString, bool>> SendSheet::complianceLines() const {
    QList<QPair<QString, bool>> lines;
    for (const Line& line : m_lines) {
        lines.append({line.text->text(), line.ok});
    }
    return lines;
}

void SendSheet::refresh() {
    const std::optional<Newsletter> issue = findIssue(m_model, m_issueID);
    const QString subject = issue ? issue->subject : QString();
    m_title->setText(tr("Send “%1”").arg(subject));
    const qsizetype active = m_model.count(SubscriberStatus::active);
    m_audience->setText(tr("%n active subscriber(s) will receive this issue. Pending, "
                           "unsubscribed, bounced and complained addresses are skipped.",
                           nullptr, int(active)));

    setLine(m_lines[0], true);
    setLine(m_lines[1], !m_model.library().profile.postalAddress.isEmpty());
    setLine(m_lines[2], true);

    const std::optional<SendSession>& session = m_model.sendSession();
    const bool ours = session && session->newsletterID == m_issueID;
    const bool resize = m_progressGroup->isVisibleTo(this) != ours;
    m_progressGroup->setVisible(ours);
    if (ours) {
        m_progress->setRange(0, int(std::max<qint64>(1, session->total)));
        m_progress->setValue(int(std::min(session->total, session->sent + session->failed)));
        QString text = tr("%1: %2 sent, %3 failed of %4")
                           .arg(session->state)
                           .arg(session->sent)
                           .arg(session->failed)
                           .arg(session->total);
        if (session->uncertain > 0) {
            text += tr(", %1 uncertain").arg(session->uncertain);
        }
        if (session->retrying > 0) {
            text += tr(", %1 to retry").arg(session->retrying);
        }
        m_progressText->setText(text);
    }

    // What the sends of this issue achieved so far, and who may or may not have it.
    const bool reached = issue && (issue->stats.sent > 0 || !issue->failedIDs.isEmpty() ||
                                   !issue->uncertainIDs.isEmpty());
    showLine(m_result, reached ? std::optional(sendSummary(*issue)) : std::nullopt);
    const QList<Subscriber> uncertain = m_model.uncertainReaders(m_issueID);
    std::optional<QString> uncertainText;
    if (!uncertain.isEmpty()) {
        QStringList addresses;
        for (qsizetype i = 0; i < std::min<qsizetype>(uncertain.size(), uncertainListed); ++i) {
            addresses.append(uncertain[i].email);
        }
        if (uncertain.size() > uncertainListed) {
            addresses.append(tr("and %1 more").arg(uncertain.size() - uncertainListed));
        }
        uncertainText = tr("The connection broke after these messages went out, so these "
                           "readers may or may not have received it: %1")
                            .arg(addresses.join(QStringLiteral(", ")));
    }
    showLine(m_uncertain, uncertainText);

    m_rate->setText(tr("Throttled to 80% of your SES rate (%1 per second)")
                        .arg(Formatting::decimal(m_model.sendRate())));
    const bool running = ours && !session->isFinished;
    if (issue && !running) {
        const SendPlan plan = m_model.sendPlan(*issue);
        showLine(m_duration,
                 plan.recipients > 0 ? std::optional(plan.durationText()) : std::nullopt);
        showLine(m_quota, plan.quotaText());
        showLine(m_quotaWarning, plan.quotaWarning());
        showLine(m_sandbox, plan.sandboxNotice());
    } else {
        for (QLabel* line : {m_duration, m_quota, m_quotaWarning, m_sandbox}) {
            line->hide();
        }
    }
    m_retryFailed->setVisible(issue && !running && !issue->failedIDs.isEmpty());

    if (running) {
        m_action->setText(session->isHalted   ? tr("Resume…")
                          : session->isPaused ? tr("Resume")
                                              : tr("Pause"));
        m_action->setDefault(session->isPaused);
        Style::setBlocked(m_action, QString());
        m_blockers->hide();
    } else {
        m_action->setText(tr("Start Sending"));
        m_action->setDefault(true);
        QStringList blocking;
        if (issue) {
            for (const ComplianceIssue& finding :
                 Compliance::check(m_model.library().profile, *issue)) {
                if (finding.blocking) {
                    blocking.append(finding.message);
                }
            }
        }
        if (active == 0) {
            blocking.append(tr("No subscriber is active yet."));
        }
        m_blockers->setText(QStringLiteral("✕ ") + blocking.join(QStringLiteral("\n✕ ")));
        m_blockers->setVisible(!blocking.isEmpty());
        Style::setBlocked(m_action, blocking.isEmpty() ? QString() : blocking.join(u'\n'));
    }
    if (resize) {
        adjustSize();
    }
}

void SendSheet::act() {
    const std::optional<SendSession>& session = m_model.sendSession();
    if (session && session->newsletterID == m_issueID && !session->isFinished) {
        if (session->isHalted) {
            confirmResumeAfterHalt(session->state);
        } else if (session->isPaused) {
            m_model.resumeSend();
        } else {
            m_model.pauseSend();
        }
        return;
    }
    if (const std::optional<Newsletter> issue = findIssue(m_model, m_issueID)) {
        m_model.sendToList(*issue);
    }
}

void SendSheet::confirmResumeAfterHalt(const QString& state) {
    if (m_confirm) {
        return;
    }
    m_confirm = new QMessageBox(QMessageBox::Warning, tr("Resume the send?"),
                                tr("%1\n\nResume anyway? From here on the bounce guard judges "
                                   "only the messages sent after this point.")
                                    .arg(state),
                                QMessageBox::NoButton, this);
    m_confirm->setObjectName(QStringLiteral("haltConfirmation"));
    QPushButton* resume = m_confirm->addButton(tr("Resume Sending"), QMessageBox::AcceptRole);
    m_confirm->addButton(QMessageBox::Cancel);
    m_confirm->setDefaultButton(qobject_cast<QPushButton*>(m_confirm->button(QMessageBox::Cancel)));
    m_confirm->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_confirm, &QMessageBox::finished, this, [this, resume] {
        if (m_confirm->clickedButton() == resume) {
            m_model.resumeSend(true);
        }
        m_confirm = nullptr;
    });
    m_confirm->open();
}

} // namespace quillmere
