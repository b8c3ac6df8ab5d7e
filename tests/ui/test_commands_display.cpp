// The window's display commands through its real widgets: the display settings dialog opened
// from the menu, and the detail of the chosen row by the menu command and by Alt+Enter.
#include "commandfixture.h"
#include "dialogcontrols.h"
#include "support/cardblocks.h"
#include "ui/commandids.h"
#include "ui/showdatasetupdlg.h"

#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

class TestDisplayCommands : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void settingsDialogCancelStoresAndRerenders();
    void settingsDialogShowsSettingsFileNotFlags();
    void detailOfTheChosenRow_data();
    void detailOfTheChosenRow();
    void altEnterOpensTheDetailAndKeepsTheWindow();
};

void TestDisplayCommands::settingsDialogCancelStoresAndRerenders()
{
    putCard({shopBlock(4, 1880), busBlock(3, 2000), railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    QCOMPARE(columnTexts(*dlg, 4),
             (QStringList{u" "_s, u"渋谷駅前(都営バス)"_s, u"渋谷(東横線)"_s, u"渋谷(東横線)"_s}));

    bool setupOpened = false;
    onNextModal(
        [&](QWidget* modal) {
            setupOpened = qobject_cast<CShowDataSetupDlg*>(modal) != nullptr;
            if (!setupOpened)
                return;
            findControlAs<QCheckBox>(modal, 1037)->click(); // rail company on
            findControlAs<QCheckBox>(modal, 1044)->click(); // bus route on
            findControlAs<QCheckBox>(modal, 1039)->click(); // shop information on
        },
        2);
    QVERIFY(dlg->triggerCommand(ids::ShowDataSetup));
    QVERIFY(setupOpened);

    for (const auto& [name, value] : {std::pair{u"ipnComShow"_s, 1}, std::pair{u"busLinShow"_s, 1},
                                      std::pair{u"bpnShow"_s, 1}, std::pair{u"ipnLinShow"_s, 1}})
        QCOMPARE(inside(*dlg).settings().integer(name, -1), value);
    QVERIFY(dlg->commandAction(ids::RailCompany)->isChecked());
    QVERIFY(dlg->commandAction(ids::ShopShow)->isChecked());
    QVERIFY(dlg->commandAction(ids::ShopCompany)->isEnabled());
    QCOMPARE(columnTexts(*dlg, 4),
             (QStringList{u"NEWDAYS(JR東日本リテール)"_s, u"渋谷駅前(都営バス：渋88)"_s,
                          u"渋谷(東急：東横線)"_s, u"渋谷(東急：東横線)"_s}));
    QCOMPARE(cell(*dlg, 2, 5), u"新宿(JR東日本：山手線)"_s);
}

void TestDisplayCommands::settingsDialogShowsSettingsFileNotFlags()
{
    auto dlg = makeDialog();
    // Changed behind the running program: the dialog shows the file, the menu the old flag.
    ini_->setValue(u"Trfc/ipnComShow"_s, 1);
    QVERIFY(!dlg->commandAction(ids::RailCompany)->isChecked());
    bool railCompanyBox = false;
    onNextModal([&](QWidget* modal) {
        if (modal)
            railCompanyBox = boxChecked(modal, 1037);
    });
    QVERIFY(dlg->triggerCommand(ids::ShowDataSetup));
    QVERIFY(railCompanyBox);
    QVERIFY(dlg->commandAction(ids::RailCompany)->isChecked());
}

// The command opens the dialog of the row's kind, with the window's names and the amount the
// list shows (0 for the oldest record); without a chosen row it opens nothing. What each dialog
// greys or hides has tests of its own.
void TestDisplayCommands::detailOfTheChosenRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<ControlTexts>("texts"); // control id 0 is the title; empty: no dialog
    QTest::newRow("rail without exit") << 2 << ControlTexts{{0, u"鉄道・地下鉄駅 詳細"_s},
                                                            {1013, u"#: 2"_s},
                                                            {1018, u"160"_s},
                                                            {1017, u"2210"_s},
                                                            {1019, u"( 0, 37, 12 )"_s},
                                                            {1021, u"東横線"_s},
                                                            {1023, QString()}};
    QTest::newRow("oldest rail") << 3 << ControlTexts{{1018, u"0"_s}, {1026, u"新宿"_s}};
    QTest::newRow("bus") << 1
                         << ControlTexts{{0, u"バス停留所 詳細"_s},
                                         {1018, u"210"_s},
                                         {1019, u"( 4660, 291 )"_s},
                                         {1021, u"渋88"_s},
                                         {1022, u"渋谷駅前"_s}};
    QTest::newRow("shop") << 0
                          << ControlTexts{{0, u"店舗 詳細"_s},
                                          {1069, u"(1, 199, 7)"_s},
                                          {1068, u"12:16"_s},
                                          {1065, u"120"_s},
                                          {1071, u"NEWDAYS"_s}};
    QTest::newRow("no row chosen") << -1 << ControlTexts{};
}

void TestDisplayCommands::detailOfTheChosenRow()
{
    QFETCH(int, row);
    QFETCH(ControlTexts, texts);
    putCard({shopBlock(4, 1880), busBlock(3, 2000), railBlock(2, 2210, 0), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    if (row >= 0) {
        selectRows(*dlg, {row});
        QVERIFY(inside(*dlg).showHistoryContextMenu(QPoint(100, 100)));
        inside(*dlg).historyContextMenu()->close();
    }
    QVERIFY((inside(*dlg).selectedRecord() != nullptr) == (row >= 0));
    bool looked = false;
    bool opened = false;
    ControlTexts shown;
    onNextModal(
        [&](QWidget* modal) {
            looked = true;
            opened = modal != nullptr;
            if (!modal)
                return;
            for (const auto& [id, expected] : texts)
                shown.append({id, id == 0 ? modal->windowTitle() : controlText(modal, id)});
        },
        1);
    QVERIFY(dlg->triggerCommand(ids::ShowDetail));
    // An open dialog is looked at inside its own event loop, before the command returns.
    QVERIFY(looked || texts.isEmpty());
    QTRY_VERIFY(looked);
    QCOMPARE(opened, !texts.isEmpty());
    QCOMPARE(shown, texts);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

// Alt+Enter opens the detail of the current row; Enter alone still closes the window.
void TestDisplayCommands::altEnterOpensTheDetailAndKeepsTheWindow()
{
    putCard({busBlock(2, 2000), railBlock(1, 2210)});
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    inside(*dlg).historyList()->setCurrentIndex(inside(*dlg).historyModel()->index(1, 0));
    inside(*dlg).historyList()->setFocus();
    QString opened;
    onNextModal([&opened](QWidget* modal) { opened = modal ? modal->windowTitle() : QString(); },
                2);
    QTest::keyClick(inside(*dlg).historyList(), Qt::Key_Return, Qt::AltModifier);
    QCOMPARE(opened, u"鉄道・地下鉄駅 詳細"_s);
    QVERIFY(dlg->isVisible());
    QTest::keyClick(inside(*dlg).historyList(), Qt::Key_Return);
    QTRY_VERIFY(!dlg->isVisible());
}

QTEST_MAIN(TestDisplayCommands)
#include "test_commands_display.moc"
