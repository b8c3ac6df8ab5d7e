// The everyday commands of the main window through its real widgets: the display settings,
// the detail dialogs, the export and the clearing commands.
#include "../names/fakenameserver.h"
#include "namedata/cp932.h"
#include "store/cardlibrary.h"
#include "store/historystore.h"
#include "support/cardblocks.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "ui/bpndetaildlg.h"
#include "ui/commandids.h"
#include "ui/controlid.h"
#include "ui/ipndetaildlg.h"
#include "ui/messagebox.h"
#include "ui/ridelogdlg.h"
#include "ui/savefiledialog.h"
#include "ui/showdatasetupdlg.h"
#include "windowfixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <functional>
#include <memory>

using namespace ridelog;
using ridelog::test::busBlock;
using ridelog::test::cell;
using ridelog::test::kReadFailed;
using ridelog::test::railBlock;
using ridelog::test::shopBlock;

using ridelog::test::fileBytes;

namespace {

const QString kIdm = ridelog::test::kCardIdm;
const QString kNoDatabase = QStringLiteral("データベースにアクセスできません");

const StationKey kShibuya{0, 0x25, 0x0C};
const StationKey kShinjuku{0, 0x25, 0x10};
const BusStopKey kStop{4660, 291};
const ShopKey kShop{1, 199, 7};

QStringList column(const CRidelogDlg& dlg, int index)
{
    QStringList texts;
    for (int row = 0; row < test::inside(dlg).historyModel()->rowCount(); ++row)
        texts << cell(dlg, row, index);
    return texts;
}

QString controlText(QWidget* root, int id)
{
    QWidget* control = findControl(root, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    return QStringLiteral("<no text control %1>").arg(id);
}

// Runs inspect on the modal dialog that opens next and closes it with the given button.
void onNextModal(std::function<void(QWidget*)> inspect, int closeButtonId = 2)
{
    QTimer::singleShot(0, qApp, [inspect, closeButtonId] {
        QWidget* modal = QApplication::activeModalWidget();
        inspect(modal);
        if (!modal)
            return;
        if (auto* button = findControlAs<QPushButton>(modal, closeButtonId))
            button->click();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
}

// A station-name server that holds every answer until it is told to send it.
class HeldNameServer
{
public:
    explicit HeldNameServer(QByteArray answer)
        : answer_(std::move(answer))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { requests_[socket] += socket->readAll(); });
            }
        });
    }
    bool listening() const { return server_.isListening(); }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort()));
    }
    // Requests whose head has arrived and that wait for their answer.
    int waiting() const
    {
        int count = 0;
        for (const QByteArray& request : requests_)
            count += request.contains("\r\n\r\n");
        return count;
    }
    void release()
    {
        for (auto it = requests_.begin(); it != requests_.end(); ++it) {
            it.key()->write(FakeNameServer::response(200, answer_));
            it.key()->disconnectFromHost();
        }
        requests_.clear();
    }

private:
    QTcpServer server_;
    QByteArray answer_;
    QHash<QTcpSocket*, QByteArray> requests_;
};

} // namespace

class TestCommands : public QObject, ridelog::test::WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void saveDialogTitleFolderAndName();
    void altEnterOpensTheDetailAndKeepsTheWindow();
    void hidingRowsSaysWhatItDid();

    // Display settings
    void emptySettingsGiveStartStates();
    void nonIntegerValueCountsAsDefault();
    void balanceToggleTwiceReturnsListAndStoresZero();
    void settingsDialogCancelStoresAndRerenders();
    void settingsDialogShowsSettingsFileNotFlags();

    // Detail dialogs
    void detailOfRailWithoutExit();
    void detailOfStationWithUnknownLine();
    void detailOfBusRecord();
    void detailOfUnknownShop();
    void detailWithoutSelectedRecordOpensNothing();

    // Export
    void exportItemFollowsReads();
    void exportWritesListAsShown();
    void exportKeepsSelectedFormatForOtherExtension();
    void exportToReadOnlyTarget();

    // Clearing
    void clearStationNamesShowsCodes();
    void clearShopNamesKeepsRailAndBus();
    void clearHistoryKeepsWhatCardHolds();
    void clearHistoryWithCardRemoved();
    void clearHistoryBeforeFirstReadShowsEngineText();
    void deleteThreeSelectedRows();
    void withoutDatabaseNothingChanges_data();
    void withoutDatabaseNothingChanges();
    void clearingCancelsRunningRefresh();
    void deletingRowsWhileRefreshRuns();

private:
    std::unique_ptr<CRidelogDlg> makeDialog();
    void knowNames(CRidelogDlg& dlg);
    std::int64_t tableRows(CRidelogDlg& dlg, const QString& table);
    void selectRows(CRidelogDlg& dlg, std::initializer_list<int> rows);
    void openDetailOfRow(CRidelogDlg& dlg, int row, std::function<void(QWidget*)> inspect);
};

void TestCommands::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
    SaveFileDialog::setScripted(true);
}

void TestCommands::cleanup()
{
    SaveFileDialog::setScripted(false);
    MessageBox::setCapturing(false);
    tearDownWindow();
}

std::unique_ptr<CRidelogDlg> TestCommands::makeDialog()
{
    auto dlg = makeWindow();
    // A card on the reader at start-up is read as soon as the reader reports it; let that
    // read be over before the test goes on, so that it does not land in the middle of one.
    if (QFile::exists(cardsDir_ + QStringLiteral("/card.card")) &&
        !QTest::qWaitFor([&] { return test::inside(*dlg).historyModel()->rowCount() > 0; }, 5000)) {
        qWarning("the reader did not report the card put on before start-up");
    }
    return dlg;
}

// Names of every kind, in the caches and in the name tables.
void TestCommands::knowNames(CRidelogDlg& dlg)
{
    NameCaches& caches = dlg.session().caches();
    caches.stations.EntryFor(kShibuya) = {QStringLiteral("東急"), QStringLiteral("東横"),
                                          QStringLiteral("渋谷"), QStringLiteral("渋谷(東横線)")};
    caches.stations.EntryFor(kShinjuku) = {QStringLiteral("JR東日本"), QStringLiteral("山手"),
                                           QStringLiteral("新宿"), QStringLiteral("新宿(山手線)")};
    caches.busStops.EntryFor(kStop) = {QStringLiteral("都営バス"), QStringLiteral("渋谷駅前"),
                                       QStringLiteral("渋88"),
                                       QStringLiteral("渋谷駅前(都営バス)")};
    caches.shops.EntryFor(kShop) = {QStringLiteral("JR東日本リテール"), QStringLiteral("NEWDAYS"),
                                    QString(), QString(), QStringLiteral(" ")};
    QVERIFY(dlg.session().store().WriteBackNames(caches));
    dlg.session().store().closeDatabase();
}

std::int64_t TestCommands::tableRows(CRidelogDlg& dlg, const QString& table)
{
    Database db = Database::open(dlg.session().store().databasePath(),
                                 Database::OpenMode::ExistingFile, 1000);
    if (!db.tableExists(table))
        return -1;
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(table)));
    count.step();
    return count.integerAt(0);
}

void TestCommands::selectRows(CRidelogDlg& dlg, std::initializer_list<int> rows)
{
    QItemSelectionModel* selection = test::inside(dlg).historyList()->selectionModel();
    selection->clearSelection();
    for (const int row : rows)
        selection->select(test::inside(dlg).historyModel()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestCommands::openDetailOfRow(CRidelogDlg& dlg, int row, std::function<void(QWidget*)> inspect)
{
    selectRows(dlg, {row});
    QVERIFY(test::inside(dlg).showHistoryContextMenu(QPoint(100, 100)));
    test::inside(dlg).historyContextMenu()->close();
    bool opened = false;
    onNextModal(
        [&](QWidget* modal) {
            opened = modal != nullptr;
            if (modal)
                inspect(modal);
        },
        1);
    QVERIFY(dlg.triggerCommand(ids::ShowDetail));
    QVERIFY(opened);
}

// ------------------------------------------------------------------------ Display settings

void TestCommands::emptySettingsGiveStartStates()
{
    auto dlg = makeDialog();
    auto checked = [&](int id) { return dlg->commandAction(id)->isChecked(); };
    auto enabled = [&](int id) { return dlg->commandAction(id)->isEnabled(); };
    QVERIFY(checked(ids::RailLine) && !checked(ids::RailCompany));
    QVERIFY(checked(ids::BusCompany) && !checked(ids::BusRoute));
    QVERIFY(!checked(ids::ShopShow));
    QVERIFY(checked(ids::ShopCompany) && !enabled(ids::ShopCompany));
    QVERIFY(checked(ids::ShopName) && !enabled(ids::ShopName));
    QVERIFY(!checked(ids::ShopRegister) && !enabled(ids::ShopRegister));
    QVERIFY(!checked(ids::BalanceView));
    QVERIFY(!test::inside(*dlg).isBalanceBarVisible());
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 0);

    QList<bool> boxes;
    onNextModal([&](QWidget* modal) {
        for (const int id : {1037, 1038, 1043, 1044, 1039, 1040, 1041, 1042})
            boxes << findControlAs<QCheckBox>(modal, id)->isChecked();
        boxes << findControl(modal, 1040)->isEnabled();
    });
    QVERIFY(dlg->triggerCommand(ids::ShowDataSetup));
    QCOMPARE(boxes, (QList<bool>{false, true, true, false, false, true, true, false, false}));
}

void TestCommands::nonIntegerValueCountsAsDefault()
{
    ini_->setValue(QStringLiteral("Trfc/zanViewM"), QStringLiteral("yes"));
    ini_->setValue(QStringLiteral("Trfc/ipnLinShow"), QStringLiteral("off"));
    ini_->setValue(QStringLiteral("Trfc/busComShow"), QString());
    ini_->setValue(QStringLiteral("Trfc/bpnShow"), QStringLiteral("1x"));
    auto dlg = makeDialog();
    QVERIFY(!dlg->commandAction(ids::BalanceView)->isChecked());
    QVERIFY(!test::inside(*dlg).isBalanceBarVisible());
    QVERIFY(dlg->commandAction(ids::RailLine)->isChecked());
    QVERIFY(dlg->commandAction(ids::BusCompany)->isChecked());
    QVERIFY(!dlg->commandAction(ids::ShopShow)->isChecked());
    QVERIFY(!dlg->commandAction(ids::ShopCompany)->isEnabled());
}

void TestCommands::balanceToggleTwiceReturnsListAndStoresZero()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QRect before = test::inside(*dlg).historyList()->geometry();
    QVERIFY(dlg->triggerCommand(ids::BalanceView));
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("zanViewM"), -1), 1);
    QVERIFY(test::inside(*dlg).balanceField()->isVisible());
    QCOMPARE(test::inside(*dlg).historyList()->geometry().top(), 29);
    QVERIFY(dlg->triggerCommand(ids::BalanceView));
    QCOMPARE(test::inside(*dlg).historyList()->geometry(), before);
    QVERIFY(!test::inside(*dlg).balanceField()->isVisible());
    QVERIFY(!dlg->commandAction(ids::BalanceView)->isChecked());
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("zanViewM"), -1), 0);
}

void TestCommands::settingsDialogCancelStoresAndRerenders()
{
    putCard({shopBlock(4, 1880), busBlock(3, 2000), railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    QCOMPARE(column(*dlg, 4),
             (QStringList{QStringLiteral(" "), QStringLiteral("渋谷駅前(都営バス)"),
                          QStringLiteral("渋谷(東横線)"), QStringLiteral("渋谷(東横線)")}));

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

    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("ipnComShow"), -1), 1);
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("busLinShow"), -1), 1);
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("bpnShow"), -1), 1);
    QCOMPARE(test::inside(*dlg).settings().integer(QStringLiteral("ipnLinShow"), -1), 1);
    QVERIFY(dlg->commandAction(ids::RailCompany)->isChecked());
    QVERIFY(dlg->commandAction(ids::ShopShow)->isChecked());
    QVERIFY(dlg->commandAction(ids::ShopCompany)->isEnabled());
    QCOMPARE(column(*dlg, 4), (QStringList{QStringLiteral("NEWDAYS(JR東日本リテール)"),
                                           QStringLiteral("渋谷駅前(都営バス：渋88)"),
                                           QStringLiteral("渋谷(東急：東横線)"),
                                           QStringLiteral("渋谷(東急：東横線)")}));
    QCOMPARE(cell(*dlg, 2, 5), QStringLiteral("新宿(JR東日本：山手線)"));
}

void TestCommands::settingsDialogShowsSettingsFileNotFlags()
{
    auto dlg = makeDialog();
    // Changed behind the running program: the dialog shows the file, the menu the old flag.
    ini_->setValue(QStringLiteral("Trfc/ipnComShow"), 1);
    QVERIFY(!dlg->commandAction(ids::RailCompany)->isChecked());
    bool railCompanyBox = false;
    onNextModal([&](QWidget* modal) {
        if (modal)
            railCompanyBox = findControlAs<QCheckBox>(modal, 1037)->isChecked();
    });
    QVERIFY(dlg->triggerCommand(ids::ShowDataSetup));
    QVERIFY(railCompanyBox);
    QVERIFY(dlg->commandAction(ids::RailCompany)->isChecked());
}

// -------------------------------------------------------------------------- Detail dialogs

void TestCommands::detailOfRailWithoutExit()
{
    putCard({railBlock(2, 2210, 0), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    openDetailOfRow(*dlg, 0, [](QWidget* modal) {
        QVERIFY(qobject_cast<CIpnDetailDlg*>(modal));
        QCOMPARE(modal->windowTitle(), QStringLiteral("鉄道・地下鉄駅 詳細"));
        QCOMPARE(controlText(modal, 1013), QStringLiteral("#: 2"));
        QCOMPARE(controlText(modal, 1018), QStringLiteral("160"));
        QCOMPARE(controlText(modal, 1017), QStringLiteral("2210"));
        QCOMPARE(controlText(modal, 1019), QStringLiteral("( 0, 37, 12 )"));
        QCOMPARE(controlText(modal, 1021), QStringLiteral("東横線"));
        QCOMPARE(controlText(modal, 1023), QString());
        QVERIFY(findControl(modal, 1023)->isEnabled());
        for (const int id : {1028, 1033, 1034, 1035, 1036, 1024, 1025, 1026})
            QVERIFY(!findControl(modal, id)->isEnabled());
    });
    // The oldest record shows 0 as its amount.
    openDetailOfRow(*dlg, 1, [](QWidget* modal) {
        QCOMPARE(controlText(modal, 1018), QStringLiteral("0"));
        QCOMPARE(controlText(modal, 1026), QStringLiteral("新宿"));
    });
}

void TestCommands::detailOfStationWithUnknownLine()
{
    putCard({railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->session().caches().stations.EntryFor(kShibuya) = {
        QStringLiteral("東急"), QString(), QStringLiteral("渋谷"), QStringLiteral("渋谷")};
    dlg->readCard();
    openDetailOfRow(*dlg, 0, [](QWidget* modal) {
        QCOMPARE(controlText(modal, 1020), QStringLiteral("東急"));
        QCOMPARE(controlText(modal, 1022), QStringLiteral("渋谷"));
        QVERIFY(!findControl(modal, 1021)->isEnabled());
        QVERIFY(!findControl(modal, 1031)->isEnabled());
        QVERIFY(findControl(modal, 1020)->isEnabled());
        // The exit station is not known at all.
        QCOMPARE(controlText(modal, 1023), QStringLiteral("( 0, 37, 16 )"));
        QVERIFY(!findControl(modal, 1024)->isEnabled());
    });
}

void TestCommands::detailOfBusRecord()
{
    putCard({busBlock(2, 2000), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    openDetailOfRow(*dlg, 0, [](QWidget* modal) {
        QVERIFY(qobject_cast<CIpnDetailDlg*>(modal));
        QCOMPARE(modal->windowTitle(), QStringLiteral("バス停留所 詳細"));
        QCOMPARE(controlText(modal, 1019), QStringLiteral("( 4660, 291 )"));
        QCOMPARE(controlText(modal, 1031), QStringLiteral("路線名："));
        QCOMPARE(controlText(modal, 1032), QStringLiteral("停留所："));
        QCOMPARE(controlText(modal, 1021), QStringLiteral("渋88"));
        QCOMPARE(controlText(modal, 1022), QStringLiteral("渋谷駅前"));
        for (const int id : {1028, 1023, 1024, 1025, 1026, 1033, 1034, 1035, 1036})
            QVERIFY(!findControl(modal, id)->isVisible());
    });
}

void TestCommands::detailOfUnknownShop()
{
    putCard({shopBlock(2, 2250), railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->readCard();
    openDetailOfRow(*dlg, 0, [](QWidget* modal) {
        QVERIFY(qobject_cast<CBpnDetailDlg*>(modal));
        QCOMPARE(modal->windowTitle(), QStringLiteral("店舗 詳細"));
        QCOMPARE(controlText(modal, 1069), QStringLiteral("(1, 199, 7)"));
        QCOMPARE(controlText(modal, 1068), QStringLiteral("12:16"));
        QCOMPARE(controlText(modal, 1065), QStringLiteral("120"));
        for (const int id : {1070, 1071, 1072}) {
            QCOMPARE(controlText(modal, id), QString());
            QVERIFY(findControl(modal, id)->isEnabled());
        }
    });
}

void TestCommands::detailWithoutSelectedRecordOpensNothing()
{
    putCard({railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->readCard();
    QVERIFY(test::inside(*dlg).selectedRecord() == nullptr);
    bool opened = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            opened = true;
            modal->reject();
        }
    });
    watch.start(0);
    QVERIFY(dlg->triggerCommand(ids::ShowDetail));
    QTest::qWait(20);
    QVERIFY(!opened);
}

// ---------------------------------------------------------------------------------- Export

void TestCommands::exportItemFollowsReads()
{
    auto dlg = makeDialog();
    QAction* save = dlg->commandAction(ids::SaveToFile);
    QVERIFY(!save->isEnabled());
    QVERIFY(!dlg->triggerCommand(ids::SaveToFile));
    QVERIFY(!SaveFileDialog::lastRequest().has_value());
    // A card without history blocks of a known terminal: nothing to save.
    putCard({HistoryBlock{}});
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 0);
    QVERIFY(!save->isEnabled());
    putCard({railBlock(1, 2370)});
    dlg->readCard();
    QVERIFY(save->isEnabled());
    SaveFileDialog::setNextAnswer(std::nullopt);
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QVERIFY(SaveFileDialog::lastRequest().has_value());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

// The save dialog has its title, proposes the card's name with its dates, opens where the last
// file went (kept apart from the integer values) and the status bar says where the file went.
void TestCommands::saveDialogTitleFolderAndName()
{
    putCard({railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    QVERIFY(CardLibrary(dlg->session().store().databasePath())
                .renameCard(kIdm, QStringLiteral("出張/経費: 3月")));
    const QString folder = dir_->filePath(QStringLiteral("exports"));
    QVERIFY(QDir().mkpath(folder));
    SaveFileDialog::setNextAnswer(SaveFileAnswer{folder + QStringLiteral("/march.csv"), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    const SaveFileRequest first = *SaveFileDialog::lastRequest();
    QCOMPARE(first.title, QStringLiteral("ファイルに保存"));
    QCOMPARE(first.initialName, QStringLiteral("出張_経費_ 3月_2008-03-05_2008-03-05"));
    QVERIFY(test::inside(*dlg).statusBar()->currentMessage().contains(QStringLiteral("march.csv")));
    QTRY_VERIFY_WITH_TIMEOUT(test::inside(*dlg).statusBar()->currentMessage().isEmpty(), 8000);
    QVERIFY(!test::inside(*dlg).statusPane(0)->isHidden()); // the panes are back

    SaveFileDialog::setNextAnswer(std::nullopt); // a cancel keeps the folder
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QCOMPARE(SaveFileDialog::lastRequest()->directory, folder);
    QVERIFY(test::inside(*dlg).statusBar()->currentMessage().isEmpty());
    QVERIFY(test::inside(*dlg).settings().save());
    QCOMPARE(ini_->value(QStringLiteral("SaveDialog/folder")).toString(), folder);
    QVERIFY(!ini_->contains(QStringLiteral("Trfc/folder")));
}

// Alt+Enter opens the detail of the current row; Enter alone still closes the window.
void TestCommands::altEnterOpensTheDetailAndKeepsTheWindow()
{
    putCard({busBlock(2, 2000), railBlock(1, 2210)});
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    test::inside(*dlg).historyList()->setCurrentIndex(
        test::inside(*dlg).historyModel()->index(1, 0));
    test::inside(*dlg).historyList()->setFocus();
    QString opened;
    onNextModal([&opened](QWidget* modal) { opened = modal ? modal->windowTitle() : QString(); });
    QTest::keyClick(test::inside(*dlg).historyList(), Qt::Key_Return, Qt::AltModifier);
    QCOMPARE(opened, QStringLiteral("鉄道・地下鉄駅 詳細"));
    QVERIFY(dlg->isVisible());
    QTest::keyClick(test::inside(*dlg).historyList(), Qt::Key_Return);
    QTRY_VERIFY(!dlg->isVisible());
}

void TestCommands::hidingRowsSaysWhatItDid()
{
    putCard({railBlock(3, 2050), railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    QCOMPARE(dlg->commandAction(ids::DeleteRows)->text(), QStringLiteral("一覧から隠す(&L)"));
    selectRows(*dlg, {0, 2});
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(column(*dlg, 0), QStringList{QStringLiteral("2")});
    QVERIFY(test::inside(*dlg).statusBar()->currentMessage().startsWith(
        QStringLiteral("2 行を一覧から隠しました")));
    // The stored history keeps them: the next read shows them again.
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
}

void TestCommands::exportWritesListAsShown()
{
    putCard({shopBlock(5, 1880), busBlock(4, 2000), railBlock(3, 2210), railBlock(2, 2370, 0),
             railBlock(1, 2530)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    // A name from the server with a comma in it.
    dlg->session().caches().stations.EntryFor(kShinjuku).nm =
        QStringLiteral("新宿(JR東日本,山手線)");
    dlg->readCard();
    // Row 3 (serial 2) goes from the list before the export.
    selectRows(*dlg, {3});
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(column(*dlg, 0), (QStringList{QStringLiteral("5"), QStringLiteral("4"),
                                           QStringLiteral("3"), QStringLiteral("1")}));

    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("history.CSV")), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QCOMPARE(SaveFileDialog::lastRequest()->initialName,
             kIdm + QStringLiteral("_2008-03-05_2008-03-05"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    const QByteArray csv = fileBytes(dir_->filePath(QStringLiteral("history.CSV")));
    const QList<QByteArray> lines = csv.split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < 4; ++i)
        QVERIFY(lines[i].endsWith('\r'));
    // Shop information off: one blank between commas.
    QVERIFY(lines[0].startsWith("5,2008-3-5,"));
    QCOMPARE(lines[0].split(',').at(4), QByteArray(" "));
    // The rail row, to the byte: 渋谷(東横線), the quoted name with its comma, the amount.
    QCOMPARE(lines[2],
             QByteArray("3,2008-3-5,\x89\xfc\x8e\x44\x8b\x40,\x89\x5e\x92\xc0\x8e\x78\x95\xa5,"
                        "\x8f\x61\x92\x4a(\x93\x8c\x89\xa1\x90\xfc),"
                        "\"\x90\x56\x8f\x68(JR\x93\x8c\x93\xfa\x96\x7b,\x8e\x52\x8e\xe8\x90\xfc)\","
                        "160\r"));
    // The oldest row shows its balance in parentheses.
    QVERIFY(lines[3].startsWith("1,"));
    QVERIFY(lines[3].endsWith(",(2530)\r"));
    QVERIFY(!csv.contains("\n2,"));

    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("history.TxT")), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    const QByteArray txt = fileBytes(dir_->filePath(QStringLiteral("history.TxT")));
    QVERIFY(txt.startsWith("5 2008-3-5 "));
    QVERIFY(txt.contains(
        "\x90\x56\x8f\x68(JR\x93\x8c\x93\xfa\x96\x7b,\x8e\x52\x8e\xe8\x90\xfc) 160\r\n"));
    QCOMPARE(txt.count("\r\n"), 4);
    QCOMPARE(txt.count('\n'), 4);
}

void TestCommands::exportKeepsSelectedFormatForOtherExtension()
{
    putCard({railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->readCard();
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("history.dat")), 1});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QCOMPARE(fileBytes(dir_->filePath(QStringLiteral("history.dat"))),
             QByteArray("1 2008-3-5 \x89\xfc\x8e\x44\x8b\x40 \x89\x5e\x92\xc0\x8e\x78\x95\xa5 "
                        "(0, 37, 12) (0, 37, 16) (2370)\r\n"));
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(kIdm), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QVERIFY(fileBytes(dir_->filePath(kIdm + QStringLiteral(".csv"))).startsWith("1,2008-3-5,"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestCommands::exportToReadOnlyTarget()
{
    putCard({railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->readCard();
    const QString path = dir_->filePath(QStringLiteral("history.csv"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("kept\r\n");
    }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    SaveFileDialog::setNextAnswer(SaveFileAnswer{path, 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QCOMPARE(
        MessageBox::capturedMessages(),
        QStringList{QStringLiteral("ファイルを作成できません。\r\n書き込む権限がありません。\r\n") +
                    path});
    QCOMPARE(fileBytes(path), QByteArray("kept\r\n"));
}

// -------------------------------------------------------------------------------- Clearing

void TestCommands::clearStationNamesShowsCodes()
{
    putCard({busBlock(3, 2000), railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    QCOMPARE(cell(*dlg, 1, 4), QStringLiteral("渋谷(東横線)"));
    QVERIFY(dlg->triggerCommand(ids::ClearStationNames));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QCOMPARE(column(*dlg, 0),
             (QStringList{QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")}));
    QCOMPARE(cell(*dlg, 1, 4), QStringLiteral("(0, 37, 12)"));
    QCOMPARE(cell(*dlg, 1, 5), QStringLiteral("(0, 37, 16)"));
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("渋谷駅前(都営バス)"));
    QCOMPARE(tableRows(*dlg, QStringLiteral("ipn")), 0);
    QCOMPARE(tableRows(*dlg, QStringLiteral("bus")), 1);
    QCOMPARE(tableRows(*dlg, QStringLiteral("bpn")), 1);
    QVERIFY(dlg->session().caches().stations.EntryFor(kShibuya).an.isEmpty());
}

void TestCommands::clearShopNamesKeepsRailAndBus()
{
    ini_->setValue(QStringLiteral("Trfc/bpnShow"), 1);
    putCard({shopBlock(3, 1880), busBlock(2, 2000), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    test::inside(*dlg).refreshShopNames();
    dlg->readCard();
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("NEWDAYS(JR東日本リテール)"));
    QVERIFY(dlg->triggerCommand(ids::ClearShopNames));
    QCOMPARE(cell(*dlg, 0, 4), QStringLiteral("(1, 199, 7)"));
    QCOMPARE(cell(*dlg, 1, 4), QStringLiteral("渋谷駅前(都営バス)"));
    QCOMPARE(cell(*dlg, 2, 4), QStringLiteral("渋谷(東横線)"));
    QCOMPARE(tableRows(*dlg, QStringLiteral("bpn")), 0);
    QCOMPARE(tableRows(*dlg, QStringLiteral("ipn")), 2);
    QCOMPARE(tableRows(*dlg, QStringLiteral("bus")), 1);
    QCOMPARE(dlg->session().caches().stations.EntryFor(kShinjuku).sn, QStringLiteral("新宿"));
    QCOMPARE(dlg->session().caches().busStops.EntryFor(kStop).sn, QStringLiteral("渋88"));
}

void TestCommands::clearHistoryKeepsWhatCardHolds()
{
    auto card = [](std::uint32_t highest) {
        QList<HistoryBlock> blocks;
        for (std::uint32_t serial = highest; serial > highest - 20; --serial)
            blocks << railBlock(serial, int(3000 - serial));
        return blocks;
    };
    auto dlg = makeDialog();
    putCard(card(20));
    dlg->readCard();
    putCard(card(35));
    dlg->readCard();
    const QString table = CardTableName(kIdm);
    QCOMPARE(tableRows(*dlg, table), 35);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 35);

    // いいえ, the default answer: nothing goes.
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(tableRows(*dlg, table), 35);
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    // The card holds serials 16 to 35: 15 stored entries cannot be read back.
    const QString question = MessageBox::capturedMessages().first();
    QVERIFY(question.contains(kIdm));
    QVERIFY(question.contains(QStringLiteral("保存済み履歴 35 件")));
    QVERIFY(question.contains(QStringLiteral("そのうち 15 件")));
    MessageBox::clearCaptured();
    MessageBox::setNextAnswers({true});
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    QCOMPARE(tableRows(*dlg, table), 20);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 20);
    QCOMPARE(cell(*dlg, 19, 0), QStringLiteral("16"));
}

void TestCommands::clearHistoryWithCardRemoved()
{
    putCard({railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    dlg->readCard();
    takeCardOff();
    MessageBox::setNextAnswers({true});
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(MessageBox::capturedMessages().size(), 2);
    QCOMPARE(MessageBox::capturedMessages().last(), kReadFailed);
    QCOMPARE(tableRows(*dlg, CardTableName(kIdm)), -1);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 0);
    // The next read stores what the card holds in a new table.
    putCard({railBlock(2, 2210), railBlock(1, 2370)});
    dlg->readCard();
    QCOMPARE(tableRows(*dlg, CardTableName(kIdm)), 2);
}

void TestCommands::clearHistoryBeforeFirstReadShowsEngineText()
{
    auto dlg = makeDialog();
    QVERIFY(dlg->triggerCommand(ids::DeleteHistory));
    QCOMPARE(MessageBox::capturedMessages(),
             QStringList{
                 QStringLiteral("カードがまだ読み取られていないため、削除する履歴はありません。")});
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 0);
}

void TestCommands::deleteThreeSelectedRows()
{
    QList<HistoryBlock> blocks;
    for (std::uint32_t serial = 8; serial >= 1; --serial)
        blocks << railBlock(serial, int(3000 - serial));
    putCard(blocks);
    auto dlg = makeDialog();
    dlg->readCard();
    const std::size_t records = dlg->session().records().size();
    // The current row is not among the selected ones.
    test::inside(*dlg).historyList()->setCurrentIndex(
        test::inside(*dlg).historyModel()->index(0, 0));
    selectRows(*dlg, {1, 4, 6});
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(column(*dlg, 0),
             (QStringList{QStringLiteral("8"), QStringLiteral("6"), QStringLiteral("5"),
                          QStringLiteral("3"), QStringLiteral("1")}));
    QCOMPARE(dlg->session().records().size(), records);
    QCOMPARE(tableRows(*dlg, CardTableName(kIdm)), 8);
    // Nothing selected: nothing goes.
    test::inside(*dlg).historyList()->selectionModel()->clearSelection();
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 5);
    // Reading the card again brings the rows back.
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 8);
}

void TestCommands::withoutDatabaseNothingChanges_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("駅名キャッシュ削除") << int(ids::ClearStationNames);
    QTest::newRow("停留所名キャッシュ削除") << int(ids::ClearBusStopNames);
    QTest::newRow("店舗名キャッシュ削除") << int(ids::ClearShopNames);
    QTest::newRow("履歴データ削除") << int(ids::DeleteHistory);
}

void TestCommands::withoutDatabaseNothingChanges()
{
    QFETCH(int, command);
    putCard({shopBlock(3, 1880), busBlock(2, 2000), railBlock(1, 2370)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    dlg->readCard();
    const QStringList names = column(*dlg, 4);
    const std::size_t cached = dlg->session().caches().stations.size() +
                               dlg->session().caches().busStops.size() +
                               dlg->session().caches().shops.size();
    // The data folder goes away and a plain file takes its name: the database can be neither
    // opened nor created.
    const QString folder = QDir::cleanPath(dlg->session().store().DataFolder());
    QVERIFY(QFile::rename(folder, folder + QStringLiteral(".away")));
    {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }

    QVERIFY(dlg->triggerCommand(command));
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kNoDatabase});
    QCOMPARE(column(*dlg, 4), names);
    QCOMPARE(dlg->session().caches().stations.size() + dlg->session().caches().busStops.size() +
                 dlg->session().caches().shops.size(),
             cached);
    QCOMPARE(dlg->session().caches().stations.EntryFor(kShibuya).sn, QStringLiteral("渋谷"));

    QVERIFY(QFile::remove(folder));
    QVERIFY(QFile::rename(folder + QStringLiteral(".away"), folder));
    QCOMPARE(tableRows(*dlg, QStringLiteral("ipn")), 2);
    QCOMPARE(tableRows(*dlg, QStringLiteral("bus")), 1);
    QCOMPARE(tableRows(*dlg, QStringLiteral("bpn")), 1);
    QCOMPARE(tableRows(*dlg, CardTableName(kIdm)), 3);
}

void TestCommands::clearingCancelsRunningRefresh()
{
    FakeNameServer server;
    QVERIFY(server.listening());
    server.respondWith([](const FakeNameServer::Request&) { return QByteArray(); }); // hangs
    putCard({railBlock(1, 2370)});
    ini_->setValue(QStringLiteral("Trfc/nameServer"), server.url().toString());
    auto dlg = makeDialog();
    // The reader's own read at start-up, whose refresh waits for the answer.
    QTRY_COMPARE(server.requests().size(), 1);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 1);
    QVERIFY(test::inside(*dlg).nameRefresher().isRunning());
    const auto generation = test::inside(*dlg).nameRefresher().generation();
    takeCardOff();
    QVERIFY(dlg->triggerCommand(ids::ClearStationNames));
    QVERIFY(!test::inside(*dlg).nameRefresher().isRunning());
    QVERIFY(test::inside(*dlg).nameRefresher().generation() > generation);
    QTRY_COMPARE(server.openConnections(), 0);
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kReadFailed});
}

void TestCommands::deletingRowsWhileRefreshRuns()
{
    HeldNameServer server(
        cp932::encode(QStringLiteral("302,東急,東横,渋谷:304,JR東日本,山手,新宿:"
                                     "202,東急,東横,渋谷:204,JR東日本,山手,新宿:"
                                     "102,東急,東横,渋谷:104,JR東日本,山手,新宿:")));
    QVERIFY(server.listening());
    putCard({railBlock(3, 2050), railBlock(2, 2210), railBlock(1, 2370)});
    ini_->setValue(QStringLiteral("Trfc/nameServer"), server.url().toString());
    auto dlg = makeDialog();
    // The reader's own read at start-up, whose refresh waits for the answer.
    QTRY_COMPARE(server.waiting(), 1);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 3);
    QCOMPARE(cell(*dlg, 1, 4), QStringLiteral("(0, 37, 12)"));
    // The middle row goes before the answer is in.
    selectRows(*dlg, {1});
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    server.release();
    QTRY_COMPARE(cell(*dlg, 0, 4), QStringLiteral("渋谷(東横線)"));
    QCOMPARE(column(*dlg, 0), (QStringList{QStringLiteral("3"), QStringLiteral("1")}));
    QCOMPARE(cell(*dlg, 1, 4), QStringLiteral("渋谷(東横線)"));
    QCOMPARE(cell(*dlg, 1, 5), QStringLiteral("新宿(山手線)"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
