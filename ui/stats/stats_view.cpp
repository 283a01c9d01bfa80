#include "ui/stats/stats_view.h"

#include "app/app_model.h"
#include "ui/stats/stat_tile.h"
#include "ui/widgets/formatting.h"
#include "ui/widgets/section_header.h"
#include "ui/widgets/style.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsSimpleTextItem>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHorizontalStackedBarSeries>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QValueAxis>

namespace quillmere {

namespace {

// The limits of the bounce guard: above them the rate shows in red.
constexpr double bounceWarning = 0.05;
constexpr double complaintWarning = 0.001;

constexpr int statusCount = 5;

} // namespace

StatsView::Summary StatsView::Summary::of(const Library& library) {
    Summary summary;
    for (const Newsletter& issue : library.newsletters) {
        if (issue.stats.sent >= 1) {
            summary.sentIssues.append(issue);
            summary.sent += issue.stats.sent;
            summary.bounced += issue.stats.bounced;
            summary.complained += issue.stats.complained;
            summary.unsubscribed += issue.stats.unsubscribed;
        }
    }
    for (const Subscriber& s : library.subscribers) {
        ++summary.audience[int(s.status)];
    }
    return summary;
}

StatsView::StatsView(AppModel& model, QWidget* parent)
    : QScrollArea(parent)
    , m_model(model)
    , m_chart(new QChart)
    , m_perIssue(new QStackedWidget)
    , m_issueTable(new QWidget)
    , m_issues(new QGridLayout(m_issueTable)) {
    setObjectName(QStringLiteral("stats"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(20);

    auto* title = new QLabel(tr("Stats"), content);
    title->setObjectName(QStringLiteral("statsTitle"));
    title->setFont(Style::title(title, 1.3));
    layout->addWidget(title);

    auto* tiles = new QHBoxLayout;
    tiles->setSpacing(12);
    for (const char* name : {QT_TR_NOOP("Active subscribers"), QT_TR_NOOP("Emails sent"),
                             QT_TR_NOOP("Bounce rate"), QT_TR_NOOP("Complaint rate")}) {
        auto* tile = new StatTile(tr(name), content);
        m_tiles.append(tile);
        tiles->addWidget(tile);
    }
    layout->addLayout(tiles);

    // The audience: one bar per status, each in its own colour. A stacked series with one set per
    // status (zero outside its own row) gives every bar its own colour at full height.
    layout->addWidget(new SectionHeader(tr("Audience"), content));
    QStringList labels;
    for (SubscriberStatus status : allCases<SubscriberStatus>()) {
        labels.append(Style::name(status));
    }
    auto* series = new QHorizontalStackedBarSeries;
    series->setBarWidth(0.6);
    for (int status = 0; status < statusCount; ++status) {
        auto* set = new QBarSet(labels.at(status));
        const QColor color = status == int(SubscriberStatus::unsubscribed)
                                 ? Style::gray
                                 : Style::color(SubscriberStatus(status), this);
        set->setColor(color);
        set->setBorderColor(color);
        for (int row = 0; row < statusCount; ++row) {
            set->append(0);
        }
        series->append(set);
    }
    m_chart->addSeries(series);
    // Categories run bottom-up on a horizontal chart: listed in reverse, "Pending" is on top.
    auto* categories = new QBarCategoryAxis;
    for (int i = statusCount - 1; i >= 0; --i) {
        categories->append(labels.at(i));
    }
    categories->setTitleText(tr("Status"));
    auto* counts = new QValueAxis;
    counts->setTitleText(tr("Count"));
    counts->setLabelFormat(QStringLiteral("%.0f"));
    m_chart->addAxis(categories, Qt::AlignLeft);
    m_chart->addAxis(counts, Qt::AlignBottom);
    series->attachAxis(categories);
    series->attachAxis(counts);
    m_chart->legend()->hide();
    m_chart->setBackgroundVisible(false);
    m_chart->setMargins(QMargins(0, 0, 0, 0));
    for (QAbstractAxis* axis :
         {static_cast<QAbstractAxis*>(categories), static_cast<QAbstractAxis*>(counts)}) {
        axis->setLabelsColor(Style::primaryText(this));
        axis->setTitleBrush(Style::secondaryText(this));
        // Quiet lines in the palette's own tones, on a light or a dark window alike.
        QColor grid = Style::secondaryText(this);
        grid =
            QColor::fromRgbF(grid.redF() * 0.3 + palette().color(QPalette::Window).redF() * 0.7,
                             grid.greenF() * 0.3 + palette().color(QPalette::Window).greenF() * 0.7,
                             grid.blueF() * 0.3 + palette().color(QPalette::Window).blueF() * 0.7);
        axis->setGridLineColor(grid);
        axis->setLinePenColor(grid);
    }
    QFont caption = Style::caption(this);
    for (int status = 0; status < statusCount; ++status) {
        auto* label = new QGraphicsSimpleTextItem(m_chart);
        label->setFont(caption);
        label->setBrush(Style::primaryText(this));
        m_barLabels.append(label);
    }
    connect(m_chart, &QChart::plotAreaChanged, this, &StatsView::placeBarLabels);
    m_chartView = new QChartView(m_chart, content);
    m_chartView->setObjectName(QStringLiteral("audienceChart"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumHeight(240);
    m_chartView->setStyleSheet(QStringLiteral("background: transparent"));
    layout->addWidget(m_chartView);

    layout->addWidget(new SectionHeader(tr("Per issue"), content));
    m_issues->setContentsMargins(0, 0, 0, 0);
    m_issues->setHorizontalSpacing(24);
    m_issues->setVerticalSpacing(8);
    m_noSends = new QLabel(tr("Stats appear after your first send."));
    m_noSends->setObjectName(QStringLiteral("noSends"));
    Style::setTextColor(m_noSends, Style::secondaryText(this));
    m_perIssue->addWidget(m_issueTable);
    m_perIssue->addWidget(m_noSends);
    m_perIssue->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    layout->addWidget(m_perIssue);

    auto* footnote =
        new QLabel(tr("Quillmere does not track opens or clicks. Bounces, complaints and "
                      "unsubscribes arrive from your worker through Amazon SNS."),
                   content);
    footnote->setObjectName(QStringLiteral("footnote"));
    footnote->setWordWrap(true);
    footnote->setFont(Style::caption(footnote));
    Style::setTextColor(footnote, Style::secondaryText(this));
    layout->addWidget(footnote);
    layout->addStretch(1);
    setWidget(content);

    connect(&m_model, &AppModel::libraryChanged, this, [this] {
        m_stale = true;
        if (isVisible()) {
            refresh();
        }
    });
    refresh();
}

void StatsView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    if (m_stale) {
        refresh();
    }
}

void StatsView::refresh() {
    m_stale = false;
    const Summary summary = Summary::of(m_model.library());
    const double bounceRate = summary.sent == 0 ? 0.0 : double(summary.bounced) / summary.sent;
    const double complaintRate =
        summary.sent == 0 ? 0.0 : double(summary.complained) / summary.sent;
    m_tiles[0]->setValue(Formatting::integer(summary.audience[int(SubscriberStatus::active)]));
    m_tiles[1]->setValue(Formatting::integer(summary.sent));
    m_tiles[2]->setValue(Formatting::percent(bounceRate), bounceRate > bounceWarning);
    m_tiles[3]->setValue(Formatting::percent(complaintRate), complaintRate > complaintWarning);

    // The audience chart.
    m_audience = summary.audience;
    auto* series = static_cast<QHorizontalStackedBarSeries*>(m_chart->series().first());
    const QList<QBarSet*> sets = series->barSets();
    qint64 largest = 0;
    for (int status = 0; status < statusCount; ++status) {
        const int row = statusCount - 1 - status;
        sets[status]->replace(row, double(m_audience[status]));
        largest = std::max(largest, m_audience[status]);
        m_barLabels[status]->setText(QString::number(m_audience[status]));
    }
    auto* counts = static_cast<QValueAxis*>(m_chart->axes(Qt::Horizontal).first());
    // Whole readers only: a step of 1, 2 or 5 times a power of ten, at most six steps, with
    // room at the end of the longest bar for its count.
    const qint64 room = std::max<qint64>(1, qint64(std::ceil(largest * 1.12)));
    qint64 step = 1;
    for (qint64 scale = 1; room > step * 6; scale *= 10) {
        for (qint64 factor : {1, 2, 5}) {
            step = factor * scale;
            if (room <= step * 6) {
                break;
            }
        }
    }
    counts->setTickType(QValueAxis::TicksDynamic);
    counts->setTickAnchor(0);
    counts->setTickInterval(double(step));
    counts->setRange(0, double((room + step - 1) / step * step));
    placeBarLabels();

    // The per-issue table.
    while (QLayoutItem* item = m_issues->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_perIssue->setCurrentWidget(summary.sentIssues.isEmpty() ? static_cast<QWidget*>(m_noSends)
                                                              : m_issueTable);
    if (summary.sentIssues.isEmpty()) {
        return;
    }
    const QStringList headers{tr("Issue"), tr("Sent"), tr("Bounced"), tr("Complaints"),
                              tr("Unsubscribed")};
    QFont headerFont = Style::caption(this);
    headerFont.setWeight(QFont::DemiBold);
    for (int column = 0; column < headers.size(); ++column) {
        auto* label = new QLabel(headers.at(column), m_issueTable);
        label->setFont(headerFont);
        Style::setTextColor(label, Style::secondaryText(this));
        m_issues->addWidget(label, 0, column, column == 0 ? Qt::AlignLeft : Qt::AlignRight);
    }
    const QFont digits = Style::monospacedDigits(font());
    int row = 1;
    for (const Newsletter& issue : summary.sentIssues) {
        auto* subject = new QLabel(issue.subject, m_issueTable);
        subject->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_issues->addWidget(subject, row, 0);
        const qint64 values[] = {issue.stats.sent, issue.stats.bounced, issue.stats.complained,
                                 issue.stats.unsubscribed};
        for (int column = 1; column <= 4; ++column) {
            auto* value = new QLabel(QString::number(values[column - 1]), m_issueTable);
            value->setFont(digits);
            m_issues->addWidget(value, row, column, Qt::AlignRight);
        }
        ++row;
    }
    m_issues->setColumnStretch(0, 1);
}

void StatsView::placeBarLabels() {
    auto* series = static_cast<QHorizontalStackedBarSeries*>(m_chart->series().first());
    for (int status = 0; status < statusCount; ++status) {
        const int row = statusCount - 1 - status;
        const QPointF end =
            m_chart->mapToPosition(QPointF(double(m_audience[status]), row), series);
        QGraphicsSimpleTextItem* label = m_barLabels[status];
        const QRectF box = label->boundingRect();
        label->setPos(end.x() + 5, end.y() - box.height() / 2);
    }
}

QStringList StatsView::barLabels() const {
    QStringList texts;
    for (const QGraphicsSimpleTextItem* label : m_barLabels) {
        texts.append(label->text());
    }
    return texts;
}

} // namespace quillmere
