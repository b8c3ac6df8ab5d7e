#include "names/nametexts.h"

#include <QTest>

using namespace ridelog;

class TestNameTexts : public QObject
{
    Q_OBJECT

private slots:
    void entryAndExit_data();
    void entryAndExit();
    void busStop_data();
    void busStop();
    void shop_data();
    void shop();
};

void TestNameTexts::entryAndExit_data()
{
    QTest::addColumn<int>("ac");
    QTest::addColumn<int>("lc");
    QTest::addColumn<int>("sc");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("named") << 0 << 37 << 10 << QStringLiteral("新宿") << QStringLiteral("新宿");
    QTest::newRow("code") << 0 << 37 << 10 << QString() << QStringLiteral("(0, 37, 10)");
    QTest::newRow("none") << 0 << 0 << 0 << QString() << QString();
    QTest::newRow("high bytes") << 255 << 200 << 129 << QString()
                                << QStringLiteral("(255, 200, 129)");
}

void TestNameTexts::entryAndExit()
{
    QFETCH(int, ac);
    QFETCH(int, lc);
    QFETCH(int, sc);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    HistoryRecord record;
    const StationKey key{std::uint8_t(ac), std::uint8_t(lc), std::uint8_t(sc)};
    record.entryKey = key;
    record.entryName = name;
    QCOMPARE(EntryNameText(record), expected);
    QCOMPARE(ExitNameText(record), QString());

    HistoryRecord exitOnly;
    exitOnly.exitKey = key;
    exitOnly.exitName = name;
    QCOMPARE(ExitNameText(exitOnly), expected);
    QCOMPARE(EntryNameText(exitOnly), QString());
}

void TestNameTexts::busStop_data()
{
    QTest::addColumn<int>("ac");
    QTest::addColumn<int>("lc");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unsigned") << 32769 << 5 << QString() << QStringLiteral("(32769, 5)");
    QTest::newRow("max") << 65535 << 65535 << QString() << QStringLiteral("(65535, 65535)");
    QTest::newRow("none") << 0 << 0 << QString() << QString();
    QTest::newRow("named") << 1 << 2 << QStringLiteral("駅前(A社)") << QStringLiteral("駅前(A社)");
}

void TestNameTexts::busStop()
{
    QFETCH(int, ac);
    QFETCH(int, lc);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    HistoryRecord record;
    record.busKey = BusStopKey{std::uint16_t(ac), std::uint16_t(lc)};
    record.entryName = name;
    QCOMPARE(BusStopNameText(record), expected);
}

void TestNameTexts::shop_data()
{
    QTest::addColumn<int>("lc");
    QTest::addColumn<int>("sc");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("code") << 199 << 40000 << QString() << QStringLiteral("(1, 199, 40000)");
    QTest::newRow("blank name shown") << 199 << 7 << QStringLiteral(" ") << QStringLiteral(" ");
    QTest::newRow("named") << 199 << 7 << QStringLiteral("売店") << QStringLiteral("売店");
}

void TestNameTexts::shop()
{
    QFETCH(int, lc);
    QFETCH(int, sc);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    HistoryRecord record;
    record.shopKey = ShopKey{1, std::uint8_t(lc), std::uint16_t(sc)};
    record.entryName = name;
    QCOMPARE(ShopNameText(record), expected);
}

QTEST_GUILESS_MAIN(TestNameTexts)
#include "test_nametexts.moc"
