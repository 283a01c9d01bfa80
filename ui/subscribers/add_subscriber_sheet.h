#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quillmere {

class AppModel;

// Adds one reader by hand: an address (it must contain "@") and an optional name, with a note
// on the status the reader will get.
class AddSubscriberSheet : public QDialog {
    Q_OBJECT

public:
    explicit AddSubscriberSheet(AppModel& model, QWidget* parent = nullptr);

    QLineEdit* emailField() const { return m_email; }
    QLineEdit* nameField() const { return m_name; }
    QLabel* note() const { return m_note; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    void add();

    AppModel& m_model;
    QLineEdit* m_email;
    QLineEdit* m_name;
    QLabel* m_note;
    QPushButton* m_add;
    QPushButton* m_cancel;
};

} // namespace quillmere
