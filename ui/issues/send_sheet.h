#pragma once

#include <QDialog>
#include <QUuid>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quillmere {

class AppModel;

// The sheet that sends an issue to the whole list: who will receive it, the guarantees every
// message carries, the pace, and the live progress of the send with pause and resume. The
// sending itself is the model's.
class SendSheet : public QDialog {
    Q_OBJECT

public:
    SendSheet(AppModel& model, const QUuid& issueID, QWidget* parent = nullptr);

    QUuid issueID() const { return m_issueID; }

    QLabel* titleLabel() const { return m_title; }
    QLabel* audienceLabel() const { return m_audience; }
    // The text and whether it is ok, per compliance line, in order.
    QList<QPair<QString, bool>> complianceLines() const;
    // What must be fixed before this issue can go to the list, one finding a line.
    QLabel* blockersLabel() const { return m_blockers; }
    QProgressBar* progressBar() const { return m_progress; }
    QLabel* progressLabel() const { return m_progressText; }
    QLabel* rateLabel() const { return m_rate; }
    QPushButton* closeButton() const { return m_close; }
    // "Pause", "Resume" or "Start Sending".
    QPushButton* actionButton() const { return m_action; }

private:
    struct Line {
        QLabel* icon;
        QLabel* text;
        bool ok = true;
    };
    void refresh();
    void act();
    void setLine(Line& line, bool ok);

    AppModel& m_model;
    QUuid m_issueID;
    QLabel* m_title;
    QLabel* m_audience;
    QList<Line> m_lines;
    QLabel* m_blockers;
    QWidget* m_progressGroup;
    QProgressBar* m_progress;
    QLabel* m_progressText;
    QLabel* m_rate;
    QPushButton* m_close;
    QPushButton* m_action;
};

} // namespace quillmere
