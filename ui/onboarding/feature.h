#pragma once

#include <QWidget>

class QLabel;

namespace quillmere {

// One selling point on the welcome page: a symbol, a title and a sentence.
class Feature : public QWidget {
    Q_OBJECT

public:
    Feature(const QString& symbol, const QString& title, const QString& text,
            QWidget* parent = nullptr);

    const QString& symbol() const { return m_symbol; }
    QString title() const;
    QString text() const;

private:
    QString m_symbol;
    QLabel* m_title;
    QLabel* m_text;
};

} // namespace quillmere
