// The display settings dialog, the two detail dialogs and the context-menu commands, driven
// through their real widgets.
#include "card/gatelog.h"
#include "card/history.h"
#include "namedata/namecache.h"
#include "store/settings.h"
#include "ui/bpndetaildlg.h"
#include "ui/controlid.h"
#include "ui/ipndetaildlg.h"
#include "ui/listcommands.h"
#include "ui/showdatasetupdlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace ridelog;

namespace {

// A block as the card delivers it; only the bytes the tests need are set.
HistoryBlock block(std::uint8_t terminal, std::uint8_t process, std::array<std::uint8_t, 4> codes,
                   int balance, std::uint32_t serial, std::uint8_t region = 0)
{
    HistoryBlock b{};
    b[0] = terminal;
    b[1] = process;
    b[4] = std::uint8_t((8 << 1) | 0); // 2008, month high bit 0
    b[5] = std::uint8_t((3 << 5) | 5); // March 5th
    b[6] = codes[0];
    b[7] = codes[1];
    b[8] = codes[2];
    b[9] = codes[3];
    b[10] = std::uint8_t(balance & 0xFF);
    b[11] = std::uint8_t(balance >> 8);
    b[12] = std::uint8_t(serial >> 16);
    b[13] = std::uint8_t(serial >> 8);
    b[14] = std::uint8_t(serial);
    b[15] = region;
    return b;
}

QString text(QWidget* root, int id)
{
    QWidget* control = findControl(root, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(control))
        return group->title();
    return QStringLiteral("<no control %1>").arg(id);
}

bool enabled(QWidget* root, int id)
{
    return findControl(root, id)->isEnabled();
}
bool hidden(QWidget* root, int id)
{
    return findControl(root, id)->isHidden();
}
bool checked(QWidget* root, int id)
{
    return findControlAs<QCheckBox>(root, id)->isChecked();
}

// Runs check on the modal dialog that opens next, then closes it.
void onNextModal(std::function<void(QWidget*)> check)
{
    QTimer::singleShot(0, qApp, [check] {
        QWidget* modal = QApplication::activeModalWidget();
        check(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Display settings dialog
    void setupTexts();
    void setupEmptySettingsGiveStartStates();
    void setupBoxesComeFromSettingsFile();
    void setupNonIntegerValueCountsAsDefault();
    void setupShopShowSwitchesShopParts();
    void setupStoresWhicheverWayClosed_data();
    void setupStoresWhicheverWayClosed();

    // Rail and bus detail
    void railTextsAndHead();
    void railWithoutExitStation();
    void railStationWithUnknownLine();
    void gateTimesOfAJourney();
    void railUnknownStationReadsCacheThroughEntryFor();
    void busRecord();
    void busRecordWithoutRoute();
    void busRecordWithoutKey();

    // Shop detail
    void shopKnown();
    void shopUnknown();

    // Context-menu commands
    void detailCommandChoosesDialogByKind_data();
    void detailCommandChoosesDialogByKind();
    void detailCommandWithoutRecordOpensNothing();
    void deleteThreeSelectedRows();
    void deleteSingleSelectedRowIgnoresCurrentRow();
    void deleteWithNothingSelected();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> qsettings_;
    std::unique_ptr<TrfcSettings> settings_;
    NameCaches caches_;
};

void TestDialogs::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qsettings_ = std::make_unique<QSettings>(dir_->filePath(QStringLiteral("trfc.ini")),
                                             QSettings::IniFormat);
    settings_ = std::make_unique<TrfcSettings>(*qsettings_);
    caches_ = NameCaches();
}

void TestDialogs::cleanup()
{
    settings_.reset();
    qsettings_.reset();
    dir_.reset();
}

void TestDialogs::setupTexts()
{
    CShowDataSetupDlg dialog(*settings_);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("表示設定"));
    const QList<QGroupBox*> groups = dialog.findChildren<QGroupBox*>();
    QStringList titles;
    for (const QGroupBox* group : groups)
        titles.append(group->title());
    QCOMPARE(titles, (QStringList{QStringLiteral("鉄道・地下鉄　駅名"), QStringLiteral("バス"),
                                  QStringLiteral("物販")}));
    QVERIFY(titles[0].contains(QChar(0x3000)));

    const QList<std::pair<int, QString>> boxes{
        {1037, QStringLiteral("会社名を表示する")}, {1038, QStringLiteral("路線名を表示する")},
        {1043, QStringLiteral("会社名を表示する")}, {1044, QStringLiteral("路線名を表示する")},
        {1039, QStringLiteral("店舗名を表示")},     {1040, QStringLiteral("会社名を表示する")},
        {1041, QStringLiteral("店舗名を表示する")}, {1042, QStringLiteral("レジ名")}};
    for (const auto& [id, boxText] : boxes) {
        QCOMPARE(text(&dialog, id), boxText);
        QCOMPARE(controlIdOf(findControl(&dialog, id)), id);
    }
    // Each box sits in its group.
    QCOMPARE(findControl(groups[0], 1038)->objectName(), controlObjectName(1038));
    QVERIFY(findControl(groups[1], 1044));
    QVERIFY(findControl(groups[2], 1042));
    QVERIFY(!findControl(groups[0], 1043));

    QCOMPARE(text(&dialog, 1), QStringLiteral("設定"));
    QCOMPARE(text(&dialog, 2), QStringLiteral("キャンセル"));
    QVERIFY(findControlAs<QPushButton>(&dialog, 1)->isDefault());
    QVERIFY(!findControlAs<QPushButton>(&dialog, 2)->isDefault());
}

void TestDialogs::setupEmptySettingsGiveStartStates()
{
    CShowDataSetupDlg dialog(*settings_);
    QVERIFY(!checked(&dialog, 1037));
    QVERIFY(checked(&dialog, 1038));
    QVERIFY(checked(&dialog, 1043));
    QVERIFY(!checked(&dialog, 1044));
    QVERIFY(!checked(&dialog, 1039));
    QVERIFY(checked(&dialog, 1040));
    QVERIFY(checked(&dialog, 1041));
    QVERIFY(!checked(&dialog, 1042));
    for (const int id : {1040, 1041, 1042})
        QVERIFY(!enabled(&dialog, id));
    QVERIFY(enabled(&dialog, 1039));
}

void TestDialogs::setupBoxesComeFromSettingsFile()
{
    settings_->writeInteger(QStringLiteral("ipnComShow"), 1);
    settings_->writeInteger(QStringLiteral("ipnLinShow"), 0);
    settings_->writeInteger(QStringLiteral("busComShow"), 0);
    settings_->writeInteger(QStringLiteral("busLinShow"), 7); // any non-zero number is on
    settings_->writeInteger(QStringLiteral("bpnShow"), 1);
    settings_->writeInteger(QStringLiteral("bpnRegShow"), 1);
    CShowDataSetupDlg dialog(*settings_);
    QVERIFY(checked(&dialog, 1037));
    QVERIFY(!checked(&dialog, 1038));
    QVERIFY(!checked(&dialog, 1043));
    QVERIFY(checked(&dialog, 1044));
    QVERIFY(checked(&dialog, 1039));
    QVERIFY(checked(&dialog, 1042));
    for (const int id : {1040, 1041, 1042})
        QVERIFY(enabled(&dialog, id));
}

void TestDialogs::setupNonIntegerValueCountsAsDefault()
{
    qsettings_->setValue(QStringLiteral("Trfc/ipnLinShow"), QStringLiteral("off"));
    qsettings_->setValue(QStringLiteral("Trfc/busComShow"), QStringLiteral("0x0"));
    qsettings_->setValue(QStringLiteral("Trfc/bpnShow"), QStringLiteral("yes"));
    qsettings_->setValue(QStringLiteral("Trfc/ipnComShow"), QStringLiteral("1.5"));
    qsettings_->sync();
    CShowDataSetupDlg dialog(*settings_);
    QVERIFY(checked(&dialog, 1038));
    QVERIFY(checked(&dialog, 1043));
    QVERIFY(!checked(&dialog, 1039));
    QVERIFY(!checked(&dialog, 1037));
}

void TestDialogs::setupShopShowSwitchesShopParts()
{
    CShowDataSetupDlg dialog(*settings_);
    dialog.show();
    auto* shopShow = findControlAs<QCheckBox>(&dialog, 1039);
    QTest::mouseClick(shopShow, Qt::LeftButton);
    QVERIFY(shopShow->isChecked());
    for (const int id : {1040, 1041, 1042})
        QVERIFY(enabled(&dialog, id));
    shopShow->click();
    QVERIFY(!shopShow->isChecked());
    for (const int id : {1040, 1041, 1042})
        QVERIFY(!enabled(&dialog, id));
    // Other boxes leave the shop parts alone.
    findControlAs<QCheckBox>(&dialog, 1037)->click();
    QVERIFY(!enabled(&dialog, 1040));
}

void TestDialogs::setupStoresWhicheverWayClosed_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("設定") << QStringLiteral("ok");
    QTest::newRow("キャンセル") << QStringLiteral("cancel");
    QTest::newRow("Enter") << QStringLiteral("enter");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
    QTest::newRow("destroyed unclosed") << QStringLiteral("destroy");
}

void TestDialogs::setupStoresWhicheverWayClosed()
{
    QFETCH(QString, how);
    {
        auto dialog = std::make_unique<CShowDataSetupDlg>(*settings_);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        // Every box the other way round from its start state.
        for (const int id : {1037, 1038, 1043, 1044, 1039, 1040, 1041, 1042})
            findControlAs<QCheckBox>(dialog.get(), id)->click();
        // Unchecking 店舗名を表示 again keeps the (now disabled) shop boxes' states.
        findControlAs<QCheckBox>(dialog.get(), 1039)->click();
        QVERIFY(!enabled(dialog.get(), 1040));
        QVERIFY(!settings_->readInteger(QStringLiteral("ipnComShow")).has_value());

        if (how == QLatin1String("ok"))
            findControlAs<QPushButton>(dialog.get(), 1)->click();
        else if (how == QLatin1String("cancel"))
            findControlAs<QPushButton>(dialog.get(), 2)->click();
        else if (how == QLatin1String("enter"))
            QTest::keyClick(dialog.get(), Qt::Key_Return);
        else if (how == QLatin1String("escape"))
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else if (how == QLatin1String("close"))
            QVERIFY(dialog->close());
        if (how != QLatin1String("destroy"))
            QVERIFY(!dialog->isVisible());
    }
    const QList<std::pair<const char16_t*, int>> expected{
        {u"ipnComShow", 1}, {u"ipnLinShow", 0}, {u"busComShow", 0}, {u"busLinShow", 1},
        {u"bpnShow", 0},    {u"bpnComShow", 0}, {u"bpnStoShow", 0}, {u"bpnRegShow", 1}};
    for (const auto& [name, value] : expected)
        QCOMPARE(settings_->readInteger(QString::fromUtf16(name)), std::optional<int>(value));
    QVERIFY(!settings_->readInteger(QStringLiteral("zanViewM")).has_value());
}

void TestDialogs::railTextsAndHead()
{
    caches_.stations.EntryFor({0, 37, 12}) = {QStringLiteral("JR東日本"), QStringLiteral("山手"),
                                              QStringLiteral("渋谷"),
                                              QStringLiteral("渋谷(山手線)")};
    caches_.stations.EntryFor({0, 37, 20}) = {QStringLiteral("JR東日本"), QStringLiteral("山手"),
                                              QStringLiteral("新宿"),
                                              QStringLiteral("新宿(山手線)")};
    HistoryRecord record = decodeHistoryBlock(block(22, 1, {37, 12, 37, 20}, 1360, 5),
                                              caches_.stations, caches_.busStops, caches_.shops);
    record.amount = -160;
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("鉄道・地下鉄駅 詳細"));
    QCOMPARE(text(&dialog, 1013), QStringLiteral("#: 5"));
    QCOMPARE(text(&dialog, 1014), QStringLiteral("2008-3-5 "));
    QCOMPARE(text(&dialog, 1015), QStringLiteral("改札機"));
    QCOMPARE(text(&dialog, 1016), QStringLiteral("運賃支払"));
    QCOMPARE(text(&dialog, 1018), QStringLiteral("-160"));
    QCOMPARE(text(&dialog, 1017), QStringLiteral("1360"));
    QCOMPARE(text(&dialog, 1019), QStringLiteral("( 0, 37, 12 )"));
    QCOMPARE(text(&dialog, 1020), QStringLiteral("JR東日本"));
    QCOMPARE(text(&dialog, 1021), QStringLiteral("山手線"));
    QCOMPARE(text(&dialog, 1022), QStringLiteral("渋谷"));
    QCOMPARE(text(&dialog, 1023), QStringLiteral("( 0, 37, 20 )"));
    QCOMPARE(text(&dialog, 1024), QStringLiteral("JR東日本"));
    QCOMPARE(text(&dialog, 1025), QStringLiteral("山手線"));
    QCOMPARE(text(&dialog, 1026), QStringLiteral("新宿"));
    QCOMPARE(text(&dialog, 1027), QStringLiteral("入場駅"));
    QCOMPARE(text(&dialog, 1028), QStringLiteral("出場駅"));
    const QList<std::pair<int, QString>> labels{
        {1029, QStringLiteral("コード：")}, {1030, QStringLiteral("会社名：")},
        {1031, QStringLiteral("線区名：")}, {1032, QStringLiteral("駅名：")},
        {1033, QStringLiteral("コード：")}, {1034, QStringLiteral("会社名：")},
        {1035, QStringLiteral("線区名：")}, {1036, QStringLiteral("駅名：")}};
    for (const auto& [id, labelText] : labels)
        QCOMPARE(text(&dialog, id), labelText);
    for (int id = 1013; id <= 1036; ++id)
        QVERIFY2(enabled(&dialog, id), qPrintable(QString::number(id)));
    for (int id : {1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024, 1025, 1026})
        QVERIFY(findControlAs<QLineEdit>(&dialog, id)->isReadOnly());
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1014)->alignment() & Qt::AlignHCenter);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1017)->alignment() & Qt::AlignRight);
    QVERIFY(findControlAs<QLineEdit>(&dialog, 1018)->alignment() & Qt::AlignRight);
    QCOMPARE(text(&dialog, 1), QStringLiteral("閉じる"));
    QVERIFY(findControlAs<QPushButton>(&dialog, 1)->isDefault());
    QVERIFY(hidden(&dialog, 2));
    QCOMPARE(text(&dialog, 2), QStringLiteral("キャンセル"));
}

void TestDialogs::railWithoutExitStation()
{
    caches_.stations.EntryFor({0, 37, 12}) = {QStringLiteral("JR東日本"), QStringLiteral("山手"),
                                              QStringLiteral("渋谷"), QString()};
    HistoryRecord record = decodeHistoryBlock(block(22, 1, {37, 12, 0, 0}, 1360, 6),
                                              caches_.stations, caches_.busStops, caches_.shops);
    const std::size_t cached = caches_.stations.size();
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    QCOMPARE(text(&dialog, 1022), QStringLiteral("渋谷"));
    for (const int id : {1028, 1033, 1034, 1035, 1036, 1024, 1025, 1026})
        QVERIFY2(!enabled(&dialog, id), qPrintable(QString::number(id)));
    QVERIFY(enabled(&dialog, 1023));
    QCOMPARE(text(&dialog, 1023), QString());
    QVERIFY(!hidden(&dialog, 1028));
    // The exit key (0, 0, 0) is never looked up.
    QCOMPARE(caches_.stations.size(), cached);
    QVERIFY(!caches_.stations.contains({0, 0, 0}));
}

void TestDialogs::gateTimesOfAJourney()
{
    const HistoryRecord record = decodeHistoryBlock(
        block(22, 1, {37, 12, 37, 20}, 1360, 8), caches_.stations, caches_.busStops, caches_.shops);
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
        QCOMPARE(text(&dialog, CIpnDetailDlg::IdEntryTimeLabel), QStringLiteral("入場時刻："));
        QCOMPARE(text(&dialog, CIpnDetailDlg::IdExitTimeLabel), QStringLiteral("出場時刻："));
        QCOMPARE(text(&dialog, CIpnDetailDlg::IdEntryTime), QString::fromLatin1(c.entry));
        QCOMPARE(text(&dialog, CIpnDetailDlg::IdExitTime), QString::fromLatin1(c.exit));
        // An unknown time is greyed with its label, as an unknown name is.
        QCOMPARE(enabled(&dialog, CIpnDetailDlg::IdEntryTime), *c.entry != 0);
        QCOMPARE(enabled(&dialog, CIpnDetailDlg::IdExitTimeLabel), *c.exit != 0);
    }
}

void TestDialogs::railStationWithUnknownLine()
{
    caches_.stations.EntryFor({0, 37, 12}) = {QStringLiteral("東京急行電鉄"), QString(),
                                              QStringLiteral("渋谷"), QString()};
    HistoryRecord record = decodeHistoryBlock(block(22, 1, {37, 12, 0, 0}, 1360, 7),
                                              caches_.stations, caches_.busStops, caches_.shops);
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    QVERIFY(!enabled(&dialog, 1021));
    QVERIFY(!enabled(&dialog, 1031));
    QCOMPARE(text(&dialog, 1021), QString());
    QCOMPARE(text(&dialog, 1031), QStringLiteral("線区名："));
    QVERIFY(enabled(&dialog, 1020));
    QVERIFY(enabled(&dialog, 1030));
    QCOMPARE(text(&dialog, 1020), QStringLiteral("東京急行電鉄"));
    QVERIFY(enabled(&dialog, 1022));
    QCOMPARE(text(&dialog, 1022), QStringLiteral("渋谷"));
    QVERIFY(enabled(&dialog, 1027));
}

void TestDialogs::railUnknownStationReadsCacheThroughEntryFor()
{
    StationNameCache stations;
    BusStopNameCache busStops;
    ShopNameCache shops;
    HistoryRecord record;
    record.kind = RecordKind::Rail;
    record.entryKey = {1, 0x90, 3};
    record.exitKey = {2, 0xA0, 4};
    record.serial = 9;
    CIpnDetailDlg dialog(record, stations, busStops);
    QVERIFY(stations.contains({1, 0x90, 3}));
    QVERIFY(stations.contains({2, 0xA0, 4}));
    QCOMPARE(text(&dialog, 1019), QStringLiteral("( 1, 144, 3 )"));
    QCOMPARE(text(&dialog, 1023), QStringLiteral("( 2, 160, 4 )"));
    for (const int id : {1020, 1021, 1022, 1030, 1031, 1032, 1024, 1025, 1026})
        QVERIFY(!enabled(&dialog, id));
    for (const int id : {1019, 1023, 1027, 1028, 1029, 1033})
        QVERIFY(enabled(&dialog, id));
}

void TestDialogs::busRecord()
{
    caches_.busStops.EntryFor({4660, 291}) = {
        QStringLiteral("都営バス"), QStringLiteral("渋谷駅前"), QStringLiteral("渋88"), QString()};
    HistoryRecord record = decodeHistoryBlock(block(5, 13, {0x12, 0x34, 0x01, 0x23}, 990, 8),
                                              caches_.stations, caches_.busStops, caches_.shops);
    QCOMPARE(record.kind, RecordKind::Bus);
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("バス停留所 詳細"));
    QCOMPARE(text(&dialog, 1031), QStringLiteral("路線名："));
    QCOMPARE(text(&dialog, 1032), QStringLiteral("停留所："));
    QCOMPARE(text(&dialog, 1019), QStringLiteral("( 4660, 291 )"));
    QCOMPARE(text(&dialog, 1020), QStringLiteral("都営バス"));
    QCOMPARE(text(&dialog, 1021), QStringLiteral("渋88"));
    QCOMPARE(text(&dialog, 1022), QStringLiteral("渋谷駅前"));
    QCOMPARE(text(&dialog, 1015), QStringLiteral("車載端末"));
    QCOMPARE(text(&dialog, 1016), QStringLiteral("バス"));
    for (const int id : {1028, 1033, 1034, 1035, 1036, 1023, 1024, 1025, 1026})
        QVERIFY2(!findControl(&dialog, id)->isVisible(), qPrintable(QString::number(id)));
    for (const int id : {1027, 1019, 1020, 1021, 1022, 1029, 1030, 1031, 1032})
        QVERIFY(findControl(&dialog, id)->isVisible() && enabled(&dialog, id));
}

void TestDialogs::busRecordWithoutRoute()
{
    caches_.busStops.EntryFor({4660, 291}) = {QStringLiteral("都営バス"),
                                              QStringLiteral("渋谷駅前"), QString(), QString()};
    HistoryRecord record = decodeHistoryBlock(block(5, 13, {0x12, 0x34, 0x01, 0x23}, 990, 8),
                                              caches_.stations, caches_.busStops, caches_.shops);
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    QVERIFY(!enabled(&dialog, 1021));
    QVERIFY(!enabled(&dialog, 1031));
    QCOMPARE(text(&dialog, 1031), QStringLiteral("路線名："));
    QCOMPARE(text(&dialog, 1022), QStringLiteral("渋谷駅前"));
    QVERIFY(enabled(&dialog, 1022));
}

void TestDialogs::busRecordWithoutKey()
{
    HistoryRecord record = decodeHistoryBlock(block(5, 13, {0, 0, 0, 0}, 990, 8), caches_.stations,
                                              caches_.busStops, caches_.shops);
    CIpnDetailDlg dialog(record, caches_.stations, caches_.busStops);
    for (const int id : {1027, 1029, 1030, 1031, 1032, 1020, 1021, 1022})
        QVERIFY(!enabled(&dialog, id));
    QVERIFY(enabled(&dialog, 1019));
    QCOMPARE(text(&dialog, 1019), QString());
    QVERIFY(caches_.busStops.empty());
    QVERIFY(hidden(&dialog, 1028));
}

void TestDialogs::shopKnown()
{
    caches_.shops.EntryFor({1, 199, 0x1234}) = {QStringLiteral("JR東日本リテール"),
                                                QStringLiteral("NEWDAYS渋谷"),
                                                QStringLiteral("レジ2"), QString(), QString()};
    HistoryBlock b = block(199, 70, {0x62, 0x00, 0x12, 0x34}, 1240, 10);
    HistoryRecord record = decodeHistoryBlock(b, caches_.stations, caches_.busStops, caches_.shops);
    record.amount = -120;
    CBpnDetailDlg dialog(record, caches_.shops);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("店舗 詳細"));
    QCOMPARE(text(&dialog, 1073), QStringLiteral("#: 10"));
    QCOMPARE(text(&dialog, 1062), QStringLiteral("2008-3-5 "));
    QCOMPARE(text(&dialog, 1068), QStringLiteral("12:16"));
    QCOMPARE(text(&dialog, 1063), QStringLiteral("物販端末"));
    QCOMPARE(text(&dialog, 1064), QStringLiteral("物販"));
    QCOMPARE(text(&dialog, 1065), QStringLiteral("-120"));
    QCOMPARE(text(&dialog, 1066), QStringLiteral("1240"));
    QCOMPARE(text(&dialog, 1067), QStringLiteral("店舗情報:"));
    QCOMPARE(text(&dialog, 1069), QStringLiteral("(1, 199, 4660)"));
    QCOMPARE(text(&dialog, 1070), QStringLiteral("JR東日本リテール"));
    QCOMPARE(text(&dialog, 1071), QStringLiteral("NEWDAYS渋谷"));
    QCOMPARE(text(&dialog, 1072), QStringLiteral("レジ2"));
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
    QVERIFY(labels.contains(QStringLiteral("注意：\n店舗情報は、必ずしも正確ではありません。")));
    QCOMPARE(CBpnDetailDlg::noteText(),
             QStringLiteral("注意：\r\n店舗情報は、必ずしも正確ではありません。"));
    QCOMPARE(text(&dialog, 1), QStringLiteral("閉じる"));
    QVERIFY(hidden(&dialog, 2));
}

void TestDialogs::shopUnknown()
{
    HistoryRecord record = decodeHistoryBlock(block(200, 70, {0x62, 0x00, 0x00, 0x07}, 1240, 11),
                                              caches_.stations, caches_.busStops, caches_.shops);
    CBpnDetailDlg dialog(record, caches_.shops);
    QCOMPARE(text(&dialog, 1069), QStringLiteral("(1, 200, 7)"));
    for (const int id : {1070, 1071, 1072}) {
        QCOMPARE(text(&dialog, id), QString());
        QVERIFY(enabled(&dialog, id));
    }
    QVERIFY(enabled(&dialog, 1067));
    QVERIFY(caches_.shops.contains({1, 200, 7}));
}

void TestDialogs::detailCommandChoosesDialogByKind_data()
{
    QTest::addColumn<int>("process");
    QTest::addColumn<QString>("dialogClass");
    QTest::addColumn<QString>("title");
    QTest::newRow("rail") << 1 << QStringLiteral("ridelog::CIpnDetailDlg")
                          << QStringLiteral("鉄道・地下鉄駅 詳細");
    QTest::newRow("bus") << 13 << QStringLiteral("ridelog::CIpnDetailDlg")
                         << QStringLiteral("バス停留所 詳細");
    QTest::newRow("shop") << 70 << QStringLiteral("ridelog::CBpnDetailDlg")
                          << QStringLiteral("店舗 詳細");
}

void TestDialogs::detailCommandChoosesDialogByKind()
{
    QFETCH(int, process);
    QFETCH(QString, dialogClass);
    QFETCH(QString, title);
    const HistoryRecord record =
        decodeHistoryBlock(block(199, std::uint8_t(process), {1, 2, 3, 4}, 100, 3),
                           caches_.stations, caches_.busStops, caches_.shops);
    QString openedClass;
    QString openedTitle;
    onNextModal([&](QWidget* modal) {
        if (modal) {
            openedClass = QString::fromLatin1(modal->metaObject()->className());
            openedTitle = modal->windowTitle();
        }
    });
    showRecordDetail(nullptr, &record, caches_.stations, caches_.busStops, caches_.shops);
    QCOMPARE(openedClass, dialogClass);
    QCOMPARE(openedTitle, title);
}

void TestDialogs::detailCommandWithoutRecordOpensNothing()
{
    bool opened = false;
    QTimer guard;
    guard.setInterval(0);
    connect(&guard, &QTimer::timeout, this, [&] {
        if (QApplication::activeModalWidget()) {
            opened = true;
            qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();
        }
    });
    guard.start();
    showRecordDetail(nullptr, nullptr, caches_.stations, caches_.busStops, caches_.shops);
    HistoryRecord noKind;
    noKind.kind = RecordKind::None;
    showRecordDetail(nullptr, &noKind, caches_.stations, caches_.busStops, caches_.shops);
    QTest::qWait(20);
    QVERIFY(!opened);
    QVERIFY(caches_.stations.empty());
}

namespace {

QStandardItemModel* numberedList(int rows, QObject* parent)
{
    auto* model = new QStandardItemModel(0, 7, parent);
    for (int row = 0; row < rows; ++row)
        model->appendRow(new QStandardItem(QString::number(100 - row)));
    return model;
}

QStringList column0(const QAbstractItemModel& model)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, 0).data().toString());
    return texts;
}

void selectRow(QItemSelectionModel& selection, int row)
{
    selection.select(selection.model()->index(row, 0),
                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

} // namespace

void TestDialogs::deleteThreeSelectedRows()
{
    QObject owner;
    QStandardItemModel* model = numberedList(8, &owner);
    QItemSelectionModel selection(model);
    for (const int row : {6, 1, 3})
        selectRow(selection, row);
    QCOMPARE(deleteSelectedRows(*model, selection), 3);
    QCOMPARE(column0(*model),
             (QStringList{QStringLiteral("100"), QStringLiteral("98"), QStringLiteral("96"),
                          QStringLiteral("95"), QStringLiteral("93")}));
}

void TestDialogs::deleteSingleSelectedRowIgnoresCurrentRow()
{
    QObject owner;
    QStandardItemModel* model = numberedList(4, &owner);
    QItemSelectionModel selection(model);
    selection.setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
    selectRow(selection, 2);
    QCOMPARE(deleteSelectedRows(*model, selection), 1);
    QCOMPARE(column0(*model),
             (QStringList{QStringLiteral("100"), QStringLiteral("99"), QStringLiteral("97")}));
}

void TestDialogs::deleteWithNothingSelected()
{
    QObject owner;
    QStandardItemModel* model = numberedList(3, &owner);
    QItemSelectionModel selection(model);
    selection.setCurrentIndex(model->index(1, 0), QItemSelectionModel::NoUpdate);
    QCOMPARE(deleteSelectedRows(*model, selection), 0);
    QCOMPARE(model->rowCount(), 3);
}

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
