#pragma once

#include "ui/onboarding/guide_page.h"

#include <QFileDialog>
#include <QPointer>
class QLabel;

namespace quillmere {

class CSVDropArea;

// The guide's page for bringing an existing list: a CSV export dropped or chosen.
class ReadersPage : public GuidePage {
    Q_OBJECT

public:
    explicit ReadersPage(AppModel& model, QWidget* parent = nullptr);

    CSVDropArea* dropArea() const { return m_drop; }
    QLabel* countLine() const { return m_count; }
    // The file chooser while it is open, else null.
    QFileDialog* fileChooser() const { return m_chooser; }
    bool isChooserOpen() const { return !m_chooser.isNull(); }

public Q_SLOTS:
    void openFileChooser();

private:
    void refresh();

    CSVDropArea* m_drop;
    QLabel* m_count;
    QPointer<QFileDialog> m_chooser;
};

} // namespace quillmere
