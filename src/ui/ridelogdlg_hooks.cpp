// Commands carried out by dialogs and operations of their own files. Each handler is the one
// place where its command is joined to the main window.
#include "store/storedhistory.h"
#include "ui/claimformdlg.h"
#include "ui/clearingcommands.h"
#include "ui/historyexport.h"
#include "ui/historymodel.h"
#include "ui/journeynotes.h"
#include "ui/listcommands.h"
#include "ui/ridelogdlg.h"
#include "ui/showdatasetupdlg.h"
#include "ui/totalsdlg.h"

#include <QDir>
#include <QFileInfo>
#include <QStatusBar>
#include <QTreeView>
#include <algorithm>

namespace ridelog {

// The clearing commands run as one card operation with the read that ends them: a card put on
// while one of their boxes is open is read after them.
ClearingCommands CRidelogDlg::clearingCommands()
{
    return ClearingCommands(this, session_.store(), session_.caches(),
                            {[this] { refresher_->cancel(); }, [this] { clearHistoryList(); },
                             [this] { performRead(); }});
}

namespace {

// The one place that tells the exports and the totals window which records the list shows and
// where history may be missing. After a failed read the rows keep showing the records of the
// read before, which the list model keeps, while the dialog's own set is empty.
ExpenseExportSource expenseSourceOf(CRidelogDlg& dialog)
{
    static const HistoryRecordSet kNoRecords;
    const HistoryListModel& list = *dialog.historySource();
    const HistoryRecordSet* shown = list.shownRecords();
    const std::optional<MissedHistory>& missed = list.missedHistory();
    return {shown != nullptr ? shown : &kNoRecords, &dialog.caches(),
            missed ? std::optional<std::uint32_t>(missed->oldestFreshSerial) : std::nullopt,
            dialog.journeyNotes()};
}

} // namespace

namespace {

// The save dialog's folder lives in a group of its own, apart from the integer values.
const QString kSaveDialogGroup = QStringLiteral("SaveDialog");
const QString kFolderValue = QStringLiteral("folder");
constexpr int kSavedMessageMs = 6000;

// The dates of the oldest and the newest entry that has a real date.
std::pair<QDate, QDate> dateRangeOf(const HistoryRecordSet& records)
{
    QDate first;
    QDate last;
    for (const HistoryRecord& record : records) {
        const QDate date = recordDate(record);
        if (!date.isValid())
            continue;
        first = first.isValid() ? std::min(first, date) : date;
        last = last.isValid() ? std::max(last, date) : date;
    }
    return {first, last};
}

} // namespace

// ファイルに保存(&S): export the list, the rows as shown, to a file. The dialog opens in the folder
// saved to last and proposes the card's name and dates; the status bar says where the file went.
void CRidelogDlg::onSaveToFile()
{
    ExpenseExportSource source = expenseSourceOf(*this);
    source.cardName = currentCardName();
    const auto [first, last] = dateRangeOf(*source.records);
    const QString idm = session_.idmText();
    const ExportPlace place{settings_.groupText(kSaveDialogGroup, kFolderValue),
                            proposedExportName(source.cardName, idm, first, last)};
    const std::optional<QString> written = exportHistoryList(this, *view_, idm, source, place);
    if (!written)
        return;
    settings_.writeGroupText(kSaveDialogGroup, kFolderValue, QFileInfo(*written).absolutePath());
    statusBar_->showMessage(tr("%1 に保存しました").arg(QDir::toNativeSeparators(*written)),
                            kSavedMessageMs);
}

// 精算書を作成(&R)...: the claim form of the card on display, or of any stored card.
void CRidelogDlg::onMakeClaimForm()
{
    std::vector<CardSummary> cards = cardLibrary().cards();
    const QString shown = journeyNotes()->idmText();
    if (!shown.isEmpty() &&
        std::none_of(cards.begin(), cards.end(), [&](const auto& c) { return c.idmText == shown; }))
        cards.push_back(
            CardSummary{shown, QString(), 0, QDate(), QDateTime(), QDateTime(), std::nullopt});
    auto* dialog = new CClaimFormDlg(
        cards, shown, [this](const QString& idm) { return claimEntriesOf(idm); }, userSettings_,
        this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

std::vector<ExpenseEntry> CRidelogDlg::claimEntriesOf(const QString& idmText)
{
    if (idmText == notes_->idmText() && model_->shownRecords() != nullptr) {
        const ExpenseExportSource source = expenseSourceOf(*this);
        std::vector<ExpenseEntry> entries =
            expenseEntries(*source.records, source.gapBeforeSerial, source.caches);
        attachNotes(entries, notes_->notes());
        return entries;
    }
    // Another card: its stored history with the names of the stored name tables.
    std::vector<ExpenseEntry> entries;
    try {
        StoredHistoryReader reader(session_.store().databasePath());
        CardSession other;
        CardBlockSet blocks;
        if (!reader.loadCard(idmText, other.caches(), blocks))
            return entries;
        other.showStoredBlocks(idmText, std::move(blocks));
        deriveAmounts(other.records());
        entries = expenseEntries(other.records(), std::nullopt);
        attachNotes(entries, reader.notesOf(idmText).notes);
    } catch (const DatabaseError& error) {
        showDatabaseError(error);
    }
    return entries;
}

// 集計(&T)...: one totals window, kept up to date with the list while it is open.
void CRidelogDlg::onShowTotals()
{
    auto* totals = findChild<CTotalsDlg*>();
    if (totals == nullptr) {
        totals = new CTotalsDlg(
            [this] {
                const ExpenseExportSource source = expenseSourceOf(*this);
                return CTotalsDlg::Snapshot{
                    session_.idmText(), currentCardName(),
                    expenseEntries(*source.records, source.gapBeforeSerial, source.caches)};
            },
            this);
        totals->followList(*model_);
    } else {
        totals->refresh();
    }
    totals->show();
    totals->raise();
    totals->activateWindow();
}

// 表示設定(&D)...: the display settings dialog, then loadDisplaySettings and the three
// re-renderings, whichever way the dialog was closed.
void CRidelogDlg::onShowDataSetup()
{
    {
        CShowDataSetupDlg dialog(settings_, this);
        dialog.exec();
    }
    loadDisplaySettings();
    refreshRailNames();
    refreshBusNames();
    refreshShopNames();
}

// 詳細表示(&D)...: the detail dialog of selectedRecord(); nothing when that is null.
void CRidelogDlg::onShowDetail()
{
    NameCaches& caches = session_.caches();
    showRecordDetail(this, selectedRecord(), caches.stations, caches.busStops, caches.shops,
                     &session_.gateTimes());
}

// 駅名キャッシュ削除(&C)
void CRidelogDlg::onClearStationNames()
{
    runCardOperation([this] { clearingCommands().ClearNameCache(NameTable::Stations); });
}

// 停留所名キャッシュ削除(&B)
void CRidelogDlg::onClearBusStopNames()
{
    runCardOperation([this] { clearingCommands().ClearNameCache(NameTable::BusStops); });
}

// 店舗名キャッシュ削除(&T)
void CRidelogDlg::onClearShopNames()
{
    runCardOperation([this] { clearingCommands().ClearNameCache(NameTable::Shops); });
}

// 履歴データ削除(&H)
void CRidelogDlg::onDeleteHistory()
{
    // A stored card shown from the library may not be the card read last: then nothing is
    // known to be on the card, and every stored entry counts as lost.
    runCardOperation([this] {
        const QString idm = session_.idmText();
        clearingCommands().ClearCardHistory(idm, session_.deliveredSerials(idm));
    });
}

// 一覧から隠す(&L) of the context menu: the selected rows leave the list, not the stored history;
// the status bar says so for a few seconds.
void CRidelogDlg::onDeleteRows()
{
    const int hidden = deleteSelectedRows(*view_, *list_->selectionModel());
    if (hidden > 0)
        statusBar_->showMessage(tr("%1 "
                                   "行を一覧から隠しました。保存された履歴はそのままで、次の読み取"
                                   "りでまた表示されます。")
                                    .arg(hidden),
                                kSavedMessageMs);
}

} // namespace ridelog
