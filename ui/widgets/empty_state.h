#pragma once

#include <QWidget>

class QPushButton;
class QVBoxLayout;
class QHBoxLayout;

namespace quillmere {

// A centred panel for a screen with nothing to show yet: a large symbol, a title, a line of
// description and optional buttons.
class EmptyState : public QWidget {
    Q_OBJECT

public:
    EmptyState(const QString& symbol, const QString& title, const QString& description,
               QWidget* parent = nullptr);

    // Adds a button under the description; a prominent one is the default-looking one.
    QPushButton* addButton(const QString& text, bool prominent = false);

private:
    QHBoxLayout* m_buttons;
};

} // namespace quillmere
