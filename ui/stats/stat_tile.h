#pragma once

#include <QFrame>

class QLabel;

namespace quillmere {

// One headline figure of the stats screen: a caption over a large value, the value red when it
// needs attention.
class StatTile : public QFrame {
    Q_OBJECT

public:
    StatTile(const QString& title, QWidget* parent = nullptr);

    QString title() const;
    QString value() const;
    bool warning() const { return m_warning; }
    void setValue(const QString& value, bool warning = false);

private:
    QLabel* m_title;
    QLabel* m_value;
    bool m_warning = false;
};

} // namespace quillmere
