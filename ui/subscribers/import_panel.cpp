#include "ui/subscribers/import_panel.h"

#include "app/app_model.h"
#include "import/csv_importer.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace quillmere {

ImportPanel::ImportPanel(AppModel& model, QWidget* parent)
    : QFrame(parent)
    , m_model(model)
    , m_title(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_cancel(new QPushButton(tr("Cancel"), this))
    , m_skipped(new QTreeWidget(this))
    , m_more(new QLabel(this))
    , m_save(new QPushButton(tr("Save Skipped Rows…"), this))
    , m_dismiss(new QPushButton(tr("Done"), this)) {
    setObjectName(QStringLiteral("importPanel"));
    m_title->setWordWrap(true);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_cancel->setObjectName(QStringLiteral("cancelImport"));
    m_skipped->setObjectName(QStringLiteral("skippedRows"));
    m_skipped->setHeaderLabels({tr("Line"), tr("Reason")});
    m_skipped->setRootIsDecorated(false);
    m_skipped->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_skipped->setMaximumHeight(180);
    m_save->setObjectName(QStringLiteral("saveSkippedRows"));

    auto* running = new QHBoxLayout;
    running->addWidget(m_progress, 1);
    running->addWidget(m_cancel);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_more, 1);
    buttons->addWidget(m_save);
    buttons->addWidget(m_dismiss);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_title);
    layout->addLayout(running);
    layout->addWidget(m_skipped);
    layout->addLayout(buttons);

    connect(m_cancel, &QPushButton::clicked, &m_model, &AppModel::cancelImport);
    connect(m_save, &QPushButton::clicked, this, &ImportPanel::chooseWhereToSave);
    connect(m_dismiss, &QPushButton::clicked, &m_model, &AppModel::clearLastImport);
    connect(&m_model, &AppModel::importProgressChanged, this, &ImportPanel::refresh);
    connect(&m_model, &AppModel::lastImportChanged, this, &ImportPanel::refresh);
    refresh();
}

void ImportPanel::refresh() {
    const auto& progress = m_model.importProgress();
    const auto& report = m_model.lastImport();
    const bool showReport = !progress && report && !report->skipped.isEmpty();
    setVisible(progress || showReport);
    m_progress->setVisible(progress.has_value());
    m_cancel->setVisible(progress.has_value());
    m_skipped->setVisible(showReport);
    m_more->setVisible(showReport);
    m_save->setVisible(showReport);
    m_dismiss->setVisible(showReport);
    if (progress) {
        m_title->setText(tr("Importing %1…").arg(progress->fileName));
        m_progress->setValue(int(progress->fraction * 1000));
        return;
    }
    if (!showReport) {
        return;
    }
    const QList<SkippedRow>& skipped = report->skipped;
    m_title->setText(
        tr("%1 rows of %2 were not imported:").arg(skipped.size()).arg(report->fileName));
    m_skipped->clear();
    QList<QTreeWidgetItem*> items;
    for (qsizetype i = 0; i < std::min<qsizetype>(skipped.size(), shownRows); ++i) {
        items.append(
            new QTreeWidgetItem(QStringList{QString::number(skipped[i].line), skipped[i].reason}));
    }
    m_skipped->addTopLevelItems(items);
    m_more->setText(skipped.size() > shownRows ? tr("The first %1 are shown.").arg(shownRows)
                                               : QString());
}

void ImportPanel::chooseWhereToSave() {
    auto* dialog = new QFileDialog(this, tr("Save Skipped Rows"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->selectFile(QStringLiteral("skipped rows.csv"));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!saveSkippedRows(path)) {
            m_model.showStatus(tr("Could not save the skipped rows to %1.").arg(path));
        }
    });
    dialog->open();
}

bool ImportPanel::saveSkippedRows(const QString& path) {
    const auto& report = m_model.lastImport();
    if (!report) {
        return false;
    }
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(CSVImporter::skippedRowsCSV(report->skipped)) >= 0 && file.commit();
}

} // namespace quillmere
