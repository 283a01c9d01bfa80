#pragma once

#include <QTimer>
#include <QWidget>

class QVBoxLayout;

namespace quillmere {

class AppModel;
class DNSPublishedCheck;
class DNSRecordRow;

// The records the model asks the writer to publish, one row each, following the profile and the
// domain identity; SPF and DMARC rows also show what a DNS lookup sees (not in demo mode).
class DNSRecordList : public QWidget {
    Q_OBJECT

public:
    explicit DNSRecordList(AppModel& model, QWidget* parent = nullptr);

    QList<DNSRecordRow*> rows() const { return m_rows; }
    DNSPublishedCheck* check() const { return m_check; }

public Q_SLOTS:
    // Looks the records up in DNS again.
    void recheck();

private:
    void rebuild();
    void showPublished();

    AppModel& m_model;
    DNSPublishedCheck* m_check;
    QVBoxLayout* m_layout;
    QList<DNSRecordRow*> m_rows;
    QTimer m_lookupDelay; // lets the writer finish typing a domain before asking DNS
};

} // namespace quillmere
