#include "ui/widgets/style.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QWidget>

namespace quillmere::Style {

namespace {

QColor blend(const QColor& front, const QColor& back, qreal amount) {
    return QColor::fromRgbF(front.redF() * amount + back.redF() * (1 - amount),
                            front.greenF() * amount + back.greenF() * (1 - amount),
                            front.blueF() * amount + back.blueF() * (1 - amount));
}

} // namespace

QColor primaryText(const QWidget* widget) {
    return widget->palette().color(QPalette::WindowText);
}

QColor secondaryText(const QWidget* widget) {
    return blend(primaryText(widget), widget->palette().color(QPalette::Window), 0.6);
}

QColor tertiaryText(const QWidget* widget) {
    return blend(primaryText(widget), widget->palette().color(QPalette::Window), 0.42);
}

QColor accent(const QWidget* widget) {
    return widget->palette().color(QPalette::Highlight);
}

void setBlocked(QWidget* widget, const QString& reason) {
    widget->setEnabled(reason.isEmpty());
    widget->setToolTip(reason);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QFont caption(const QWidget* widget) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

QFont headline(const QWidget* widget) {
    QFont font = widget->font();
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont title(const QWidget* widget, qreal scale) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont fixedPitch(qreal pointSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace, QFont::PreferMatch);
    font.setFixedPitch(true);
    font.setPointSizeF(pointSize);
    if (QFontInfo(font).fixedPitch()) {
        return font;
    }
    // Family names, not shown.
    QStringList candidates{QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Noto Sans Mono"),
                           QStringLiteral("Liberation Mono"), QStringLiteral("Monospace")};
    candidates += QFontDatabase::families();
    for (const QString& family : std::as_const(candidates)) {
        if (!QFontDatabase::isFixedPitch(family)) {
            continue;
        }
        font.setFamilies({family});
        if (QFontInfo(font).fixedPitch()) {
            return font;
        }
    }
    return font;
}

QFont monospacedDigits(QFont font) {
    // Qt 6.4 cannot switch on tabular figures; the usual interface fonts (DejaVu Sans, Noto
    // Sans, Cantarell) draw every digit at one width already, so the body family is kept.
    return font;
}

QColor color(CampaignStatus status) {
    switch (status) {
    case CampaignStatus::draft:
        return gray;
    case CampaignStatus::sending:
        return blue;
    case CampaignStatus::paused:
        return orange;
    case CampaignStatus::sent:
        return green;
    case CampaignStatus::failed:
        return red;
    }
    return gray;
}

QColor color(SubscriberStatus status, const QWidget* widget) {
    switch (status) {
    case SubscriberStatus::pending:
        return orange;
    case SubscriberStatus::active:
        return green;
    case SubscriberStatus::unsubscribed:
        return secondaryText(widget);
    case SubscriberStatus::bounced:
        return red;
    case SubscriberStatus::complained:
        return purple;
    }
    return gray;
}

QString name(CampaignStatus status) {
    switch (status) {
    case CampaignStatus::draft:
        return QCoreApplication::translate("Style", "Draft");
    case CampaignStatus::sending:
        return QCoreApplication::translate("Style", "Sending");
    case CampaignStatus::paused:
        return QCoreApplication::translate("Style", "Paused");
    case CampaignStatus::sent:
        return QCoreApplication::translate("Style", "Sent");
    case CampaignStatus::failed:
        return QCoreApplication::translate("Style", "Failed");
    }
    return {};
}

QString name(SubscriberStatus status) {
    switch (status) {
    case SubscriberStatus::pending:
        return QCoreApplication::translate("Style", "Pending");
    case SubscriberStatus::active:
        return QCoreApplication::translate("Style", "Active");
    case SubscriberStatus::unsubscribed:
        return QCoreApplication::translate("Style", "Unsubscribed");
    case SubscriberStatus::bounced:
        return QCoreApplication::translate("Style", "Bounced");
    case SubscriberStatus::complained:
        return QCoreApplication::translate("Style", "Complained");
    }
    return {};
}

} // namespace quillmere::Style
