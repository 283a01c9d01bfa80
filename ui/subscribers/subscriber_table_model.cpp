#include "ui/subscribers/subscriber_table_model.h"

#include "app/app_model.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/icons.h"
#include "ui/widgets/style.h"

#include <QApplication>

#include <algorithm>
#include <numeric>

namespace quillmere {

namespace {

bool isASCII(const QString& text) {
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// The status column sorts by the stored raw value: active, bounced, complained, pending,
// unsubscribed.
int statusRank(SubscriberStatus status) {
    switch (status) {
    case SubscriberStatus::active:
        return 0;
    case SubscriberStatus::bounced:
        return 1;
    case SubscriberStatus::complained:
        return 2;
    case SubscriberStatus::pending:
        return 3;
    case SubscriberStatus::unsubscribed:
        return 4;
    }
    return 5;
}

// The table has no widget palette at hand: "secondary" for unsubscribed readers is gray.
QColor statusColor(SubscriberStatus status) {
    return status == SubscriberStatus::unsubscribed ? Style::gray : Style::color(status, nullptr);
}

const QIcon& statusIcon(SubscriberStatus status) {
    static const auto make = [](SubscriberStatus s, const char* symbol) {
        return Icons::tinted(QString::fromLatin1(symbol), statusColor(s));
    };
    static const QIcon icons[] = {
        make(SubscriberStatus::pending, "clock"),
        make(SubscriberStatus::active, "checkmark.circle.fill"),
        make(SubscriberStatus::unsubscribed, "minus.circle"),
        make(SubscriberStatus::bounced, "arrow.uturn.left.circle"),
        make(SubscriberStatus::complained, "exclamationmark.bubble"),
    };
    return icons[int(status)];
}

} // namespace

// MARK: table

SubscriberTableModel::SubscriberTableModel(AppModel& model, QObject* parent)
    : QAbstractTableModel(parent)
    , m_model(model) {
    connect(&m_model, &AppModel::subscribersChanged, this, &SubscriberTableModel::refresh);
    m_subscribers = m_model.library().subscribers;
    m_foldedEmail.resize(m_subscribers.size());
    m_foldedName.resize(m_subscribers.size());
    for (int row = 0; row < m_subscribers.size(); ++row) {
        foldRow(row);
    }
}

QString SubscriberTableModel::fold(const QString& text) {
    if (isASCII(text)) {
        return text.toLower();
    }
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString bare;
    bare.reserve(decomposed.size());
    for (QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing) {
            bare.append(c);
        }
    }
    return bare.toCaseFolded();
}

void SubscriberTableModel::foldRow(int row) {
    const Subscriber& s = m_subscribers.at(row);
    m_foldedEmail[row] = fold(s.email);
    m_foldedName[row] = fold(s.name);
}

int SubscriberTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_subscribers.size());
}

int SubscriberTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SubscriberTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_subscribers.size()) {
        return {};
    }
    const Subscriber& s = m_subscribers.at(index.row());
    if (role == IDRole) {
        return s.id;
    }
    if (role == StatusRole) {
        return int(s.status);
    }
    switch (index.column()) {
    case EmailColumn:
        return role == Qt::DisplayRole ? QVariant(s.email) : QVariant();
    case NameColumn:
        return role == Qt::DisplayRole ? QVariant(s.name) : QVariant();
    case StatusColumn:
        if (role == Qt::DisplayRole) {
            return Style::name(s.status);
        }
        if (role == Qt::DecorationRole) {
            return statusIcon(s.status);
        }
        if (role == Qt::ForegroundRole) {
            return statusColor(s.status);
        }
        return {};
    case SourceColumn:
        return role == Qt::DisplayRole ? QVariant(s.source) : QVariant();
    case JoinedColumn:
        return role == Qt::DisplayRole ? QVariant(Formatting::abbreviatedDate(s.createdAt))
                                       : QVariant();
    default:
        return {};
    }
}

QVariant SubscriberTableModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
    case EmailColumn:
        return tr("Email");
    case NameColumn:
        return tr("Name");
    case StatusColumn:
        return tr("Status");
    case SourceColumn:
        return tr("Source");
    case JoinedColumn:
        return tr("Joined");
    default:
        return {};
    }
}

void SubscriberTableModel::refresh() {
    const QList<Subscriber>& current = m_model.library().subscribers;
    if (current.constData() == m_subscribers.constData() &&
        current.size() == m_subscribers.size()) {
        return; // the same shared list: nothing changed
    }
    bool sameRows = current.size() == m_subscribers.size();
    for (qsizetype i = 0; sameRows && i < current.size(); ++i) {
        sameRows = current.at(i).id == m_subscribers.at(i).id;
    }
    if (!sameRows) {
        beginResetModel();
        m_subscribers = current;
        m_foldedEmail.assign(m_subscribers.size(), QString());
        m_foldedName.assign(m_subscribers.size(), QString());
        for (int row = 0; row < m_subscribers.size(); ++row) {
            foldRow(row);
        }
        endResetModel();
        return;
    }
    // Same readers in the same order (statuses set on a selection, a sync that changed some):
    // one change notice over the rows that differ.
    int first = -1;
    int last = -1;
    const QList<Subscriber> previous = std::exchange(m_subscribers, current);
    for (int row = 0; row < m_subscribers.size(); ++row) {
        if (!(previous.at(row) == m_subscribers.at(row))) {
            foldRow(row);
            first = first < 0 ? row : first;
            last = row;
        }
    }
    if (first >= 0) {
        Q_EMIT dataChanged(index(first, 0), index(last, ColumnCount - 1));
    }
}

// MARK: proxy

SubscriberProxyModel::SubscriberProxyModel(SubscriberTableModel* source, QObject* parent)
    : QAbstractProxyModel(parent)
    , m_source(source) {
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    setSourceModel(source);
    // The proxy resets together with its source: our row map points into the source's rows,
    // so anyone reading the proxy as the reset begins (a view keeping its selection) must still
    // see the rows they selected, not the new list through the old map.
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this,
            &SubscriberProxyModel::beginResetModel);
    connect(source, &QAbstractItemModel::modelReset, this, &SubscriberProxyModel::sourceReset);
    connect(source, &QAbstractItemModel::dataChanged, this,
            &SubscriberProxyModel::sourceDataChanged);
    sortAll();
    beginResetModel();
    refilter(false);
    endResetModel();
}

void SubscriberProxyModel::setFilter(std::optional<SubscriberStatus> filter) {
    if (m_filter == filter) {
        return;
    }
    m_filter = filter;
    beginResetModel();
    refilter(false);
    endResetModel();
}

void SubscriberProxyModel::setSearch(const QString& search) {
    if (m_search == search) {
        return;
    }
    const QString folded = SubscriberTableModel::fold(search);
    // A longer text can only match rows that matched the shorter one.
    const bool narrowing = !m_foldedSearch.isEmpty() && folded.contains(m_foldedSearch);
    m_search = search;
    m_foldedSearch = folded;
    beginResetModel();
    refilter(narrowing);
    endResetModel();
}

void SubscriberProxyModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= SubscriberTableModel::ColumnCount ||
        (column == m_sortColumn && order == m_sortOrder)) {
        return;
    }
    m_sortColumn = column;
    m_sortOrder = order;
    beginResetModel();
    sortAll();
    refilter(false);
    endResetModel();
}

void SubscriberProxyModel::sortAll() {
    const QList<Subscriber>& rows = m_source->subscribers();
    m_order.resize(rows.size());
    std::iota(m_order.begin(), m_order.end(), 0);
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    // Ties keep library order in both directions.
    auto sortBy = [&](auto key) {
        std::stable_sort(m_order.begin(), m_order.end(),
                         [&](int a, int b) { return descending ? key(b, a) : key(a, b); });
    };
    switch (m_sortColumn) {
    case SubscriberTableModel::StatusColumn:
        sortBy([&](int a, int b) {
            return statusRank(rows.at(a).status) < statusRank(rows.at(b).status);
        });
        break;
    case SubscriberTableModel::JoinedColumn: {
        // Plain numbers compare far faster than dates.
        std::vector<qint64> keys;
        keys.reserve(rows.size());
        for (const Subscriber& s : rows) {
            keys.push_back(s.createdAt.toMSecsSinceEpoch());
        }
        sortBy([&](int a, int b) { return keys[a] < keys[b]; });
        break;
    }
    default: {
        // Locale-aware text order through collation keys: one key per row, then byte compares.
        std::vector<QCollatorSortKey> keys;
        keys.reserve(rows.size());
        for (const Subscriber& s : rows) {
            const QString& text = m_sortColumn == SubscriberTableModel::EmailColumn  ? s.email
                                  : m_sortColumn == SubscriberTableModel::NameColumn ? s.name
                                                                                     : s.source;
            keys.push_back(m_collator.sortKey(text));
        }
        sortBy([&](int a, int b) { return keys[a].compare(keys[b]) < 0; });
        break;
    }
    }
}

bool SubscriberProxyModel::accepts(int sourceRow) const {
    if (m_filter && m_source->subscribers().at(sourceRow).status != *m_filter) {
        return false;
    }
    return m_foldedSearch.isEmpty() || m_source->foldedEmail(sourceRow).contains(m_foldedSearch) ||
           m_source->foldedName(sourceRow).contains(m_foldedSearch);
}

void SubscriberProxyModel::refilter(bool narrowing) {
    std::vector<int> shown;
    const std::vector<int>& candidates = narrowing ? m_rows : m_order;
    shown.reserve(narrowing ? m_rows.size() : m_order.size());
    for (int row : candidates) {
        if (accepts(row)) {
            shown.push_back(row);
        }
    }
    m_rows = std::move(shown);
    m_proxyRow.assign(m_source->subscribers().size(), -1);
    for (int i = 0; i < int(m_rows.size()); ++i) {
        m_proxyRow[m_rows[i]] = i;
    }
}

void SubscriberProxyModel::sourceReset() {
    sortAll();
    refilter(false);
    endResetModel();
}

void SubscriberProxyModel::sourceDataChanged(const QModelIndex& topLeft,
                                             const QModelIndex& bottomRight, const QList<int>&) {
    const bool affectsSort =
        m_sortColumn >= topLeft.column() && m_sortColumn <= bottomRight.column();
    const bool affectsFilter = m_filter.has_value() || !m_foldedSearch.isEmpty();
    if (affectsSort || affectsFilter) {
        beginResetModel();
        sortAll();
        refilter(false);
        endResetModel();
        return;
    }
    int first = -1;
    int last = -1;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
        const int shown = m_proxyRow[row];
        if (shown >= 0) {
            first = first < 0 ? shown : std::min(first, shown);
            last = std::max(last, shown);
        }
    }
    if (first >= 0) {
        Q_EMIT dataChanged(index(first, topLeft.column()), index(last, bottomRight.column()));
    }
}

QModelIndex SubscriberProxyModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || row < 0 || row >= int(m_rows.size()) || column < 0 ||
        column >= SubscriberTableModel::ColumnCount) {
        return {};
    }
    return createIndex(row, column);
}

QModelIndex SubscriberProxyModel::parent(const QModelIndex&) const {
    return {};
}

int SubscriberProxyModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SubscriberProxyModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : SubscriberTableModel::ColumnCount;
}

QModelIndex SubscriberProxyModel::mapToSource(const QModelIndex& proxyIndex) const {
    if (!proxyIndex.isValid() || proxyIndex.row() >= int(m_rows.size())) {
        return {};
    }
    return m_source->index(m_rows[proxyIndex.row()], proxyIndex.column());
}

QModelIndex SubscriberProxyModel::mapFromSource(const QModelIndex& sourceIndex) const {
    if (!sourceIndex.isValid() || sourceIndex.row() >= int(m_proxyRow.size())) {
        return {};
    }
    const int row = m_proxyRow[sourceIndex.row()];
    return row < 0 ? QModelIndex() : createIndex(row, sourceIndex.column());
}

QVariant SubscriberProxyModel::headerData(int section, Qt::Orientation orientation,
                                          int role) const {
    if (orientation == Qt::Vertical) {
        return {};
    }
    return m_source->headerData(section, orientation, role);
}

QUuid SubscriberProxyModel::id(int row) const {
    if (row < 0 || row >= int(m_rows.size())) {
        return {};
    }
    return m_source->subscribers().at(m_rows[row]).id;
}

int SubscriberProxyModel::row(const QUuid& id) const {
    const QList<Subscriber>& all = m_source->subscribers();
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).id == id) {
            return m_proxyRow[i];
        }
    }
    return -1;
}

} // namespace quillmere
