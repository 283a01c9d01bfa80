#pragma once

#include <QObject>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quillmere {

class AppModel;
class FormSection;
class PostalAddressField;

// The sender details of the publication profile (names, From and reply addresses, postal
// address, double opt-in) as the guide, the SES screen and Settings show them: one set of
// fields bound to the model, laid into the caller's sections under that screen's labels. A
// From address that is not an address is refused in sight, with the model's own sentence.
class SenderDetailsForm : public QObject {
    Q_OBJECT

public:
    struct Labels {
        QString publicationName; // empty: the field is left out
        QString fromName;
        QString fromEmail;
        QString replyTo;
        QString postalAddress;
        QString doubleOptIn;
    };

    SenderDetailsForm(AppModel& model, const Labels& labels, QWidget* parent);

    // Adds the name, address and postal rows to one section and the toggle to another (or the
    // same one).
    void addTo(FormSection* fields, FormSection* consent);

    QLineEdit* publicationNameField() const { return m_publicationName; }
    QLineEdit* fromNameField() const { return m_fromName; }
    QLineEdit* fromEmailField() const { return m_fromEmail; }
    QLineEdit* replyToField() const { return m_replyTo; }
    PostalAddressField* postalAddressField() const { return m_postalAddress; }
    QCheckBox* doubleOptInToggle() const { return m_doubleOptIn; }
    QLabel* fromError() const { return m_fromError; }

    // Why the From address cannot be used (empty when it can, or when none is typed yet).
    QString fromProblem() const;

Q_SIGNALS:
    void fromProblemChanged();

private:
    void refreshProblem();

    AppModel& m_model;
    Labels m_labels;
    QLineEdit* m_publicationName = nullptr;
    QLineEdit* m_fromName;
    QLineEdit* m_fromEmail;
    QLineEdit* m_replyTo;
    PostalAddressField* m_postalAddress;
    QCheckBox* m_doubleOptIn;
    QLabel* m_fromError;
    FormSection* m_fields = nullptr;
    QString m_problem;
};

} // namespace quillmere
