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
    qsettings_ = std::make_unique<QSettings>(dir_->filePath(QStringLiteral("trfc.ini")),
                                             QSettings::IniFormat);
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
    QCOMPARE(dialog.windowTitle(), QStringLiteral("表示設定"));
    const QList<QGroupBox*> groups = dialog.findChildren<QGroupBox*>();
    QStringList titles;
    for (const QGroupBox* group : groups)
        titles.append(group->title());
    QCOMPARE(titles, (QStringList{QStringLiteral("鉄道・地下鉄　駅名"), QStringLiteral("バス"),
                                  QStringLiteral("物販")}));
    QVERIFY(titles[0].contains(QChar(0x3000)));

    const ControlTexts boxes{
        {1037, QStringLiteral("会社名を表示する")}, {1038, QStringLiteral("路線名を表示する")},
        {1043, QStringLiteral("会社名を表示する")}, {1044, QStringLiteral("路線名を表示する")},
        {1039, QStringLiteral("店舗名を表示")},     {1040, QStringLiteral("会社名を表示する")},
        {1041, QStringLiteral("店舗名を表示する")}, {1042, QStringLiteral("レジ名")}};
    for (const auto& [id, boxText] : boxes) {
        QCOMPARE(controlText(&dialog, id), boxText);
        QCOMPARE(controlIdOf(findControl(&dialog, id)), id);
    }
    // Each box sits in its group.
    QCOMPARE(findControl(groups[0], 1038)->objectName(), controlObjectName(1038));
    QVERIFY(findControl(groups[1], 1044));
    QVERIFY(findControl(groups[2], 1042));
    QVERIFY(!findControl(groups[0], 1043));

    QCOMPARE(controlText(&dialog, 1), QStringLiteral("設定"));
    QCOMPARE(controlText(&dialog, 2), QStringLiteral("キャンセル"));
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
    QTest::newRow("numbers") << QVariantMap{{QStringLiteral("ipnComShow"), 1},
                                            {QStringLiteral("ipnLinShow"), 0},
                                            {QStringLiteral("busComShow"), 0},
                                            {QStringLiteral("busLinShow"), 7},
                                            {QStringLiteral("bpnShow"), 1},
                                            {QStringLiteral("bpnRegShow"), 1}}
                             << QList<int>{1037, 1044, 1039, 1040, 1041, 1042};
    QTest::newRow("no integers")
        << QVariantMap{{QStringLiteral("ipnLinShow"), QStringLiteral("off")},
                       {QStringLiteral("busComShow"), QStringLiteral("0x0")},
                       {QStringLiteral("bpnShow"), QStringLiteral("yes")},
                       {QStringLiteral("ipnComShow"), QStringLiteral("1.5")}}
        << startStates;
}

void TestSetupDialog::boxesComeFromSettingsFile()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QList<int>, checkedBoxes);
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        qsettings_->setValue(QStringLiteral("Trfc/") + it.key(), it.value());
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
    QTest::newRow("設定") << QStringLiteral("ok");
    QTest::newRow("キャンセル") << QStringLiteral("cancel");
    QTest::newRow("Enter") << QStringLiteral("enter");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("close");
    QTest::newRow("destroyed unclosed") << QStringLiteral("destroy");
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

QTEST_MAIN(TestSetupDialog)
#include "test_dialogs_setup.moc"
