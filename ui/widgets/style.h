#pragma once

#include "core/campaign_status.h"
#include "core/subscriber_status.h"

#include <QColor>
#include <QFont>

class QWidget;

namespace quillmere::Style {

// The named colours of the design, close to the desktop's usual system colours.
inline const QColor gray{142, 142, 147};
inline const QColor blue{10, 122, 255};
inline const QColor orange{255, 149, 0};
inline const QColor green{40, 175, 80};
inline const QColor red{230, 55, 45};
inline const QColor purple{175, 82, 222};

// Text colours relative to the widget's palette: secondary and tertiary text fade the
// primary text colour into the background, so they follow light and dark themes.
QColor primaryText(const QWidget* widget);
QColor secondaryText(const QWidget* widget);
QColor tertiaryText(const QWidget* widget);
QColor accent(const QWidget* widget);

// Enables a control when nothing stands in the way, else disables it with the reason as its
// tooltip, so a writer can always find out why a button does not work.
void setBlocked(QWidget* widget, const QString& reason);

// Sets the text colour of a label-like widget.
void setTextColor(QWidget* widget, const QColor& color);

// Type styles scaled from the widget's body font.
QFont caption(const QWidget* widget);
QFont headline(const QWidget* widget);
QFont title(const QWidget* widget, qreal scale = 1.6);
// A fixed-pitch face at that size: the system's monospaced font when it really is one, else the
// first installed family that is (a font setup may map "monospace" to a proportional face).
QFont fixedPitch(qreal pointSize);
// Fixed-width digits for counts that change while watched.
QFont monospacedDigits(QFont font);

QColor color(CampaignStatus status);
QColor color(SubscriberStatus status, const QWidget* widget);

// The status as the interface names it: "Draft", "Active".
QString name(CampaignStatus status);
QString name(SubscriberStatus status);

} // namespace quillmere::Style
