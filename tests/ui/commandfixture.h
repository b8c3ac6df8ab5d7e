// What the tests of the window's commands share: a window that has finished reading the card
// put on before it started, names of every kind known, the texts of a list column, a selection
// of rows and the rows of a table of the history database.
#pragma once

#include "store/database.h"
#include "store/historystore.h"
#include "support/windowaccess.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"
#include "windowfixture.h"

#include <QItemSelectionModel>
#include <QStringList>

namespace ridelog::test {

// The stations of railBlock(), the stop of busBlock() and the shop of shopBlock().
inline const StationKey kEntryStation{0, 0x25, 0x0C};
inline const StationKey kExitStation{0, 0x25, 0x10};
inline const BusStopKey kBusStop{4660, 291};
inline const ShopKey kShop{1, 199, 7};

inline QStringList columnTexts(const CRidelogDlg& dlg, int column)
{
    QStringList texts;
    for (int row = 0; row < inside(dlg).historyModel()->rowCount(); ++row)
        texts << cell(dlg, row, column);
    return texts;
}

inline void selectRows(const CRidelogDlg& dlg, const QList<int>& rows)
{
    QItemSelectionModel* selection = inside(dlg).historyList()->selectionModel();
    selection->clearSelection();
    for (const int row : rows)
        selection->select(inside(dlg).historyModel()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

// Rows of a table of the window's history database; -1 when there is no such table.
inline std::int64_t tableRows(CRidelogDlg& dlg, const QString& table)
{
    Database db = Database::open(dlg.session().store().databasePath(),
                                 Database::OpenMode::ExistingFile, 1000);
    if (!db.tableExists(table))
        return -1;
    Statement count(db, QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(table)));
    count.step();
    return count.integerAt(0);
}

// Test classes derive from this (after QObject) and call setUpCommands() from init() and
// tearDownCommands() from cleanup(). Message boxes and save dialogs answer as scripted.
class CommandFixture : public WindowFixture
{
protected:
    void setUpCommands()
    {
        setUpWindow();
        MessageBox::setCapturing(true);
        MessageBox::clearCaptured();
        SaveFileDialog::setScripted(true);
    }

    void tearDownCommands()
    {
        SaveFileDialog::setScripted(false);
        MessageBox::setCapturing(false);
        tearDownWindow();
    }

    std::unique_ptr<CRidelogDlg> makeDialog()
    {
        auto dlg = makeWindow();
        // A card on the reader at start-up is read as soon as the reader reports it; let that
        // read be over before the test goes on, so that it does not land in the middle of one.
        if (QFile::exists(cardsDir_ + QStringLiteral("/card.card")) &&
            !QTest::qWaitFor([&] { return inside(*dlg).historyModel()->rowCount() > 0; }, 5000)) {
            qWarning("the reader did not report the card put on before start-up");
        }
        return dlg;
    }

    // Names of every kind, in the caches and in the name tables.
    static void knowNames(CRidelogDlg& dlg)
    {
        using namespace Qt::StringLiterals;
        NameCaches& caches = dlg.session().caches();
        caches.stations.EntryFor(kEntryStation) = {u"東急"_s, u"東横"_s, u"渋谷"_s,
                                                   u"渋谷(東横線)"_s};
        caches.stations.EntryFor(kExitStation) = {u"JR東日本"_s, u"山手"_s, u"新宿"_s,
                                                  u"新宿(山手線)"_s};
        caches.busStops.EntryFor(kBusStop) = {u"都営バス"_s, u"渋谷駅前"_s, u"渋88"_s,
                                              u"渋谷駅前(都営バス)"_s};
        caches.shops.EntryFor(kShop) = {u"JR東日本リテール"_s, u"NEWDAYS"_s, QString(), QString(),
                                        u" "_s};
        QVERIFY(dlg.session().store().WriteBackNames(caches));
        dlg.session().store().closeDatabase();
    }
};

} // namespace ridelog::test
