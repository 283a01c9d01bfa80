#pragma once

#include <QWidget>

class QLabel;

namespace quillmere {

// One numbered instruction: a circled number and a sentence that may carry **strong** and
// `code` spans.
class InstructionRow : public QWidget {
    Q_OBJECT

public:
    InstructionRow(qint64 number, const QString& text, QWidget* parent = nullptr);

    qint64 number() const { return m_number; }
    // The sentence as read, without markers.
    QString text() const;
    QLabel* label() const { return m_label; }

private:
    qint64 m_number;
    QString m_text;
    QLabel* m_label;
};

} // namespace quillmere
