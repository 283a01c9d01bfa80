#pragma once

#include "ses/dns_record.h"
#include "ses/ses_identity.h"

#include <QWidget>

#include <optional>

class QLabel;
class QPushButton;

namespace quillmere {

// One DNS record to publish: a status symbol, the record's type, name and value in a fixed-width
// font, and "Copy" for the value. SPF and DMARC rows can also say whether the record is seen
// in DNS yet.
class DNSRecordRow : public QWidget {
    Q_OBJECT

public:
    DNSRecordRow(const DNSRecord& record, std::optional<bool> ok, QWidget* parent = nullptr);

    // The status of a record: unknown without an identity; for DKIM records whether SES has
    // verified the keys; unknown for the others (SES does not judge them).
    static std::optional<bool> okFor(const DNSRecord& record,
                                     const std::optional<SESIdentity>& identity);

    const DNSRecord& record() const { return m_record; }
    std::optional<bool> ok() const { return m_ok; }
    void setOk(std::optional<bool> ok);
    // checkmark.circle.fill, clock or circle.dashed.
    QString statusSymbol() const;

    // What a DNS lookup saw: found, not found yet, or nothing to say (hidden).
    void setPublished(std::optional<bool> found);
    // "Found in DNS", "Not found yet", or empty when hidden.
    QString publishedText() const;

    QPushButton* copyButton() const { return m_copy; }

private:
    DNSRecord m_record;
    std::optional<bool> m_ok;
    QLabel* m_status;
    QLabel* m_published;
    QPushButton* m_copy;
};

} // namespace quillmere
