#include "ui/issues/newsletter_list.h"

#include "app/app_model.h"
#include "app/send_plan.h"
#include "ui/issues/status_pill.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/style.h"

#include <QApplication>
#include <QPainter>

namespace quillmere {

namespace {

constexpr int rowPadding = 7;
constexpr int lineGap = 3;
constexpr int captionSpacing = 6; // between the pill, the count and the date

QFont captionFont(const QFont& body) {
    QFont font = body;
    font.setPointSizeF(body.pointSizeF() * 0.85);
    return font;
}

QFont subjectFont(const QFont& body) {
    QFont font = body;
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace

NewsletterListModel::NewsletterListModel(AppModel& model, QObject* parent)
    : QAbstractListModel(parent)
    , m_model(model)
    , m_issues(model.library().newsletters) {
    connect(&m_model, &AppModel::newslettersChanged, this, &NewsletterListModel::refresh);
}

int NewsletterListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_issues.size());
}

int NewsletterListModel::row(const QUuid& id) const {
    for (int i = 0; i < m_issues.size(); ++i) {
        if (m_issues.at(i).id == id) {
            return i;
        }
    }
    return -1;
}

QVariant NewsletterListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_issues.size()) {
        return {};
    }
    const Newsletter& issue = m_issues.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return issue.subject;
    case Qt::AccessibleTextRole:
        // What the row shows beside the subject: the status pill and the sent count.
        return issue.subject + QStringLiteral(", ") + Style::name(issue.status) +
               (issue.status == CampaignStatus::sent || issue.stats.sent > 0
                    ? QStringLiteral(", ") + tr("%n sent", nullptr, int(issue.stats.sent))
                    : QString());
    case IDRole:
        return issue.id;
    case StatusRole:
        return int(issue.status);
    case SentRole:
        return issue.stats.sent;
    case ShowsSentRole:
        return issue.status == CampaignStatus::sent || issue.status == CampaignStatus::failed ||
               issue.stats.sent > 0;
    case SummaryRole:
        return sendSummary(issue);
    case DateRole:
        return issue.status == CampaignStatus::sent && issue.sentAt ? *issue.sentAt
                                                                    : issue.createdAt;
    default:
        return {};
    }
}

void NewsletterListModel::refresh() {
    const QList<Newsletter>& issues = m_model.library().newsletters;
    bool sameRows = issues.size() == m_issues.size();
    for (qsizetype i = 0; sameRows && i < issues.size(); ++i) {
        sameRows = issues.at(i).id == m_issues.at(i).id;
    }
    if (!sameRows) {
        beginResetModel();
        m_issues = issues;
        endResetModel();
        return;
    }
    // Edits to one issue (every keystroke in the editor) repaint its row only.
    for (qsizetype i = 0; i < issues.size(); ++i) {
        if (!(issues.at(i) == m_issues.at(i))) {
            m_issues[i] = issues.at(i);
            Q_EMIT dataChanged(index(int(i)), index(int(i)));
        }
    }
}

void NewsletterRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    const QColor primary =
        selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
    const QColor base =
        selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base);
    auto fade = [&](qreal amount) {
        return QColor::fromRgbF(primary.redF() * amount + base.redF() * (1 - amount),
                                primary.greenF() * amount + base.greenF() * (1 - amount),
                                primary.blueF() * amount + base.blueF() * (1 - amount));
    };

    const QRect area = option.rect.adjusted(10, rowPadding, -10, -rowPadding);
    const QFont subject = subjectFont(option.font);
    const QFont caption = captionFont(option.font);
    const QFont pill = StatusPill::font(option.font);

    painter->save();
    painter->setFont(subject);
    painter->setPen(primary);
    const QFontMetrics subjectMetrics(subject);
    const QString title =
        subjectMetrics.elidedText(index.data().toString(), Qt::ElideRight, area.width());
    painter->drawText(QRect(area.left(), area.top(), area.width(), subjectMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter, title);

    const int captionTop = area.top() + subjectMetrics.height() + lineGap;
    const auto status = CampaignStatus(index.data(NewsletterListModel::StatusRole).toInt());
    const QSize pillSize = StatusPill::size(status, pill);
    const QFontMetrics captionMetrics(caption);
    const int lineHeight = std::max(pillSize.height(), captionMetrics.height());
    int x = area.left();
    if (selected) {
        // The pill keeps its colours readable on the selection highlight.
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.color(QPalette::Base));
        const QRectF backdrop(QPointF(x, captionTop + (lineHeight - pillSize.height()) / 2.0),
                              pillSize);
        painter->drawRoundedRect(backdrop, pillSize.height() / 2.0, pillSize.height() / 2.0);
    }
    x += StatusPill::paint(painter, QPoint(x, captionTop + (lineHeight - pillSize.height()) / 2),
                           status, pill);
    painter->setFont(caption);
    auto addCaption = [&](const QString& text, const QColor& color) {
        x += captionSpacing;
        painter->setPen(color);
        const int width = captionMetrics.horizontalAdvance(text);
        painter->drawText(QRect(x, captionTop, width + 1, lineHeight),
                          Qt::AlignLeft | Qt::AlignVCenter, text);
        x += width;
    };
    if (index.data(NewsletterListModel::ShowsSentRole).toBool()) {
        addCaption(index.data(NewsletterListModel::SummaryRole).toString(), fade(0.6));
    }
    addCaption(Formatting::abbreviatedDate(index.data(NewsletterListModel::DateRole).toDateTime()),
               fade(0.42));
    painter->restore();
}

QSize NewsletterRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                      const QModelIndex&) const {
    const QFontMetrics subject(subjectFont(option.font));
    const QFontMetrics caption(captionFont(option.font));
    const int pill =
        StatusPill::size(CampaignStatus::draft, StatusPill::font(option.font)).height();
    return {200, rowPadding * 2 + subject.height() + lineGap + std::max(pill, caption.height())};
}

} // namespace quillmere
