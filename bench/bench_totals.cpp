// The totals window: from the command to the painted window, for a card of 2,183, 10,000 and
// 100,000 entries (the entries are taken from the records as the main window hands them over).
// Best of five rounds each.
#include "../tests/support/realistichistory.h"
#include "namedata/namecache.h"
#include "report/expenseentries.h"
#include "ui/totalsdlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>

using namespace ridelog;

namespace {

HistoryRecordSet recordsOf(int entries)
{
    test::RealisticHistoryOptions options;
    options.entries = entries;
    options.firstDay = QDate(2001, 1, 1);
    options.roundTripsPerWorkday = entries > 20000 ? 4 : 1;
    NameCaches caches;
    HistoryRecordSet records;
    for (const HistoryBlock& block : test::realisticHistory(options))
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    return records;
}

double openMilliseconds(const HistoryRecordSet& records, int* months)
{
    QElapsedTimer timer;
    timer.start();
    CTotalsDlg totals([&records] {
        return CTotalsDlg::Snapshot{QStringLiteral("0123456789ABCDEF"), QStringLiteral("通勤用"),
                                    expenseEntries(records, std::nullopt)};
    });
    totals.show();
    while (totals.windowHandle() == nullptr || !totals.windowHandle()->isExposed())
        QApplication::processEvents();
    QApplication::processEvents();
    const double elapsed = timer.nsecsElapsed() / 1e6;
    *months = int(totals.monthsReport().months.size());
    return elapsed;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    for (const int entries : {2183, 10000, 100000}) {
        const HistoryRecordSet records = recordsOf(entries);
        double best = 1e12;
        int months = 0;
        for (int round = 0; round < 5; ++round)
            best = std::min(best, openMilliseconds(records, &months));
        std::printf("totals window, %6d entries (%3d months): opened and painted in %7.1f ms\n",
                    int(records.size()), months, best);
    }
    return 0;
}
