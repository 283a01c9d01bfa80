#pragma once

#include <QWidget>

class QLabel;

namespace quillmere {

class AppModel;

// The last failure of an SES workflow, in red with a warning triangle; hidden while there is
// none.
class SESErrorLabel : public QWidget {
    Q_OBJECT

public:
    explicit SESErrorLabel(AppModel& model, QWidget* parent = nullptr);

    QString text() const;

private:
    void refresh();

    AppModel& m_model;
    QLabel* m_text;
};

} // namespace quillmere
