#include "ui/sidebar_card.h"

#include "app/app_model.h"
#include "ui/widgets/accessibility.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

namespace {

constexpr int setupStepCount = 5;

} // namespace

SidebarCard::SidebarCard(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_icon(new QLabel(this))
    , m_title(new QLabel(this))
    , m_detail(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_action(new QPushButton(this)) {
    setObjectName(QStringLiteral("sidebarCard"));
    setStyleSheet(QStringLiteral("#sidebarCard { background: palette(base); border: 1px solid "
                                 "palette(midlight); border-radius: 10px; }"));
    m_title->setObjectName(QStringLiteral("cardTitle"));
    m_title->setFont(Style::headline(m_title));
    m_detail->setObjectName(QStringLiteral("cardDetail"));
    m_detail->setFont(Style::caption(m_detail));
    m_detail->setWordWrap(true);
    Style::setTextColor(m_detail, Style::secondaryText(this));
    m_progress->setObjectName(QStringLiteral("cardProgress"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setMaximumHeight(6);
    m_action->setObjectName(QStringLiteral("cardAction"));

    auto* head = new QHBoxLayout;
    head->setSpacing(6);
    head->addWidget(m_icon);
    head->addWidget(m_title, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(6);
    layout->addLayout(head);
    layout->addWidget(m_detail);
    layout->addWidget(m_progress);
    layout->addWidget(m_action, 0, Qt::AlignLeft);

    connect(m_action, &QPushButton::clicked, this, &SidebarCard::perform);
    // Setup progress depends on the library, the SES state and demo mode.
    for (auto signal : {&AppModel::libraryChanged, &AppModel::isDemoChanged,
                        &AppModel::accountChanged, &AppModel::identityChanged}) {
        connect(&m_model, signal, this, &SidebarCard::refresh);
    }
    refresh();
}

void SidebarCard::refresh() {
    std::optional<double> progress;
    if (m_model.isDemo()) {
        m_symbol = QStringLiteral("sparkles");
        m_title->setText(tr("Sample data"));
        m_detail->setText(tr("Nothing is saved or sent."));
        m_action->setText(tr("Start for real"));
    } else {
        const auto done = m_model.completedSteps().size();
        if (done == setupStepCount) {
            hide();
            return;
        }
        m_symbol = QStringLiteral("list.bullet.clipboard");
        m_title->setText(tr("Finish setup"));
        m_detail->setText(tr("%1 of %2 steps done").arg(done).arg(setupStepCount));
        m_action->setText(tr("Continue"));
        progress = double(done) / setupStepCount;
    }
    m_icon->setPixmap(Icons::symbol(m_symbol).pixmap(QSize(16, 16), devicePixelRatioF()));
    Accessibility::describe(this, QAccessible::Grouping, m_title->text());
    setAccessibleDescription(m_detail->text());
    m_progress->setVisible(progress.has_value());
    m_progress->setValue(int(progress.value_or(0) * 1000));
    show();
}

void SidebarCard::perform() {
    if (m_model.isDemo()) {
        m_model.leaveDemo();
    } else {
        m_model.setOnboardingStartStep(m_model.firstIncompleteStep());
        m_model.setOnboardingDone(false);
    }
}

QString SidebarCard::title() const {
    return isVisibleTo(parentWidget()) ? m_title->text() : QString();
}

QString SidebarCard::detail() const {
    return isVisibleTo(parentWidget()) ? m_detail->text() : QString();
}

std::optional<double> SidebarCard::progress() const {
    if (!isVisibleTo(parentWidget()) || !m_progress->isVisibleTo(this)) {
        return std::nullopt;
    }
    return m_progress->value() / 1000.0;
}

SandboxBadge::SandboxBadge(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_headline(new QLabel(this))
    , m_detail(new QLabel(this)) {
    setObjectName(QStringLiteral("sandboxBadge"));
    m_headline->setObjectName(QStringLiteral("badgeHeadline"));
    m_headline->setFont(Style::headline(m_headline));
    m_detail->setObjectName(QStringLiteral("badgeDetail"));
    m_detail->setFont(Style::monospacedDigits(Style::caption(m_detail)));
    Style::setTextColor(m_detail, Style::secondaryText(this));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 4, 10, 4);
    layout->setSpacing(2);
    layout->addWidget(m_headline);
    layout->addWidget(m_detail);
    connect(&m_model, &AppModel::accountChanged, this, &SandboxBadge::refresh);
    refresh();
}

void SandboxBadge::refresh() {
    const auto& account = m_model.account();
    if (!account) {
        m_headline->setText(tr("Not connected"));
        m_detail->clear();
        m_detail->hide();
        Accessibility::describe(this, QAccessible::Grouping, m_headline->text());
        return;
    }
    m_headline->setText(account->productionAccessEnabled ? tr("SES production")
                                                         : tr("SES sandbox"));
    m_detail->setText(tr("%1 of %2 today, %3/s")
                          .arg(qint64(account->sentLast24Hours))
                          .arg(qint64(account->max24HourSend))
                          .arg(Formatting::decimal(account->maxSendRate)));
    m_detail->show();
    Accessibility::describe(this, QAccessible::Grouping, m_headline->text());
    setAccessibleDescription(m_detail->text());
}

QString SandboxBadge::headline() const {
    return m_headline->text();
}

QString SandboxBadge::detail() const {
    return m_detail->text();
}

} // namespace quillmere
