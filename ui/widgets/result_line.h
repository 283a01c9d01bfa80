#pragma once

#include <QWidget>

class QLabel;

namespace quillmere {

// A one-line outcome: a green check for what worked, an orange exclamation mark for what is
// still open or failed, then the text.
class ResultLine : public QWidget {
    Q_OBJECT

public:
    explicit ResultLine(QWidget* parent = nullptr);
    ResultLine(bool ok, const QString& text, QWidget* parent = nullptr);

    bool ok() const { return m_ok; }
    QString text() const;
    // The symbol shown: checkmark.circle.fill or exclamationmark.circle.fill.
    QString symbol() const;
    void set(bool ok, const QString& text);

private:
    bool m_ok = false;
    QLabel* m_icon;
    QLabel* m_text;
};

} // namespace quillmere
