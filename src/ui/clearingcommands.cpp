#include "ui/clearingcommands.h"

#include "namedata/namecache.h"
#include "store/database.h"
#include "store/historystore.h"
#include "ui/messagebox.h"

#include <QCoreApplication>

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
    if (!runStoreStep([&] { return store_.RecreateNameTable(table); }))
        return;
    steps_.stopNameRefresh();
    emptyCache(table);
    steps_.removeAllRows();
    steps_.readCard();
}

void ClearingCommands::ClearCardHistory(const QString& idmText)
{
    if (!runStoreStep([&] { return store_.DeleteCardTable(idmText); }))
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
        MessageBox::show(parent_, error.message());
    }
    return false;
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
