#pragma once

#include "core/library.h"

#include <QScrollArea>

#include <array>

class QGridLayout;
class QLabel;
class QStackedWidget;

class QChart;
class QChartView;
class QGraphicsSimpleTextItem;

namespace quillmere {

class AppModel;
class StatTile;

// The "Stats" section: headline figures, the audience by status and the results of every sent
// issue. Read-only, computed from the library each time it is shown.
class StatsView : public QScrollArea {
    Q_OBJECT

public:
    // What the screen shows, derived from the library.
    struct Summary {
        QList<Newsletter> sentIssues; // stats.sent ≥ 1, in library order
        qint64 sent = 0;
        qint64 bounced = 0;
        qint64 complained = 0;
        qint64 unsubscribed = 0;
        std::array<qint64, 5> audience{}; // by SubscriberStatus
        static Summary of(const Library& library);
    };

    explicit StatsView(AppModel& model, QWidget* parent = nullptr);

    StatTile* tile(int index) const { return m_tiles.at(index); }
    QChartView* chart() const { return m_chartView; }
    // The count shown at the end of each audience bar, in status order.
    QStringList barLabels() const;
    QGridLayout* issueTable() const { return m_issues; }
    QLabel* noSendsNote() const { return m_noSends; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void placeBarLabels();

    AppModel& m_model;
    QList<StatTile*> m_tiles;
    QChart* m_chart;
    QChartView* m_chartView;
    QList<QGraphicsSimpleTextItem*> m_barLabels;
    std::array<qint64, 5> m_audience{};
    QStackedWidget* m_perIssue;
    QWidget* m_issueTable;
    QGridLayout* m_issues;
    QLabel* m_noSends;
    bool m_stale = true;
};

} // namespace quillmere
