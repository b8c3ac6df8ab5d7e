// Fills the main window's history list with 10,000 records, names included, and lets the
// window lay out and paint. Best of five rounds.
#include "namedata/namecache.h"
#include "ui/historylist.h"
#include "ui/ridelogdlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>

using namespace ridelog;

namespace {

HistoryBlock blockOf(std::uint32_t serial)
{
    HistoryBlock block{};
    const std::uint8_t processTypes[] = {1, 1, 2, 15, 70};
    block[0] = processTypes[serial % 5] == 70 ? 199 : 22;
    block[1] = processTypes[serial % 5];
    const unsigned date =
        unsigned(8 + serial % 10) << 9 | unsigned(1 + serial % 12) << 5 | unsigned(1 + serial % 28);
    block[4] = std::uint8_t(date >> 8);
    block[5] = std::uint8_t(date);
    block[6] = std::uint8_t(serial % 100);
    block[7] = std::uint8_t(serial % 200);
    block[8] = std::uint8_t(serial % 90);
    block[9] = std::uint8_t(serial % 150);
    const int balance = int(10000 - serial % 9000);
    block[10] = std::uint8_t(balance);
    block[11] = std::uint8_t(balance >> 8);
    block[12] = std::uint8_t(serial >> 16);
    block[13] = std::uint8_t(serial >> 8);
    block[14] = std::uint8_t(serial);
    return block;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings ini(dir.filePath(QStringLiteral("Hotaru.ini")), QSettings::IniFormat);
    CRidelogDlg dialog(ini, nullptr, nullptr);
    dialog.show();
    QApplication::processEvents();

    NameCaches& caches = dialog.caches();
    const int kRecords = 10000;
    HistoryRecordSet records;
    for (int i = 0; i < kRecords; ++i) {
        const HistoryBlock block = blockOf(std::uint32_t(i + 1));
        HistoryRecord record =
            decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops);
        records.insert(std::move(record));
    }
    for (auto& [key, entry] : caches.stations)
        entry.nm = QStringLiteral("駅%1-%2").arg(key.lc).arg(key.sc);

    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        dialog.records() = records;
        QElapsedTimer timer;
        timer.start();
        dialog.historyModel()->removeRows(0, dialog.historyModel()->rowCount());
        dialog.fillHistoryList();
        dialog.historyList()->viewport()->repaint();
        QApplication::processEvents();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    std::printf("fill the list with %d records: %.1f ms (best of 5; %d rows)\n", kRecords, best,
                dialog.historyModel()->rowCount());
    dialog.reject();
    return 0;
}
