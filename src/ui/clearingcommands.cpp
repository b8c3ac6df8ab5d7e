#include "ui/clearingcommands.h"

#include "namedata/namecache.h"
#include "store/database.h"
#include "store/databaseproblem.h"
#include "store/historystore.h"
#include "store/notestore.h"
#include "ui/messagebox.h"

#include <QCoreApplication>
#include <optional>

namespace ridelog {

ClearingCommands::ClearingCommands(QWidget* parent, HistoryStore& store, NameCaches& caches,
                                   Steps steps)
    : parent_(parent)
    , store_(store)
    , caches_(caches)
    , steps_(std::move(steps))
{}

void ClearingCommands::ClearNameCache(NameTable table)
{
    if (!runStoreStep([&] { return store_.recreateNameTable(table); }))
        return;
    steps_.stopNameRefresh();
    emptyCache(table);
    steps_.removeAllRows();
    steps_.readCard();
}

void ClearingCommands::ClearCardHistory(const QString& idmText,
                                        const std::set<std::uint32_t>& cardSerials)
{
    if (idmText.isEmpty()) {
        MessageBox::show(parent_,
                         QCoreApplication::translate(
                             "ClearingCommands",
                             "カードがまだ読み取られていないため、削除する履歴はありません。"));
        return;
    }
    std::optional<std::set<std::uint32_t>> stored;
    if (!runStoreStep([&] { return store_.storedSerials(idmText, stored); }))
        return;
    if (!stored) {
        MessageBox::show(parent_, QCoreApplication::translate(
                                      "ClearingCommands", "カード %1 の履歴は保存されていません。")
                                      .arg(idmText));
        return;
    }
    qsizetype lost = 0;
    for (const std::uint32_t serial : *stored)
        lost += cardSerials.contains(serial) ? 0 : 1;
    // The notes go with the history: the question says how many.
    const int notes = NoteStore(store_.databasePath()).noteCount(idmText);
    const QString question =
        notes == 0 ? QCoreApplication::translate(
                         "ClearingCommands",
                         "カード %1 の保存済み履歴 %2 件をすべて削除します。\r\n"
                         "そのうち %3 件はカードに残っていないため、二度と読み戻せません。\r\n"
                         "削除しますか？")
                         .arg(idmText)
                         .arg(stored->size())
                         .arg(lost)
                   : QCoreApplication::translate(
                         "ClearingCommands",
                         "カード %1 の保存済み履歴 %2 件をすべて削除します。\r\n"
                         "そのうち %3 件はカードに残っていないため、二度と読み戻せません。\r\n"
                         "履歴に付けた用途・精算の記録 %4 件も削除されます。\r\n"
                         "削除しますか？")
                         .arg(idmText)
                         .arg(stored->size())
                         .arg(lost)
                         .arg(notes);
    if (!MessageBox::question(parent_, question))
        return;
    if (!runStoreStep([&] { return store_.deleteCardTable(idmText); }))
        return;
    steps_.stopNameRefresh();
    steps_.removeAllRows();
    steps_.readCard();
}

bool ClearingCommands::runStoreStep(const std::function<bool()>& operation)
{
    try {
        if (operation())
            return true;
        MessageBox::show(parent_, QCoreApplication::translate("ClearingCommands",
                                                              "データベースにアクセスできません"));
    } catch (const DatabaseError& error) {
        showDatabaseError(error);
    }
    return false;
}

void ClearingCommands::showDatabaseError(const DatabaseError& error)
{
    MessageBox::show(parent_, databaseProblemText(error.engineCode()), error.message());
}

void ClearingCommands::emptyCache(NameTable table)
{
    switch (table) {
    case NameTable::Stations:
        caches_.stations.clear();
        break;
    case NameTable::BusStops:
        caches_.busStops.clear();
        break;
    case NameTable::Shops:
        caches_.shops.clear();
        break;
    }
}

} // namespace ridelog
