// What the totals charts are drawn from: round axes that hold the data, labels thinned to the
// room, and the balance at the end of each day with the breaks of missed history.
#include "report/chartscale.h"

#include <QTest>

using namespace ridelog;

class TestChartScale : public QObject
{
    Q_OBJECT

private slots:
    void roundScaleHoldsTheData_data();
    void roundScaleHoldsTheData();
    void labelStrideKeepsToTheRoom_data();
    void labelStrideKeepsToTheRoom();
    void oneBalancePerDay();
};

void TestChartScale::roundScaleHoldsTheData_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("maxTicks");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("step");
    QTest::newRow("monthly spending") << 0.0 << 28186.0 << 7 << 0.0 << 30000.0 << 5000.0;
    QTest::newRow("balance") << 0.0 << 7046.0 << 7 << 0.0 << 8000.0 << 2000.0;
    QTest::newRow("top on a tick") << 0.0 << 10000.0 << 6 << 0.0 << 10000.0 << 2000.0;
    QTest::newRow("a few yen") << 0.0 << 7.0 << 7 << 0.0 << 8.0 << 2.0;
    QTest::newRow("nothing spent") << 0.0 << 0.0 << 7 << 0.0 << 1.0 << 1.0;
    QTest::newRow("below zero") << -130.0 << 480.0 << 7 << -200.0 << 600.0 << 200.0;
    QTest::newRow("ends swapped") << 900.0 << 100.0 << 5 << 0.0 << 1000.0 << 500.0;
    QTest::newRow("two ticks") << 0.0 << 1234.0 << 2 << 0.0 << 2000.0 << 2000.0;
    QTest::newRow("away from zero") << 3120.0 << 3480.0 << 7 << 3100.0 << 3500.0 << 100.0;
}

void TestChartScale::roundScaleHoldsTheData()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, maxTicks);
    const AxisScale scale = roundScale(low, high, maxTicks);
    QTEST(scale.min, "min");
    QTEST(scale.max, "max");
    QTEST(scale.step, "step");
    QVERIFY(scale.tickCount() <= maxTicks);
    QVERIFY(scale.min <= std::min(low, high) && scale.max >= std::max(low, high));
}

void TestChartScale::labelStrideKeepsToTheRoom_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("room");
    QTest::addColumn<int>("stride");
    QTest::newRow("all fit") << 10 << 12 << 1;
    QTest::newRow("two years in eight") << 24 << 8 << 3;
    QTest::newRow("five of every six") << 35 << 7 << 6;
    QTest::newRow("a decade") << 120 << 9 << 24;
    QTest::newRow("no room") << 12 << 0 << 12;
    QTest::newRow("no months") << 0 << 5 << 1;
}

void TestChartScale::labelStrideKeepsToTheRoom()
{
    QFETCH(int, count);
    QFETCH(int, room);
    QTEST(labelStride(count, room), "stride");
}

void TestChartScale::oneBalancePerDay()
{
    auto entry = [](std::uint32_t serial, QDate date, std::int32_t balance,
                    AmountState state = AmountState::Known) {
        ExpenseEntry e;
        e.serial = serial;
        e.date = date;
        e.balance = balance;
        e.amountState = state;
        return e;
    };
    const QDate day1(2026, 3, 2);
    const QDate day2(2026, 3, 3);
    const QDate day3(2026, 3, 9);
    const std::vector<ExpenseEntry> entries{
        entry(1, day1, 3000, AmountState::FirstEntry),
        entry(2, day1, 2527),
        entry(3, day1, 2054),
        entry(4, QDate(), 1900),                     // no such date: not a point
        entry(5, day2, 5054, AmountState::SpansGap), // history missing before it
        entry(6, day2, 4581),
        entry(7, QDate(), 4000, AmountState::SpansGap), // the gap's mark moves to the next day
        entry(8, day3, 3600),
    };
    const std::vector<DayBalance> days = dailyBalances(entries);
    QCOMPARE(days.size(), std::size_t(3));
    QCOMPARE(days[0].day, day1);
    QCOMPARE(days[0].balance, 2054);
    QVERIFY(!days[0].afterGap);
    QCOMPARE(days[1].balance, 4581);
    QVERIFY(days[1].afterGap);
    QCOMPARE(days[2].day, day3);
    QCOMPARE(days[2].balance, 3600);
    QVERIFY(days[2].afterGap);
    QVERIFY(dailyBalances({}).empty());
}

QTEST_GUILESS_MAIN(TestChartScale)
#include "test_chartscale.moc"
