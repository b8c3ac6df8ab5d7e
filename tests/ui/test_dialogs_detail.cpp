// The two detail dialogs through their real widgets: the rail and bus detail with what is
// known and not known of its stations or stop, the gate times of a journey, and the shop detail.
#include "card/gatelog.h"
#include "card/history.h"
#include "dialogcontrols.h"
#include "namedata/namecache.h"
#include "support/cardblocks.h"
#include "ui/bpndetaildlg.h"
#include "ui/ipndetaildlg.h"

#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

namespace {

const StationKey kShibuya{0, 37, 12};
const BusStopKey kStop{4660, 291};

// Control id 0 stands for the dialog's title in the expected texts.
QString shownText(const QWidget* dialog, int id)
{
    return id == 0 ? dialog->windowTitle() : controlText(dialog, id);
}

NameEntry nameEntry(const QStringList& fields)
{
    return {fields.value(0), fields.value(1), fields.value(2), fields.value(3)};
}

} // namespace

class TestDetailDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void railTextsAndHead();
    void partsFollowWhatIsKnown_data();
    void partsFollowWhatIsKnown();
    void gateTimesOfAJourney();
    void shopKnownAndUnknown();

private:
    HistoryRecord decoded(const HistoryBlock& block)
    {
        return decodeHistoryBlock(block, caches_.stations, caches_.busStops, caches_.shops);
    }

    NameCaches caches_;
};

void TestDetailDialogs::init()
{
    caches_ = NameCaches();
}

void TestDetailDialogs::railTextsAndHead()
{
    caches_.stations.EntryFor(kShibuya) = {u"JR東日本"_s, u"山手"_s, u"渋谷"_s, u"渋谷(山手線)"_s};
    caches_.stations.EntryFor({0, 37, 20}) = {u"JR東日本"_s, u"山手"_s, u"新宿"_s,
                                              u"新宿(山手線)"_s};
    HistoryRecord record = decoded(typedBlock(22, 1, 5, 1360, 37, 12, 37, 20));
    record.amount = -160;
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    const ControlTexts texts{{0, u"鉄道・地下鉄駅 詳細"_s},
                             {1013, u"#: 5"_s},
                             {1014, u"2008-3-5 "_s},
                             {1015, u"改札機"_s},
                             {1016, u"運賃支払"_s},
                             {1018, u"-160"_s},
                             {1017, u"1360"_s},
                             {1019, u"( 0, 37, 12 )"_s},
                             {1020, u"JR東日本"_s},
                             {1021, u"山手線"_s},
                             {1022, u"渋谷"_s},
                             {1023, u"( 0, 37, 20 )"_s},
                             {1024, u"JR東日本"_s},
                             {1025, u"山手線"_s},
                             {1026, u"新宿"_s},
                             {1027, u"入場駅"_s},
                             {1028, u"出場駅"_s},
                             {1029, u"コード："_s},
                             {1030, u"会社名："_s},
                             {1031, u"線区名："_s},
                             {1032, u"駅名："_s},
                             {1033, u"コード："_s},
                             {1034, u"会社名："_s},
                             {1035, u"線区名："_s},
                             {1036, u"駅名："_s},
                             {1, u"閉じる"_s},
                             {2, u"キャンセル"_s}};
    for (const auto& [id, expected] : texts)
        QCOMPARE(shownText(&dialog, id), expected);
    for (int id = 1013; id <= 1036; ++id)
        QVERIFY2(controlEnabled(&dialog, id), qPrintable(QString::number(id)));
    for (int id : {1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026})
        QVERIFY(findControlAs<QLineEdit>(&dialog, id)->isReadOnly());
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1014)->alignment() & Qt::AlignHCenter);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1017)->alignment() & Qt::AlignRight);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1018)->alignment() & Qt::AlignRight);
    QVERIFY(findControlAs<QPushButton>(&dialog, 1)->isDefault());
    QVERIFY(findControl(&dialog, 2)->isHidden());
}

// What is not known is greyed with its label; a station or stop that is not known at all
// shows its code; a missing exit station or stop key is never looked up, nor shown.
void TestDetailDialogs::partsFollowWhatIsKnown_data()
{
    QTest::addColumn<HistoryBlock>("block");
    QTest::addColumn<QStringList>("station"); // the names of 渋谷 (0, 37, 12), if known
    QTest::addColumn<QStringList>("stop");    // the names of the stop (4660, 291), if known
    QTest::addColumn<ControlTexts>("texts");
    QTest::addColumn<QList<int>>("enabledIds");
    QTest::addColumn<QList<int>>("disabledIds");
    QTest::addColumn<QList<int>>("hiddenIds");
    QTest::addColumn<int>("lookedUp"); // station and stop entries in the caches afterwards

    const QStringList none;
    const HistoryBlock busRide = busBlock(8, 990);
    QTest::newRow("rail without exit")
        << railBlock(6, 1360, 0) << QStringList{u"JR東日本"_s, u"山手"_s, u"渋谷"_s, u""_s} << none
        << ControlTexts{{0, u"鉄道・地下鉄駅 詳細"_s}, {1022, u"渋谷"_s}, {1023, u""_s}}
        << QList<int>{1023} << QList<int>{1028, 1033, 1034, 1035, 1036, 1024, 1025, 1026}
        << QList<int>{} << 1;
    QTest::newRow("station with unknown line")
        << railBlock(7, 1360, 0) << QStringList{u"東京急行電鉄"_s, u""_s, u"渋谷"_s, u""_s} << none
        << ControlTexts{{1021, u""_s},
                        {1031, u"線区名："_s},
                        {1020, u"東京急行電鉄"_s},
                        {1022, u"渋谷"_s}}
        << QList<int>{1020, 1030, 1022, 1027} << QList<int>{1021, 1031} << QList<int>{} << 1;
    BlockFields otherRegions; // entry in region 1, exit in region 2
    otherRegions.serial = 9, otherRegions.b6 = 0x90, otherRegions.b7 = 3;
    otherRegions.b8 = 0xA0, otherRegions.b9 = 4, otherRegions.region = 0x60;
    QTest::newRow("unknown stations")
        << makeBlock(otherRegions) << none << none
        << ControlTexts{{1019, u"( 1, 144, 3 )"_s}, {1023, u"( 2, 160, 4 )"_s}}
        << QList<int>{1019, 1023, 1027, 1028, 1029, 1033}
        << QList<int>{1020, 1021, 1022, 1030, 1031, 1032, 1024, 1025, 1026} << QList<int>{} << 2;
    QTest::newRow("bus") << busRide << none
                         << QStringList{u"都営バス"_s, u"渋谷駅前"_s, u"渋88"_s, u""_s}
                         << ControlTexts{{0, u"バス停留所 詳細"_s}, {1031, u"路線名："_s},
                                         {1032, u"停留所："_s},     {1019, u"( 4660, 291 )"_s},
                                         {1020, u"都営バス"_s},     {1021, u"渋88"_s},
                                         {1022, u"渋谷駅前"_s},     {1015, u"車載端末"_s},
                                         {1016, u"バス"_s}}
                         << QList<int>{1027, 1019, 1020, 1021, 1022, 1029, 1030, 1031, 1032}
                         << QList<int>{} << QList<int>{1028, 1033, 1034,  1035,  1036,  1023, 1024,
                                                       1025, 1026, 32860, 32861, 32862, 32863}
                         << 1;
    QTest::newRow("bus without route")
        << busRide << none << QStringList{u"都営バス"_s, u"渋谷駅前"_s, u""_s, u""_s}
        << ControlTexts{{1031, u"路線名："_s}, {1022, u"渋谷駅前"_s}} << QList<int>{1022}
        << QList<int>{1021, 1031} << QList<int>{} << 1;
    QTest::newRow("bus without key")
        << busBlock(8, 990, 0, 0, 0, 0) << none << none << ControlTexts{{1019, u""_s}}
        << QList<int>{1019} << QList<int>{1027, 1029, 1030, 1031, 1032, 1020, 1021, 1022}
        << QList<int>{1028} << 0;
}

void TestDetailDialogs::partsFollowWhatIsKnown()
{
    QFETCH(HistoryBlock, block);
    QFETCH(QStringList, station);
    QFETCH(QStringList, stop);
    QFETCH(ControlTexts, texts);
    QFETCH(QList<int>, enabledIds);
    QFETCH(QList<int>, disabledIds);
    QFETCH(QList<int>, hiddenIds);
    QFETCH(int, lookedUp);
    // The record is decoded apart, so that the caches show what the dialog looked up.
    NameCaches decoding;
    const HistoryRecord record =
        decodeHistoryBlock(block, decoding.stations, decoding.busStops, decoding.shops);
    if (!station.isEmpty())
        caches_.stations.EntryFor(kShibuya) = nameEntry(station);
    if (!stop.isEmpty())
        caches_.busStops.EntryFor(kStop) = nameEntry(stop);
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    dialog.show();
    for (const auto& [id, expected] : texts)
        QCOMPARE(shownText(&dialog, id), expected);
    for (const int id : enabledIds)
        QVERIFY2(findControl(&dialog, id)->isVisible() && controlEnabled(&dialog, id),
                 qPrintable(QString::number(id)));
    for (const int id : disabledIds)
        QVERIFY2(findControl(&dialog, id)->isVisible() && !controlEnabled(&dialog, id),
                 qPrintable(QString::number(id)));
    for (const int id : hiddenIds)
        QVERIFY2(!findControl(&dialog, id)->isVisible(), qPrintable(QString::number(id)));
    QCOMPARE(int(caches_.stations.size() + caches_.busStops.size()), lookedUp);
    QVERIFY(!caches_.stations.contains({0, 0, 0}));
}

void TestDetailDialogs::gateTimesOfAJourney()
{
    const HistoryRecord record = decoded(typedBlock(22, 1, 8, 1360, 37, 12, 37, 20));
    const JourneyTimes both{8, TapTime{8, 27}, TapTime{8, 42}};
    const JourneyTimes exitOnly{8, TapTime{}, TapTime{19, 5}};
    struct Case
    {
        const JourneyTimes* times;
        const char* entry;
        const char* exit;
    };
    for (const Case& c :
         {Case{&both, "08:27", "08:42"}, Case{&exitOnly, "", "19:05"}, Case{nullptr, "", ""}}) {
        CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops, nullptr, c.times);
        QCOMPARE(controlText(&dialog, CIpnDetailDlg::IdEntryTimeLabel), u"入場時刻："_s);
        QCOMPARE(controlText(&dialog, CIpnDetailDlg::IdExitTimeLabel), u"出場時刻："_s);
        QCOMPARE(controlText(&dialog, CIpnDetailDlg::IdEntryTime), QString::fromLatin1(c.entry));
        QCOMPARE(controlText(&dialog, CIpnDetailDlg::IdExitTime), QString::fromLatin1(c.exit));
        // An unknown time is greyed with its label, as an unknown name is.
        QCOMPARE(controlEnabled(&dialog, CIpnDetailDlg::IdEntryTime), *c.entry != 0);
        QCOMPARE(controlEnabled(&dialog, CIpnDetailDlg::IdExitTimeLabel), *c.exit != 0);
    }
}

void TestDetailDialogs::shopKnownAndUnknown()
{
    caches_.shops.EntryFor({1, 199, 0x1234}) = {u"JR東日本リテール"_s, u"NEWDAYS渋谷"_s, u"レジ2"_s,
                                                QString(), QString()};
    HistoryRecord record = decoded(shopBlock(10, 1240, 0x62, 0x00, 0x12, 0x34));
    record.amount = -120;
    CBpnDetailDlg dialog(record, caches_.shops);
    const ControlTexts texts{{0, u"店舗 詳細"_s},
                             {1073, u"#: 10"_s},
                             {1062, u"2008-3-5 "_s},
                             {1068, u"12:16"_s},
                             {1063, u"物販端末"_s},
                             {1064, u"物販"_s},
                             {1065, u"-120"_s},
                             {1066, u"1240"_s},
                             {1067, u"店舗情報:"_s},
                             {1069, u"(1, 199, 4660)"_s},
                             {1070, u"JR東日本リテール"_s},
                             {1071, u"NEWDAYS渋谷"_s},
                             {1072, u"レジ2"_s},
                             {1, u"閉じる"_s}};
    for (const auto& [id, expected] : texts)
        QCOMPARE(shownText(&dialog, id), expected);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1062)->alignment() & Qt::AlignHCenter);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1068)->alignment() & Qt::AlignHCenter);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1065)->alignment() & Qt::AlignRight);

    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labels.append(label->text());
    for (const char16_t* expected : {u"日付：", u"時刻：", u"端末：", u"処理：", u"支払額:",
                                     u"残額：", u"コード：", u"会社名：", u"店舗名：", u"レジ名："})
        QVERIFY2(labels.contains(QString::fromUtf16(expected)),
                 qPrintable(QString::fromUtf16(expected)));
    QVERIFY(labels.contains(u"注意：\n店舗情報は、必ずしも正確ではありません。"_s));
    QCOMPARE(CBpnDetailDlg::noteText(), u"注意：\r\n店舗情報は、必ずしも正確ではありません。"_s);
    QVERIFY(findControl(&dialog, 2)->isHidden());

    // A shop not known: its code, and empty fields that are not greyed.
    const HistoryRecord unknownRecord =
        decoded(typedBlock(200, 70, 11, 1240, 0x62, 0x00, 0x00, 0x07));
    CBpnDetailDlg unknown(unknownRecord, caches_.shops);
    QCOMPARE(controlText(&unknown, 1069), u"(1, 200, 7)"_s);
    for (const int id : {1070, 1071, 1072}) {
        QCOMPARE(controlText(&unknown, id), QString());
        QVERIFY(controlEnabled(&unknown, id));
    }
    QVERIFY(controlEnabled(&unknown, 1067));
    QVERIFY(caches_.shops.contains({1, 200, 7}));
}

QTEST_MAIN(TestDetailDialogs)
#include "test_dialogs_detail.moc"
