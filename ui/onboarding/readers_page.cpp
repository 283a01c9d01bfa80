#include "ui/onboarding/readers_page.h"

#include "app/app_model.h"
#include "ui/subscribers/csv_drop_area.h"
#include "ui/subscribers/import_panel.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillmere {

ReadersPage::ReadersPage(AppModel& model, QWidget* parent)
    : GuidePage(model, OnboardingStep::readers, tr("Bring your readers"),
                tr("Moving from Substack, Beehiiv or Mailchimp? Export your subscribers "
                   "as CSV and drop the file here. Unsubscribed and bounced people "
                   "stay that way."),
                parent)
    , m_drop(new CSVDropArea(this))
    , m_count(new QLabel(this)) {
    auto* warning = new QWidget(this);
    auto* icon = new QLabel(warning);
    icon->setPixmap(Icons::tinted(QStringLiteral("exclamationmark.triangle"), Style::orange)
                        .pixmap(QSize(18, 18)));
    auto* text = new QLabel(tr("Only import people who asked to hear from you. Amazon "
                               "closes accounts that mail bought or scraped lists."),
                            warning);
    text->setObjectName(QStringLiteral("importWarning"));
    text->setWordWrap(true);
    auto* warningRow = new QHBoxLayout(warning);
    warningRow->setContentsMargins(0, 0, 0, 0);
    warningRow->setSpacing(8);
    warningRow->addWidget(icon, 0, Qt::AlignTop);
    warningRow->addWidget(text, 1);

    m_count->setObjectName(QStringLiteral("readersCount"));
    m_count->setFont(Style::headline(m_count));
    column()->addWidget(warning);
    column()->addWidget(m_drop);
    column()->addWidget(new ImportPanel(m_model, this));
    column()->addWidget(m_count);

    connect(m_drop, &CSVDropArea::fileDropped, this,
            [this](const QString& path) { m_model.importCSV(path); });
    connect(m_drop, &CSVDropArea::chooseRequested, this, &ReadersPage::openFileChooser);
    connect(&m_model, &AppModel::subscribersChanged, this, &ReadersPage::refresh);
    refresh();
}

void ReadersPage::openFileChooser() {
    if (m_chooser) {
        m_chooser->raise();
        return;
    }
    m_chooser = new QFileDialog(this, tr("Choose a CSV export"));
    m_chooser->setAttribute(Qt::WA_DeleteOnClose);
    m_chooser->setFileMode(QFileDialog::ExistingFile);
    m_chooser->setAcceptMode(QFileDialog::AcceptOpen);
    m_chooser->setNameFilters(
        {tr("Comma-separated or plain text (*.csv *.txt)"), tr("All files (*)")});
    connect(m_chooser, &QFileDialog::fileSelected, this,
            [this](const QString& path) { m_model.importCSV(path); });
    m_chooser->open();
}

void ReadersPage::refresh() {
    const bool any = !m_model.library().subscribers.isEmpty();
    m_count->setVisible(any);
    if (any) {
        m_count->setText(tr("%n active reader(s) ready, ", nullptr,
                            int(m_model.count(SubscriberStatus::active))) +
                         QString::number(m_model.count(SubscriberStatus::pending)) +
                         tr(" waiting to confirm."));
    }
}

} // namespace quillmere
