#pragma once

#include <QFrame>

class QFormLayout;
class QLabel;
class QLayout;

namespace quillmere {

// One section of a grouped form: a small heading over a rounded card of rows. Labelled rows put
// the label at the left and the control at the right; notes are wrapped secondary text.
class FormSection : public QWidget {
    Q_OBJECT

public:
    explicit FormSection(const QString& title = {}, QWidget* parent = nullptr);

    QString title() const;
    QFormLayout* form() const { return m_form; }

    void addRow(const QString& label, QWidget* field);
    void addRow(const QString& label, QLayout* field);
    void addRow(QWidget* widget);
    void addRow(QLayout* layout);
    // A label and a selectable value; returns the value's label.
    QLabel* addValueRow(const QString& label);
    // Secondary explanatory text across the card.
    QLabel* addNote(const QString& text);
    // Shows or hides a row by its field (or spanning widget).
    void setRowVisible(QWidget* field, bool visible);
    // Puts each label above its field, for a section in a narrow pane with long labels.
    void setLabelsAbove(bool above);

    // Style sheet rules that frame the text fields inside a card drawn in the base colour. The
    // style draws a field's frame from the window colour, which in the dark palette is the card's
    // own colour, so without them the fields vanish into the card.
    static QString framedFields(const QString& card);

private:
    QLabel* m_title;
    QFrame* m_card;
    QFormLayout* m_form;
};

} // namespace quillmere
