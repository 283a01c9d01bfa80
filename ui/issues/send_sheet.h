#pragma once

#include <QDialog>
#include <QUuid>

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace quillmere {

class AppModel;

// The sheet that sends an issue to the whole list: who will receive it, the guarantees every
// message carries, the pace, how long it takes and what the account allows today, the live
// progress of the send with pause and resume, and what it achieved, with the readers who may
// or may not have received it and a way to retry the failed ones. The sending is the model's.
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
    // The plan: duration, the day's remaining quota, the over-quota warning, the sandbox notice
    // (each hidden when there is nothing to say).
    QLabel* durationLabel() const { return m_duration; }
    QLabel* quotaLabel() const { return m_quota; }
    QLabel* quotaWarningLabel() const { return m_quotaWarning; }
    QLabel* sandboxLabel() const { return m_sandbox; }
    // What the sends of this issue achieved, and who may or may not have received it.
    QLabel* resultLabel() const { return m_result; }
    QLabel* uncertainLabel() const { return m_uncertain; }
    QPushButton* closeButton() const { return m_close; }
    // "Pause", "Resume", "Resume…" (after a bounce-guard halt) or "Start Sending".
    QPushButton* actionButton() const { return m_action; }
    QPushButton* retryFailedButton() const { return m_retryFailed; }
    // The question asked before resuming a halted send, while it is open.
    QMessageBox* haltConfirmation() const { return m_confirm; }

private:
    struct Line {
        QLabel* icon;
        QLabel* text;
        bool ok = true;
    };
    void refresh();
    void act();
    void confirmResumeAfterHalt(const QString& state);
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
    QLabel* m_duration;
    QLabel* m_quota;
    QLabel* m_quotaWarning;
    QLabel* m_sandbox;
    QLabel* m_result;
    QLabel* m_uncertain;
    QPushButton* m_close;
    QPushButton* m_retryFailed;
    QPushButton* m_action;
    QMessageBox* m_confirm = nullptr;
};

} // namespace quillmere
