#include "names/nametexts.h"

#include <QTest>

using namespace ridelog;

class TestNameTexts : public QObject
{
    Q_OBJECT

private slots:
    void nameTexts_data();
    void nameTexts();
};

void TestNameTexts::nameTexts_data()
{
    QTest::addColumn<RecordKind>("kind");
    QTest::addColumn<QList<int>>("code");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const auto rail = RecordKind::Rail, bus = RecordKind::Bus, shop = RecordKind::Shop;
    QTest::newRow("station named")
        << rail << QList{0, 37, 10} << QStringLiteral("新宿") << QStringLiteral("新宿");
    QTest::newRow("station code") << rail << QList{0, 37, 10} << QString()
                                  << QStringLiteral("(0, 37, 10)");
    QTest::newRow("no station") << rail << QList{0, 0, 0} << QString() << QString();
    QTest::newRow("station high bytes")
        << rail << QList{255, 200, 129} << QString() << QStringLiteral("(255, 200, 129)");
    QTest::newRow("stop unsigned")
        << bus << QList{32769, 5} << QString() << QStringLiteral("(32769, 5)");
    QTest::newRow("stop max") << bus << QList{65535, 65535} << QString()
                              << QStringLiteral("(65535, 65535)");
    QTest::newRow("no stop") << bus << QList{0, 0} << QString() << QString();
    QTest::newRow("stop named") << bus << QList{1, 2} << QStringLiteral("駅前(A社)")
                                << QStringLiteral("駅前(A社)");
    QTest::newRow("shop code") << shop << QList{199, 40000} << QString()
                               << QStringLiteral("(1, 199, 40000)");
    QTest::newRow("shop blank name shown")
        << shop << QList{199, 7} << QStringLiteral(" ") << QStringLiteral(" ");
    QTest::newRow("shop named") << shop << QList{199, 7} << QStringLiteral("売店")
                                << QStringLiteral("売店");
}

void TestNameTexts::nameTexts()
{
    QFETCH(RecordKind, kind);
    QFETCH(QList<int>, code);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    HistoryRecord record;
    record.kind = kind;
    if (kind == RecordKind::Bus) {
        record.busKey = BusStopKey{std::uint16_t(code[0]), std::uint16_t(code[1])};
        record.entryName = name;
        QCOMPARE(BusStopNameText(record), expected);
    } else if (kind == RecordKind::Shop) {
        record.shopKey = ShopKey{1, std::uint8_t(code[0]), std::uint16_t(code[1])};
        record.entryName = name;
        QCOMPARE(ShopNameText(record), expected);
    } else {
        // The same station as the entry, then as the exit: each text reads its own side only.
        const StationKey key{std::uint8_t(code[0]), std::uint8_t(code[1]), std::uint8_t(code[2])};
        record.entryKey = key;
        record.entryName = name;
        QCOMPARE(EntryNameText(record), expected);
        QCOMPARE(ExitNameText(record), QString());
        std::swap(record.entryKey, record.exitKey);
        std::swap(record.entryName, record.exitName);
        QCOMPARE(ExitNameText(record), expected);
        QCOMPARE(EntryNameText(record), QString());
    }
}

QTEST_GUILESS_MAIN(TestNameTexts)
#include "test_nametexts.moc"
