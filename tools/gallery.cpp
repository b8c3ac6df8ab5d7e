// Renders every window and dialog of Ridelog into PNG files, in the language asked for, after a
// card with two years of history was read from the simulated reader:
//
//   ridelog-gallery OUTPUT_DIR ja|en
//
// XDG_DATA_HOME and XDG_CONFIG_HOME should point at an empty folder: the gallery builds its own
// database there. QT_SCALE_FACTOR scales the pictures like the program.
#include "app/commandline.h"
#include "app/ridelogapp.h"
#include "app/translations.h"
#include "store/cardlibrary.h"
#include "store/database.h"
#include "store/gatelogstore.h"
#include "store/historystore.h"
#include "store/notestore.h"
#include "support/cardfile.h"
#include "support/gatehistory.h"
#include "support/realistichistory.h"
#include "support/windowaccess.h"
#include "ui/claimformdlg.h"
#include "ui/commandids.h"
#include "ui/historylist.h"
#include "ui/historysearchbar.h"
#include "ui/ridelogdlg.h"
#include "ui/totalsdlg.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPrintPreviewDialog>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <functional>

using namespace ridelog;

namespace {

const QString kIdm = QStringLiteral("012E44A0B1C2D3E4");
constexpr int kHistory = 2183;
constexpr int kOnTheCard = 20;
// The entries that came after the last read; the rest are stored.
constexpr int kSinceLastRead = 4;
// The user has read the card every evening for the last months: the gate log holds the times
// of these last entries.
constexpr std::size_t kWithGateTimes = 400;

QString outputDir;

// The gate taps of the rail rides history[first] onwards, oldest first: an entry and an exit
// for each, at the times a commuter passes the gates (the day's first ride in the morning, the
// second in the evening, any later one at night). A card keeps only its last three in its gate
// log; a user who reads the card every evening has every one of them.
std::vector<HistoryBlock> realisticGateTaps(const std::vector<HistoryBlock>& history,
                                            std::size_t first)
{
    std::vector<HistoryBlock> taps;
    int rideOfDay = 0;
    for (std::size_t i = 0; i < history.size(); ++i) {
        const HistoryBlock& block = history[i];
        if (i > 0 && (block[4] != history[i - 1][4] || block[5] != history[i - 1][5]))
            rideOfDay = 0;
        if (block[0] != testing::kGateTerminal)
            continue;
        const int ride = rideOfDay++;
        if (i < first || i == 0)
            continue;
        const QDate day =
            QDate(2000 + (block[4] >> 1), (block[4] & 1) << 3 | block[5] >> 5, block[5] & 0x1F);
        const std::uint32_t serial = blockSerial(block);
        const int fare = blockBalance(history[i - 1]) - blockBalance(block);
        static const int kStarts[] = {7 * 60 + 41, 18 * 60 + 6, 21 * 60 + 15};
        const int entry = kStarts[std::min(ride, 2)] + int(serial % 11);
        const int exit = entry + 22 + fare / 25 + int(serial % 5);
        taps.push_back(testing::gateBlock(0xA0, std::uint16_t(block[6] << 8 | block[7]), day,
                                          entry / 60, entry % 60));
        taps.push_back(testing::gateBlock(0x20, std::uint16_t(block[8] << 8 | block[9]), day,
                                          exit / 60 % 24, exit % 60, std::uint16_t(fare)));
    }
    return taps;
}

void wait(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool waitFor(const std::function<bool()>& done, int ms = 8000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void save(QWidget* widget, const QString& name)
{
    wait(300);
    const QString path = outputDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget->grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

// The next modal dialog that opens is saved under name and closed again.
void captureNextModal(const QString& name, std::function<void(QWidget*)> before = {})
{
    auto* poll = new QTimer;
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, [poll, name, before] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        if (before)
            before(modal);
        save(modal, name);
        modal->close();
    });
    poll->start();
}

// 29 other cards of the household, each with a short history of its own.
std::vector<QString> storeOtherCards(HistoryStore& store)
{
    std::vector<QString> others;
    for (int card = 0; card < 29; ++card) {
        const QString idm =
            QStringLiteral("0101%1A0B1C2D3").arg(card, 4, 16, QLatin1Char('0')).toUpper();
        CardBlockSet blocks;
        for (const HistoryBlock& block :
             test::realisticHistory({30 + card * 7, QDate(2025, 1, 6).addDays(card * 11), 1}))
            blocks.insert(block, BlockOrigin::Card);
        store.StoreNewBlocks(idm, blocks);
        others.push_back(idm);
    }
    return others;
}

// The gate taps the earlier reads caught, and purposes and claim marks on some journeys of the
// last weeks, which were for work.
void storeTapsAndNotes(const QString& databasePath, const std::vector<HistoryBlock>& stored)
{
    const std::vector<HistoryBlock> storedTaps =
        realisticGateTaps(stored, stored.size() - kWithGateTimes);
    {
        Database database = Database::open(databasePath, Database::OpenMode::ExistingFile, 1000);
        Transaction transaction(database);
        GateLogStore::store(database, kIdm, storedTaps, QDateTime::currentDateTimeUtc());
        transaction.commit();
    }
    std::array<std::vector<std::uint32_t>, 2> forWork;
    for (std::size_t i = stored.size() - 60; i < stored.size(); i += 7) {
        if (stored[i][0] == testing::kGateTerminal)
            forWork[i % 2].push_back(blockSerial(stored[i]));
    }
    NoteStore noteStore(databasePath);
    const qint64 noted = QDateTime::currentSecsSinceEpoch();
    noteStore.setNotes(kIdm, forWork[0], {QStringLiteral("顧客訪問（A社 見積説明）"), true}, noted);
    noteStore.setNotes(kIdm, forWork[1], {QStringLiteral("研修（本社）"), true}, noted);
}

void nameCards(const QString& databasePath, const std::vector<QString>& others)
{
    const QStringList names{QStringLiteral("妻のPASMO"), QStringLiteral("子ども用"),
                            QStringLiteral("出張用 Suica"), QString()};
    CardLibrary library(databasePath);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (std::size_t card = 0; card < others.size(); ++card) {
        library.noteCardRead(others[card], now.addDays(-int(card) - 1));
        library.renameCard(others[card], names[qsizetype(card % 4)]);
    }
    library.noteCardRead(kIdm, now.addDays(-40));
    library.renameCard(kIdm, QStringLiteral("通勤用 Suica"));
}

// The card: its last 20 entries and the last three taps of its gate log, newest first.
void placeCommuterCard(const QString& cardsDir, const std::vector<HistoryBlock>& history)
{
    const std::vector<HistoryBlock> onTheCard(history.rbegin(), history.rbegin() + kOnTheCard);
    const std::vector<HistoryBlock> taps = realisticGateTaps(history, history.size() - kOnTheCard);
    const std::vector<HistoryBlock> gateLog(taps.rbegin(), taps.rbegin() + 3);
    QDir().mkpath(cardsDir);
    if (!test::placeCard(cardsDir, QStringLiteral("commuter.card"),
                         test::cardFileText(kIdm, onTheCard) + test::gateLogSectionText(gateLog)))
        std::fprintf(stderr, "could not write the card file\n");
}

// The card's history: all but its last few entries stored by earlier reads with the gate taps
// they caught, under a nickname, beside 29 other cards of the household.
void prepareLibrary(const QString& cardsDir)
{
    const std::vector<HistoryBlock> history =
        test::realisticHistory({kHistory, QDate(2024, 12, 2), 1, 3200, 1});
    HistoryStore store;
    NameCaches caches;
    store.OpenDatabaseAtStart(caches);
    // The last read was a few entries ago: the card still holds most of the stored ones.
    const std::size_t storedCount = history.size() - kSinceLastRead;
    const std::vector<HistoryBlock> storedHistory(history.begin(),
                                                  history.begin() + qsizetype(storedCount));
    CardBlockSet stored;
    for (const HistoryBlock& block : storedHistory)
        stored.insert(block, BlockOrigin::Card);
    store.StoreNewBlocks(kIdm, stored);
    const std::vector<QString> others = storeOtherCards(store);
    const QString databasePath = store.databasePath();
    store.dropDatabaseObject();
    storeTapsAndNotes(databasePath, storedHistory);
    nameCards(databasePath, others);
    placeCommuterCard(cardsDir, history);
}

int rowOfKind(const CRidelogDlg& dialog, const QString& processText)
{
    const QAbstractItemModel& model = *test::inside(dialog).historyModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.index(row, 3).data().toString() == processText)
            return row;
    }
    return 0;
}

void selectRow(CRidelogDlg& dialog, int row)
{
    auto* list = test::inside(dialog).historyList();
    list->setCurrentIndex(test::inside(dialog).historyModel()->index(row, 0));
    list->selectionModel()->select(test::inside(dialog).historyModel()->index(row, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void showDetailOf(CRidelogDlg& dialog, const QString& processText, const QString& name)
{
    selectRow(dialog, rowOfKind(dialog, processText));
    test::inside(dialog).showHistoryContextMenu(dialog.mapToGlobal(QPoint(120, 120)));
    wait(200);
    test::inside(dialog).historyContextMenu()->close();
    captureNextModal(name);
    dialog.triggerCommand(ids::ShowDetail);
}

void popUpMenu(QMenu* menu, QWidget* anchor, const QString& name)
{
    menu->popup(anchor->mapToGlobal(QPoint(10, 10)));
    waitFor([menu] { return menu->isVisible(); });
    save(menu, name);
    menu->close();
}

QMenu* menuBarMenu(CRidelogDlg& dialog, int index)
{
    const QList<QAction*> menus = dialog.findChild<QMenuBar*>()->actions();
    return index < menus.size() ? menus[index]->menu() : nullptr;
}

// The claim form of the last month of the history, with its dialog, in the print preview.
void showClaimForm(CRidelogDlg& dialog)
{
    dialog.triggerCommand(ids::MakeClaimForm);
    auto* claim = dialog.findChild<CClaimFormDlg*>();
    if (claim == nullptr || !waitFor([claim] { return claim->isVisible(); }))
        return;
    claim->nameField()->setText(QStringLiteral("山田 花子"));
    claim->departmentField()->setText(QStringLiteral("営業部 第二課"));
    claim->allEntriesButton()->setChecked(true);
    claim->periodBox()->setChecked(true);
    // The list's newest date, as it shows it.
    const QAbstractItemModel& rows = *test::inside(dialog).historyModel();
    const QDate last = QDate::fromString(rows.index(0, DateColumn).data().toString(), Qt::ISODate);
    claim->toField()->setDate(last);
    claim->fromField()->setDate(last.addDays(-30));
    save(claim, QStringLiteral("14-claim-form"));
    QPrintPreviewDialog* preview = claim->openPreview();
    if (preview != nullptr && waitFor([preview] { return preview->isVisible(); })) {
        preview->resize(820, 900);
        save(preview, QStringLiteral("15-claim-preview"));
        preview->close();
    }
    claim->close();
}

// The main window, with the time column in a wider window, and searching.
void showMainWindow(CRidelogDlg& dialog)
{
    save(&dialog, QStringLiteral("01-main"));
    const QSize size = dialog.size();
    dialog.resize(size.width() * 3 / 2, size.height());
    dialog.triggerCommand(ids::TimeColumnView);
    save(&dialog, QStringLiteral("01-main-times"));
    dialog.triggerCommand(ids::TimeColumnView);
    dialog.resize(size);

    test::inside(dialog).searchBar()->open();
    test::inside(dialog).searchBar()->textField()->setText(QStringLiteral("新宿"));
    test::inside(dialog).searchBar()->applyNow();
    save(&dialog, QStringLiteral("02-search"));
    test::inside(dialog).searchBar()->dismiss();
}

void showMenus(CRidelogDlg& dialog)
{
    for (int index = 0; index < 5; ++index) {
        if (QMenu* menu = menuBarMenu(dialog, index))
            popUpMenu(menu, &dialog, QStringLiteral("03-menu-%1").arg(index + 1));
    }
    selectRow(dialog, 0);
    test::inside(dialog).showHistoryContextMenu(dialog.mapToGlobal(QPoint(120, 120)));
    waitFor([&] { return test::inside(dialog).historyContextMenu()->isVisible(); });
    save(test::inside(dialog).historyContextMenu(), QStringLiteral("04-context-menu"));
    test::inside(dialog).historyContextMenu()->close();
}

void showDialogs(CRidelogDlg& dialog)
{
    showDetailOf(dialog, QCoreApplication::translate("ridelog::HistoryModel", "運賃支払"),
                 QStringLiteral("05-detail-rail"));
    showDetailOf(dialog, QStringLiteral("バス"), QStringLiteral("06-detail-bus"));
    showDetailOf(dialog, QStringLiteral("物販"), QStringLiteral("07-detail-shop"));

    captureNextModal(QStringLiteral("08-display-settings"));
    dialog.triggerCommand(ids::ShowDataSetup);
    dialog.triggerCommand(ids::About); // opened, not run: the window stays usable
    waitFor([] { return QApplication::activeModalWidget() != nullptr; });
    if (QWidget* about = QApplication::activeModalWidget()) {
        save(about, QStringLiteral("09-about"));
        about->close();
    }
    captureNextModal(QStringLiteral("10-save"));
    dialog.triggerCommand(ids::SaveToFile);
    captureNextModal(QStringLiteral("11-rename-card"));
    dialog.triggerCommand(ids::RenameCard);
}

void showCardWindows(CRidelogDlg& dialog)
{
    dialog.triggerCommand(ids::ShowTotals);
    if (auto* totals = dialog.findChild<CTotalsDlg*>()) {
        waitFor([totals] { return totals->isVisible(); });
        save(totals, QStringLiteral("12-totals"));
        totals->close();
    }
    captureNextModal(QStringLiteral("13-all-cards"));
    dialog.triggerCommand(ids::ShowAllCards);
    showClaimForm(dialog);
}

int runGallery(CRidelogDlg& dialog)
{
    dialog.show();
    waitFor([&] { return test::inside(dialog).historyModel()->rowCount() >= kHistory; });
    wait(1500); // the names of the built-in table
    showMainWindow(dialog);
    showMenus(dialog);
    showDialogs(dialog);
    showCardWindows(dialog);
    dialog.accept();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: ridelog-gallery OUTPUT_DIR ja|en\n");
        return 2;
    }
    outputDir = arguments[1];
    QDir().mkpath(outputDir);
    QApplication::setApplicationName(QStringLiteral("ridelog"));
    QApplication::setApplicationVersion(QStringLiteral("1.2.0"));
    Translations translations;
    translations.install(arguments[2] == QStringLiteral("en") ? UiLanguage::English
                                                              : UiLanguage::Japanese);
    QApplication::setApplicationDisplayName(CRidelogDlg::titleText());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/ridelog/ridelog.png")));

    const QString cards = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                          QStringLiteral("/gallery-cards");
    prepareLibrary(cards);
    AppOptions options;
    options.readerOption = QStringLiteral("virtual:") + cards;
    options.nameServer = QStringLiteral("builtin");
    CRidelogApp ridelog(options);
    ridelog.setLockFilePath(QDir::tempPath() + QStringLiteral("/ridelog-gallery.lock"));
    ridelog.setDialogRunner(runGallery);
    return ridelog.InitInstance();
}
