#pragma once

#include "core/campaign_status.h"

#include <QWidget>

namespace quillmere {

// An issue's status as a small capsule: "Draft", "Sending", "Paused", "Sent" or "Failed" in the
// status colour on a tint of it.
class StatusPill : public QWidget {
    Q_OBJECT

public:
    explicit StatusPill(CampaignStatus status, QWidget* parent = nullptr);

    CampaignStatus status() const { return m_status; }
    void setStatus(CampaignStatus status);
    QString text() const;

    QSize sizeHint() const override;

    // The same capsule drawn by list delegates; returns its width.
    static int paint(QPainter* painter, const QPoint& topLeft, CampaignStatus status,
                     const QFont& font);
    static QSize size(CampaignStatus status, const QFont& font);
    static QFont font(const QFont& body);
    static QString text(CampaignStatus status);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    CampaignStatus m_status;
};

} // namespace quillmere
