#pragma once

#include "core/subscriber.h"

#include <QAbstractProxyModel>
#include <QAbstractTableModel>
#include <QCollator>

#include <optional>
#include <vector>

namespace quillmere {

class AppModel;

// The library's subscribers as a table, in library order. It follows the model's subscriber
// changes without a reset when only some rows changed (a status set on a selection), and keeps
// a case- and accent-folded copy of every address and name for the search.
class SubscriberTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { EmailColumn, NameColumn, StatusColumn, SourceColumn, JoinedColumn, ColumnCount };
    enum Role { IDRole = Qt::UserRole + 1, StatusRole };

    explicit SubscriberTableModel(AppModel& model, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QList<Subscriber>& subscribers() const { return m_subscribers; }
    const QString& foldedEmail(int row) const { return m_foldedEmail[row]; }
    const QString& foldedName(int row) const { return m_foldedName[row]; }

    // Lower case without accents: the form in which the search compares text.
    static QString fold(const QString& text);

private:
    void refresh();
    void foldRow(int row);

    AppModel& m_model;
    QList<Subscriber> m_subscribers;
    std::vector<QString> m_foldedEmail;
    std::vector<QString> m_foldedName;
};

// The rows shown: filtered by status and search text, then sorted. The sorted order of all rows
// is kept between keystrokes, so a new search text only walks it once; a text that extends the
// previous one only re-checks the rows that matched before.
class SubscriberProxyModel : public QAbstractProxyModel {
    Q_OBJECT

public:
    explicit SubscriberProxyModel(SubscriberTableModel* source, QObject* parent = nullptr);

    std::optional<SubscriberStatus> filter() const { return m_filter; }
    void setFilter(std::optional<SubscriberStatus> filter);
    const QString& search() const { return m_search; }
    void setSearch(const QString& search);

    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The subscriber ids of the rows shown, for selections kept by id.
    QUuid id(int row) const;
    int row(const QUuid& id) const;

private:
    void sourceReset();
    void sourceDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                           const QList<int>& roles);
    void sortAll();
    void refilter(bool narrowing);
    bool accepts(int sourceRow) const;

    SubscriberTableModel* m_source;
    std::optional<SubscriberStatus> m_filter;
    QString m_search;
    QString m_foldedSearch;
    int m_sortColumn = SubscriberTableModel::JoinedColumn;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    QCollator m_collator;
    std::vector<int> m_order;    // every source row, sorted
    std::vector<int> m_rows;     // shown rows: source row per proxy row
    std::vector<int> m_proxyRow; // proxy row per source row, -1 when hidden
};

} // namespace quillmere
