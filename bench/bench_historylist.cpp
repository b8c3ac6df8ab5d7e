// The main window's history list with a large stored history.
//
// 1. Resident memory of the whole process after a card read against 100,000 stored entries:
//    the real CRidelogDlg, the simulated reader, ekdb.sqlite in a temporary folder. Measured
//    first, in a fresh process, with glibc's view of the heap (in use, and freed but kept).
//    BENCH_MEMORY_ONLY=1 ends the run there (for heaptrack: what is left then is what the
//    window holds after the read).
// 2. Filling the list (model reset, view laid out and painted) with 1,000, 10,000 and 100,000
//    records, names included. Best of five rounds each.
#include "card/readerlibrary.h"
#include "namedata/namecache.h"
#include "store/cardblockset.h"
#include "store/historystore.h"
#include "support/cardblocks.h"
#include "support/cardfile.h"
#include "support/windowaccess.h"
#include "ui/historymodel.h"
#include "ui/ridelogdlg.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <malloc.h>

using namespace ridelog;

namespace {

const QString kIdm = QStringLiteral("0123456789ABCDEF");

HistoryBlock blockOf(std::uint32_t serial)
{
    const std::uint8_t processTypes[] = {1, 1, 2, 15, 70};
    test::BlockFields f;
    f.process = processTypes[serial % 5];
    f.terminal = f.process == 70 ? 199 : 22;
    f.year = int(2008 + serial % 10);
    f.month = int(1 + serial % 12);
    f.day = int(1 + serial % 28);
    f.b6 = std::uint8_t(serial % 100);
    f.b7 = std::uint8_t(serial % 200);
    f.b8 = std::uint8_t(serial % 90);
    f.b9 = std::uint8_t(serial % 150);
    f.balance = int(10000 - serial % 9000);
    f.serial = serial;
    return test::makeBlock(f);
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').first().toLong();
    }
    return -1;
}

void storeHistory(int entries)
{
    HistoryStore store;
    NameCaches caches;
    store.OpenDatabaseAtStart(caches);
    CardBlockSet blocks;
    for (int i = 1; i <= entries; ++i)
        blocks.insert(blockOf(std::uint32_t(i)), BlockOrigin::Card);
    store.StoreNewBlocks(kIdm, blocks);
}

void putCard(const QString& folder, std::uint32_t newest)
{
    std::vector<HistoryBlock> card;
    for (int i = 0; i < 20; ++i)
        card.push_back(blockOf(newest - std::uint32_t(i)));
    test::placeCard(folder, QStringLiteral("card.card"), test::cardFileText(kIdm, card));
}

void measureMemoryAfterRead(const QTemporaryDir& dir, int entries)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
    storeHistory(entries);
    const long beforeWindow = statusKb("VmRSS");

    const QString cards = dir.filePath(QStringLiteral("cards"));
    QDir().mkpath(cards);
    card::ReaderLibrary library(card::ReaderConfig{QStringLiteral("virtual:") + cards});
    card::ReaderContext context;
    card::openReader(library, context);
    QSettings ini(dir.filePath(QStringLiteral("Hotaru.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Trfc/nameServer"), QStringLiteral("http://127.0.0.1:9/trfc/"));
    {
        CRidelogDlg dialog(ini, &library, &context);
        dialog.show();
        QApplication::processEvents();
        putCard(cards, std::uint32_t(entries + 10)); // ten of its entries are new
        QElapsedTimer timer;
        timer.start();
        dialog.readCard();
        const double readMs = double(timer.nsecsElapsed()) / 1e6;
        test::inside(dialog).historyList()->viewport()->repaint();
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
        // What stays resident is measured once the names have been applied, as the user sees it.
        QElapsedTimer refresh;
        refresh.start();
        while (test::inside(dialog).nameRefresher().isRunning() && refresh.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        std::printf("after a read against %d stored entries (%d rows, read %.0f ms): "
                    "VmRSS %.1f MB, peak VmHWM %.1f MB (before the window %.1f MB)\n",
                    entries, test::inside(dialog).historyModel()->rowCount(), readMs,
                    double(statusKb("VmRSS")) / 1024, double(statusKb("VmHWM")) / 1024,
                    double(beforeWindow) / 1024);
        const struct mallinfo2 heap = mallinfo2();
        std::printf("  heap in use %.1f MB, free in the heap %.1f MB, mapped blocks %.1f MB\n",
                    double(heap.uordblks) / 1048576, double(heap.fordblks) / 1048576,
                    double(heap.hblkhd) / 1048576);
        if (qEnvironmentVariableIsSet("BENCH_MEMORY_ONLY")) {
            // Ends with the window still alive, for heaptrack; only the files go.
            QDir(dir.path()).removeRecursively();
            std::exit(0);
        }
        dialog.reject();
    }
    card::closeReader(library, context);
}

void measureFill(CRidelogDlg& dialog, int count)
{
    NameCaches& caches = dialog.session().caches();
    HistoryRecordSet records;
    for (int i = 0; i < count; ++i) {
        records.insert(decodeHistoryBlock(blockOf(std::uint32_t(i + 1)), caches.stations,
                                          caches.busStops, caches.shops));
    }
    for (auto& [key, entry] : caches.stations)
        entry.nm = QStringLiteral("駅%1-%2").arg(key.lc).arg(key.sc);

    double bestFill = 1e9;
    double bestPainted = 1e9;
    for (int round = 0; round < 5; ++round) {
        test::inside(dialog).clearHistoryList();
        dialog.session().records() = records;
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        test::inside(dialog).fillHistoryList();
        bestFill = std::min(bestFill, double(timer.nsecsElapsed()) / 1e6);
        test::inside(dialog).historyList()->viewport()->repaint();
        QApplication::processEvents();
        bestPainted = std::min(bestPainted, double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("%d records: fill %.2f ms, until painted %.2f ms (best of 5; %d rows)\n", count,
                bestFill, bestPainted, test::inside(dialog).historyModel()->rowCount());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const int entries = argc > 1 ? std::max(1000, atoi(argv[1])) : 100000;
    measureMemoryAfterRead(dir, entries);

    QTemporaryDir fillDir;
    qputenv("XDG_DATA_HOME", QFile::encodeName(fillDir.filePath(QStringLiteral("data"))));
    QSettings ini(fillDir.filePath(QStringLiteral("Hotaru.ini")), QSettings::IniFormat);
    CRidelogDlg dialog(ini, nullptr, nullptr);
    dialog.show();
    QApplication::processEvents();
    for (int count : {1000, 10000, 100000})
        measureFill(dialog, count);
    dialog.reject();
    return 0;
}
