#pragma once

#include <QWidget>

class QLabel;

namespace quillmere {

class StepNumber;

// A numbered step of a setup list: the number (or a check-mark once done) in a small circle,
// the title, and a line of detail under it.
class SetupStep : public QWidget {
    Q_OBJECT

public:
    SetupStep(qint64 number, const QString& title, bool done, const QString& detail,
              QWidget* parent = nullptr);

    qint64 number() const;
    QString title() const;
    bool isDone() const;
    QString detail() const;
    // What the circle shows.
    QString badgeText() const;

    void setDone(bool done);
    void setDetail(const QString& detail);

private:
    StepNumber* m_badge;
    QLabel* m_title;
    QLabel* m_detail;
};

} // namespace quillmere
