#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace quillmere {

class AppModel;

// An import as it runs (the file, a progress bar, Cancel) and, when it skipped rows, each of
// them with its line and reason (the first hundred shown; "Save Skipped Rows…" writes them all
// as CSV).
class ImportPanel : public QFrame {
    Q_OBJECT

public:
    static constexpr int shownRows = 100;

    explicit ImportPanel(AppModel& model, QWidget* parent = nullptr);

    QProgressBar* progressBar() const { return m_progress; }
    QPushButton* cancelButton() const { return m_cancel; }
    QTreeWidget* skippedList() const { return m_skipped; }
    QPushButton* saveButton() const { return m_save; }

    // Writes every skipped row of the last import to `path` as CSV; false when it cannot.
    bool saveSkippedRows(const QString& path);

private:
    void refresh();
    void chooseWhereToSave();

    AppModel& m_model;
    QLabel* m_title;
    QProgressBar* m_progress;
    QPushButton* m_cancel;
    QTreeWidget* m_skipped;
    QLabel* m_more;
    QPushButton* m_save;
    QPushButton* m_dismiss;
};

} // namespace quillmere
