#pragma once

#include "core/newsletter.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>

namespace quillmere {

class AppModel;

// The issues of the library, in library order, for the issue list.
class NewsletterListModel : public QAbstractListModel {
    Q_OBJECT

public:
    // SummaryRole: what the sends achieved ("Sent to 9,950 · 50 failed · 3 uncertain").
    enum Role {
        IDRole = Qt::UserRole + 1,
        StatusRole,
        SentRole,
        DateRole,
        ShowsSentRole,
        SummaryRole
    };

    explicit NewsletterListModel(AppModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const Newsletter& issue(int row) const { return m_issues.at(row); }
    int row(const QUuid& id) const;

private:
    void refresh();

    AppModel& m_model;
    QList<Newsletter> m_issues;
};

// One row of the issue list: the subject, then the status pill, the sent count and the date.
class NewsletterRowDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace quillmere
