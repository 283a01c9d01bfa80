#pragma once

#include "ui/onboarding/guide_page.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace quillmere {

class DNSRecordList;
class ResultLine;
class SESErrorLabel;

// The guide's page for the sending domain: the identity at SES and the records to publish.
class DomainPage : public GuidePage {
    Q_OBJECT

public:
    explicit DomainPage(AppModel& model, QWidget* parent = nullptr);

    QLabel* keysFirstLabel() const { return m_keysFirst; }
    QLineEdit* domainField() const { return m_domain; }
    QPushButton* verifyButton() const { return m_verify; }
    DNSRecordList* records() const { return m_records; }
    QLabel* spfNote() const { return m_spfNote; }
    ResultLine* statusLine() const { return m_status; }
    SESErrorLabel* errorLabel() const { return m_error; }

private:
    void verify();
    void refresh();

    QLabel* m_keysFirst;
    QWidget* m_body;
    QLineEdit* m_domain;
    QPushButton* m_verify;
    DNSRecordList* m_records;
    QLabel* m_spfNote;
    ResultLine* m_status;
    SESErrorLabel* m_error;
};

} // namespace quillmere
