#include "ui_fixture.h"

#include <QChartView>

namespace {

Newsletter sentIssue(const QString& subject, qint64 sent, qint64 bounced, qint64 complained,
                     qint64 unsubscribed) {
    return {.id = QUuid::createUuid(),
            .subject = subject,
            .status = sent > 0 ? CampaignStatus::sent : CampaignStatus::draft,
            .stats = {.sent = sent,
                      .bounced = bounced,
                      .complained = complained,
                      .unsubscribed = unsubscribed}};
}

QList<Subscriber> readersOf(SubscriberStatus status, int count) {
    QList<Subscriber> out(count);
    std::ranges::generate(out, [status] { return reader(status); });
    return out;
}

} // namespace

class TestStatsScreen : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    StatsView* openWith(const Library& library) {
        f->openWith(library, {u"-section"_s, u"stats"_s});
        return f->screen<StatsView>(AppSection::stats);
    }

    // The numbers the chart's value axis shows, in order.
    static QList<double> axisNumbers(QChartView* chart) {
        QList<double> numbers;
        for (QGraphicsItem* item : chart->scene()->items()) {
            auto* text = dynamic_cast<QGraphicsTextItem*>(item);
            bool number = false;
            const double value = text ? text->toPlainText().toDouble(&number) : 0;
            if (number && text->isVisible()) {
                numbers.append(value);
            }
        }
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    }

    static QStringList tableRow(QGridLayout* grid, int row) {
        QStringList texts;
        for (int column = 0; column < grid->columnCount(); ++column) {
            QLayoutItem* item = grid->itemAtPosition(row, column);
            texts << (item ? qobject_cast<QLabel*>(item->widget())->text() : QString());
        }
        return texts;
    }

private Q_SLOTS:
    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    void tiles_data() {
        QTest::addColumn<QList<Newsletter>>("issues");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("warned"); // the one tile that warns, or -1
        const auto row = [](const char* name, const QList<Newsletter>& issues,
                            const QStringList& values,
                            int warned) { QTest::newRow(name) << issues << values << warned; };
        row("no sends yet", {sentIssue("Draft", 0, 0, 0, 0)}, {"0", "0", "0.00%", "0.00%"}, -1);
        row("6 of 100 bounced", {sentIssue("One", 100, 6, 0, 0)}, {"0", "100", "6.00%", "0.00%"},
            2);
        row("exactly at the bounce limit", {sentIssue("One", 100, 5, 0, 0)},
            {"0", "100", "5.00%", "0.00%"}, -1);
        row("1 complaint in 1000", {sentIssue("One", 1000, 0, 1, 0)},
            {"0", "1,000", "0.00%", "0.10%"}, -1);
        row("2 complaints in 1000 over two issues",
            {sentIssue("One", 600, 0, 1, 0), sentIssue("Two", 400, 0, 1, 0)},
            {"0", "1,000", "0.00%", "0.20%"}, 3);
    }

    void tiles() {
        QFETCH(QList<Newsletter>, issues);
        QFETCH(QStringList, values);
        QFETCH(int, warned);
        StatsView* stats = openWith({.newsletters = issues});
        const QStringList titles{"Active subscribers", "Emails sent", "Bounce rate",
                                 "Complaint rate"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(stats->tile(i)->title(), titles.at(i));
            QCOMPARE(stats->tile(i)->value(), values.at(i));
            QCOMPARE(stats->tile(i)->warning(), i == warned);
            const QLabel* value = child<QLabel>(stats->tile(i), u"tileValue"_s);
            QCOMPARE(value->palette().color(QPalette::WindowText) == QColor(230, 55, 45),
                     i == warned);
        }
    }

    void perIssueTableAndAudience() {
        Library library;
        library.newsletters = {sentIssue("Issue 2", 1200, 3, 1, 4), sentIssue("Unsent", 0, 0, 0, 0),
                               sentIssue("Issue 1", 40, 0, 0, 2)};
        library.subscribers = readersOf(SubscriberStatus::pending, 2) +
                              readersOf(SubscriberStatus::active, 7) +
                              readersOf(SubscriberStatus::bounced, 1);
        StatsView* stats = openWith(library);
        QCOMPARE(stats->tile(0)->value(), u"7"_s);
        QCOMPARE(stats->tile(1)->value(), u"1,240"_s);
        QVERIFY(!stats->noSendsNote()->isVisible());
        QGridLayout* grid = stats->issueTable();
        QCOMPARE(tableRow(grid, 0),
                 (QStringList{"Issue", "Sent", "Bounced", "Complaints", "Unsubscribed"}));
        QCOMPARE(tableRow(grid, 1), (QStringList{"Issue 2", "1200", "3", "1", "4"}));
        QCOMPARE(tableRow(grid, 2), (QStringList{"Issue 1", "40", "0", "0", "2"}));
        QCOMPARE(grid->rowCount(), 3);
        QCOMPARE(stats->barLabels(), (QStringList{"2", "7", "0", "1", "0"}));

        // A change to the library shows at once.
        f->model->setStatus(SubscriberStatus::complained,
                            {f->model->library().subscribers.first().id});
        QCOMPARE(stats->barLabels(), (QStringList{"1", "7", "0", "1", "1"}));

        // With the sent issues gone, the screen says when stats appear.
        for (const Newsletter& issue : library.newsletters) {
            if (issue.stats.sent > 0) {
                f->model->deleteIssue(issue.id);
            }
        }
        QCOMPARE(shownText(stats->noSendsNote()), u"Stats appear after your first send."_s);
        QCOMPARE(child<QLabel>(stats, u"footnote"_s)->text(),
                 u"Quillmere does not track opens or clicks. Bounces, complaints and "
                 "unsubscribes arrive from your worker through Amazon SNS."_s);
    }

    void axisCountsWholeReaders_data() {
        QTest::addColumn<int>("readers");
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
        QTest::newRow("thirty-seven") << 37;
    }

    void axisCountsWholeReaders() {
        QFETCH(int, readers);
        StatsView* stats = openWith({.subscribers = readersOf(SubscriberStatus::pending, readers)});
        // The axis labels as drawn: whole numbers, each once, the last past the longest bar.
        QList<double> ticks;
        QTRY_VERIFY(!(ticks = axisNumbers(stats->chart())).isEmpty());
        for (qsizetype i = 0; i < ticks.size(); ++i) {
            QCOMPARE(ticks.at(i), std::round(ticks.at(i)));
            QVERIFY(i == 0 || ticks.at(i) > ticks.at(i - 1));
        }
        QVERIFY(ticks.last() >= readers);
        QVERIFY(ticks.size() <= 7);
    }
};

QUILLMERE_UI_TEST_MAIN(TestStatsScreen)
#include "tst_stats_screen.moc"
