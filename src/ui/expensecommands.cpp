#include "ui/expensecommands.h"

#include "session/cardsession.h"
#include "store/databaseproblem.h"
#include "store/settings.h"
#include "store/storedhistory.h"
#include "ui/cardmenu.h"
#include "ui/claimformdlg.h"
#include "ui/historyexport.h"
#include "ui/historylistpane.h"
#include "ui/historymodel.h"
#include "ui/journeynotes.h"
#include "ui/messagebox.h"
#include "ui/notecommands.h"
#include "ui/totalsdlg.h"

#include <QDir>
#include <QFileInfo>
#include <QStatusBar>
#include <algorithm>

namespace ridelog {

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

// Another card than the one on display: its stored history with the names of the stored name
// tables.
std::vector<ExpenseEntry> storedClaimEntries(const QString& databasePath, const QString& idmText)
{
    std::vector<ExpenseEntry> entries;
    StoredHistoryReader reader(databasePath);
    CardSession other;
    CardBlockSet blocks;
    if (!reader.loadCard(idmText, other.caches(), blocks))
        return entries;
    other.showStoredBlocks(idmText, std::move(blocks));
    deriveAmounts(other.records());
    entries = expenseEntries(other.records(), std::nullopt);
    attachNotes(entries, reader.notesOf(idmText).notes);
    addGateTimes(entries, matchGateTaps(other.records(), reader.gateLog(idmText)));
    return entries;
}

} // namespace

ExpenseCommands::ExpenseCommands(Parts parts)
    : QObject(parts.window)
    , parts_(parts)
{}

// The one place that tells the exports and the totals window which records the list shows and
// where history may be missing. After a failed read the rows keep showing the records of the
// read before, which the list model keeps, while the session's own set is empty.
ExpenseExportSource ExpenseCommands::sourceOfList() const
{
    static const HistoryRecordSet kNoRecords;
    const HistoryListModel& list = *parts_.list.rows();
    const HistoryRecordSet* shown = list.shownRecords();
    const std::optional<MissedHistory>& missed = list.missedHistory();
    return {shown != nullptr ? shown : &kNoRecords,
            &parts_.session.caches(),
            missed ? std::optional<std::uint32_t>(missed->oldestFreshSerial) : std::nullopt,
            parts_.notes.notes(),
            QString(),
            &list.gateTimes()};
}

void ExpenseCommands::saveToFile()
{
    ExpenseExportSource source = sourceOfList();
    source.cardName = parts_.cards.currentCardName();
    const auto [first, last] = dateRangeOf(*source.records);
    const QString idm = parts_.session.idmText();
    TrfcSettings& settings = parts_.settings;
    const ExportPlace place{settings.groupText(kSaveDialogGroup, kFolderValue),
                            proposedExportName(source.cardName, idm, first, last)};
    const std::optional<QString> written =
        exportHistoryList(parts_.window, *parts_.list.shownRows(), idm, source, place);
    if (!written)
        return;
    settings.writeGroupText(kSaveDialogGroup, kFolderValue, QFileInfo(*written).absolutePath());
    parts_.statusBar->showMessage(tr("%1 に保存しました").arg(QDir::toNativeSeparators(*written)),
                                  kSavedMessageMs);
}

void ExpenseCommands::makeClaimForm()
{
    std::vector<CardSummary> cards = parts_.cards.library().cards();
    const QString shown = parts_.notes.notes()->idmText();
    if (!shown.isEmpty() &&
        std::none_of(cards.begin(), cards.end(), [&](const auto& c) { return c.idmText == shown; }))
        cards.push_back(
            CardSummary{shown, QString(), 0, QDate(), QDateTime(), QDateTime(), std::nullopt});
    auto* dialog = new CClaimFormDlg(
        cards, shown, [this](const QString& idm) { return claimEntriesOf(idm); },
        parts_.userSettings, parts_.window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

std::vector<ExpenseEntry> ExpenseCommands::claimEntriesOf(const QString& idmText)
{
    const JourneyNotes& notes = *parts_.notes.notes();
    if (idmText == notes.idmText() && parts_.list.rows()->shownRecords() != nullptr) {
        const ExpenseExportSource source = sourceOfList();
        std::vector<ExpenseEntry> entries =
            expenseEntries(*source.records, source.gapBeforeSerial, source.caches);
        attachNotes(entries, notes.notes());
        addGateTimes(entries, *source.gateTimes);
        return entries;
    }
    try {
        return storedClaimEntries(parts_.session.store().databasePath(), idmText);
    } catch (const DatabaseError& error) {
        MessageBox::show(parts_.window, databaseProblemText(error.engineCode()), error.message());
    }
    return {};
}

void ExpenseCommands::showTotals()
{
    auto* totals = parts_.window->findChild<CTotalsDlg*>();
    if (totals == nullptr) {
        totals = new CTotalsDlg(
            [this] {
                const ExpenseExportSource source = sourceOfList();
                return CTotalsDlg::Snapshot{
                    parts_.session.idmText(), parts_.cards.currentCardName(),
                    expenseEntries(*source.records, source.gapBeforeSerial, source.caches)};
            },
            parts_.window);
        totals->followList(*parts_.list.rows());
    } else {
        totals->refresh();
    }
    totals->show();
    totals->raise();
    totals->activateWindow();
}

} // namespace ridelog
