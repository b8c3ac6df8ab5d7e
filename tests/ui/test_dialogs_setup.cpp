// The display settings dialog 表示設定 through its real widgets: its texts, the boxes read from
// the settings file, the shop boxes that follow 店舗名を表示, and storing however it is closed.
#include "dialogcontrols.h"
#include "store/settings.h"
#include "ui/showdatasetupdlg.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

namespace {

// Every box of the dialog, in the order of the groups.
const QList<int> kBoxes{1037, 1038, 1043, 1044, 1039, 1040, 1041, 1042};
// The boxes of the shop parts, enabled only while 店舗名を表示 is checked.
const QList<int> kShopParts{1040, 1041, 1042};

} // namespace

class TestSetupDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void texts();
    void boxesComeFromSettingsFile_data();
    void boxesComeFromSettingsFile();
    void shopShowSwitchesShopParts();
    void storesWhicheverWayClosed_data();
    void storesWhicheverWayClosed();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QSettings> qsettings_;
    std::unique_ptr<TrfcSettings> settings_;
};

void TestSetupDialog::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qsettings_ = std::make_unique<QSettings>(dir_->filePath(u"trfc.ini"_s), QSettings::IniFormat);
    settings_ = std::make_unique<TrfcSettings>(*qsettings_);
}

void TestSetupDialog::cleanup()
{
    settings_.reset();
    qsettings_.reset();
    dir_.reset();
}

void TestSetupDialog::texts()
{
    CShowDataSetupDlg dialog(*settings_);
    QCOMPARE(dialog.windowTitle(), u"表示設定"_s);
    const QList<QGroupBox*> groups = dialog.findChildren<QGroupBox*>();
    QStringList titles;
    for (const QGroupBox* group : groups)
        titles.append(group->title());
    QCOMPARE(titles, (QStringList{u"鉄道・地下鉄　駅名"_s, u"バス"_s, u"物販"_s}));
    QVERIFY(titles[0].contains(QChar(0x3000)));

    const ControlTexts boxes{{1037, u"会社名を表示する"_s}, {1038, u"路線名を表示する"_s},
                             {1043, u"会社名を表示する"_s}, {1044, u"路線名を表示する"_s},
                             {1039, u"店舗名を表示"_s},     {1040, u"会社名を表示する"_s},
                             {1041, u"店舗名を表示する"_s}, {1042, u"レジ名"_s}};
    for (const auto& [id, boxText] : boxes) {
        QCOMPARE(controlText(&dialog, id), boxText);
        QCOMPARE(controlIdOf(findControl(&dialog, id)), id);
    }
    // Each box sits in its group.
    QCOMPARE(findControl(groups[0], 1038)->objectName(), controlObjectName(1038));
    QVERIFY(findControl(groups[1], 1044));
    QVERIFY(findControl(groups[2], 1042));
    QVERIFY(!findControl(groups[0], 1043));

    QCOMPARE(controlText(&dialog, 1), u"設定"_s);
    QCOMPARE(controlText(&dialog, 2), u"キャンセル"_s);
    QVERIFY(findControlAs<QPushButton>(&dialog, 1)->isDefault());
    QVERIFY(!findControlAs<QPushButton>(&dialog, 2)->isDefault());
}

void TestSetupDialog::boxesComeFromSettingsFile_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QList<int>>("checkedBoxes");
    const QList<int> startStates{1038, 1043, 1040, 1041};
    QTest::newRow("nothing stored") << QVariantMap{} << startStates;
    // Any non-zero number is on.
    QTest::newRow("numbers") << QVariantMap{{u"ipnComShow"_s, 1}, {u"ipnLinShow"_s, 0},
                                            {u"busComShow"_s, 0}, {u"busLinShow"_s, 7},
                                            {u"bpnShow"_s, 1},    {u"bpnRegShow"_s, 1}}
                             << QList<int>{1037, 1044, 1039, 1040, 1041, 1042};
    QTest::newRow("no integers") << QVariantMap{{u"ipnLinShow"_s, u"off"_s},
                                                {u"busComShow"_s, u"0x0"_s},
                                                {u"bpnShow"_s, u"yes"_s},
                                                {u"ipnComShow"_s, u"1.5"_s}}
                                 << startStates;
}

void TestSetupDialog::boxesComeFromSettingsFile()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QList<int>, checkedBoxes);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        qsettings_->setValue(u"Trfc/"_s + it.key(), it.value());
    qsettings_->sync();
    CShowDataSetupDlg dialog(*settings_);
    for (const int id : kBoxes)
        QVERIFY2(boxChecked(&dialog, id) == checkedBoxes.contains(id),
                 qPrintable(QString::number(id)));
    for (const int id : kShopParts)
        QCOMPARE(controlEnabled(&dialog, id), checkedBoxes.contains(1039));
    QVERIFY(controlEnabled(&dialog, 1039));
}

void TestSetupDialog::shopShowSwitchesShopParts()
{
    CShowDataSetupDlg dialog(*settings_);
    dialog.show();
    auto* shopShow = findControlAs<QCheckBox>(&dialog, 1039);
    QTest::mouseClick(shopShow, Qt::LeftButton);
    QVERIFY(shopShow->isChecked());
    for (const int id : kShopParts)
        QVERIFY(controlEnabled(&dialog, id));
    shopShow->click();
    QVERIFY(!shopShow->isChecked());
    for (const int id : kShopParts)
        QVERIFY(!controlEnabled(&dialog, id));
    // Other boxes leave the shop parts alone.
    findControlAs<QCheckBox>(&dialog, 1037)->click();
    QVERIFY(!controlEnabled(&dialog, 1040));
}

void TestSetupDialog::storesWhicheverWayClosed_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("設定") << u"ok"_s;
    QTest::newRow("キャンセル") << u"cancel"_s;
    QTest::newRow("Enter") << u"enter"_s;
    QTest::newRow("Escape") << u"escape"_s;
    QTest::newRow("close box") << u"close"_s;
    QTest::newRow("destroyed unclosed") << u"destroy"_s;
}

void TestSetupDialog::storesWhicheverWayClosed()
{
    QFETCH(QString, how);
    {
        auto dialog = std::make_unique<CShowDataSetupDlg>(*settings_);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        // Every box the other way round from its start state.
        for (const int id : kBoxes)
            findControlAs<QCheckBox>(dialog.get(), id)->click();
        // Unchecking 店舗名を表示 again keeps the (now disabled) shop boxes' states.
        findControlAs<QCheckBox>(dialog.get(), 1039)->click();
        QVERIFY(!controlEnabled(dialog.get(), 1040));
        QVERIFY(!settings_->readInteger(u"ipnComShow"_s).has_value());

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
    QVERIFY(!settings_->readInteger(u"zanViewM"_s).has_value());
}

QTEST_MAIN(TestSetupDialog)
#include "test_dialogs_setup.moc"
