#include "ui/setup/dns_record_list.h"

#include "app/app_model.h"
#include "ui/setup/dns_published_check.h"
#include "ui/setup/dns_record_row.h"

#include <QVBoxLayout>

namespace quillmere {

DNSRecordList::DNSRecordList(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_check(new DNSPublishedCheck(this))
    , m_layout(new QVBoxLayout(this)) {
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(8);
    m_lookupDelay.setSingleShot(true);
    m_lookupDelay.setInterval(900);
    connect(&m_lookupDelay, &QTimer::timeout, this, &DNSRecordList::recheck);
    connect(m_check, &DNSPublishedCheck::changed, this, &DNSRecordList::showPublished);
    connect(&m_model, &AppModel::profileChanged, this, &DNSRecordList::rebuild);
    connect(&m_model, &AppModel::identityChanged, this, &DNSRecordList::rebuild);
    connect(&m_model, &AppModel::isDemoChanged, this, &DNSRecordList::rebuild);
    rebuild();
}

void DNSRecordList::rebuild() {
    const QList<DNSRecord> records = m_model.dnsRecords();
    QList<DNSRecord> shown;
    for (const DNSRecordRow* row : std::as_const(m_rows)) {
        shown.append(row->record());
    }
    if (shown != records) {
        qDeleteAll(m_rows);
        m_rows.clear();
        for (const DNSRecord& record : records) {
            auto* row = new DNSRecordRow(record, std::nullopt, this);
            m_layout->addWidget(row);
            // Shown now, not on the next turn of the event loop, so a row is there to copy
            // from as soon as the domain is typed.
            if (isVisible()) {
                row->show();
            }
            m_rows.append(row);
        }
        // New names to look up; a sample domain is never looked up.
        m_check->clear();
        if (!m_model.isDemo() && !records.isEmpty()) {
            m_lookupDelay.start();
        } else {
            m_lookupDelay.stop();
        }
    }
    for (DNSRecordRow* row : std::as_const(m_rows)) {
        row->setOk(DNSRecordRow::okFor(row->record(), m_model.identity()));
    }
    showPublished();
}

void DNSRecordList::recheck() {
    m_lookupDelay.stop();
    if (m_model.isDemo()) {
        m_check->clear();
        return;
    }
    QList<DNSRecord> records;
    for (const DNSRecordRow* row : std::as_const(m_rows)) {
        records.append(row->record());
    }
    m_check->check(records);
}

void DNSRecordList::showPublished() {
    for (DNSRecordRow* row : std::as_const(m_rows)) {
        row->setPublished(DNSPublishedCheck::checks(row->record()) ? m_check->found(row->record())
                                                                   : std::nullopt);
    }
}

} // namespace quillmere
