// Backups, merging and dump imports on a lifetime of history: a backup of 100,000 entries (it
// runs on a worker thread beside the window), a merge of 100,000 entries (with 30,000 gate-log
// taps and the kinds of the cards) into an empty history and into one that holds half of them,
// and 100 Flipper Zero dumps imported as reads.
#include "store/backups.h"
#include "store/cardlibrary.h"
#include "store/dumpimport.h"
#include "store/historymerge.h"
#include "store/historystore.h"
#include "support/gatehistory.h"
#include "support/historyfixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <thread>

using namespace ridelog;
using namespace ridelog::test;

namespace {

constexpr int kCards = 50;
constexpr int kEntriesPerCard = 2000;
// The taps of a card read every evening for 300 days: an entry and an exit a day.
constexpr int kTapDays = 300;

std::vector<HistoryBlock> gateTapsOfAYear(int card)
{
    std::vector<HistoryBlock> taps;
    for (int day = 0; day < kTapDays; ++day) {
        const QDate date = QDate(2015, 4, 1).addDays(day);
        taps.push_back(testing::gateBlock(0xA0, testing::kShinjuku, date, 7, 40 + card % 20));
        taps.push_back(testing::gateBlock(0x20, testing::kTokyo, date, 8, 20 + day % 30, 208));
    }
    return taps;
}

QString cardIdm(int card)
{
    return QStringLiteral("01010A10E41A%1").arg(card, 4, 16, QLatin1Char('0')).toUpper();
}

void writeHistory(const QString& path, int entriesPerCard)
{
    HistoryFileWriter writer(path);
    for (int card = 0; card < kCards; ++card)
        writer.card(cardIdm(card), historyEntries(1, entriesPerCard))
            .nickname(cardIdm(card), QStringLiteral("カード%1").arg(card), 1700000000, 1710000000)
            .gateTaps(cardIdm(card), gateTapsOfAYear(card), 1710000000)
            .kind(cardIdm(card), card % 2 ? card::CardKind::Pasmo : card::CardKind::Suica,
                  1710000000);
    Transaction transaction(writer.database());
    for (int i = 0; i < 5000; ++i)
        writer.station(i % 4, (i / 4) % 256, i / 1024, QStringLiteral("会社"), QStringLiteral("線"),
                       QStringLiteral("駅%1").arg(i));
    transaction.commit();
}

double milliseconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

void benchBackup(const QTemporaryDir& dir, const QString& database)
{
    BackupRequest request;
    request.databasePath = database;
    request.folder = dir.filePath(QStringLiteral("backups/"));
    request.createFolder = true;
    for (int run = 0; run < 3; ++run) {
        request.now = QDateTime(QDate(2024, 1, 1 + run), QTime(9, 0), Qt::UTC);
        BackupOutcome outcome;
        QElapsedTimer timer;
        timer.start();
        std::thread worker([&] { outcome = writeBackup(request); });
        worker.join();
        std::printf("backup of %d entries (%.1f MB) on a worker thread: %.1f ms (%s)\n",
                    kCards * kEntriesPerCard, double(QFileInfo(database).size()) / 1e6,
                    milliseconds(timer),
                    outcome.status == BackupOutcome::Status::Written ? "written" : "FAILED");
    }
}

void benchMerge(const QTemporaryDir& dir, const QString& source)
{
    for (const int held : {0, kEntriesPerCard / 2}) {
        const QString target = dir.filePath(QStringLiteral("target-%1.sqlite").arg(held));
        HistoryFileWriter writer(target);
        if (held > 0) {
            for (int card = 0; card < kCards; ++card)
                writer.card(cardIdm(card), historyEntries(1, held));
        }
        QElapsedTimer timer;
        timer.start();
        const MergeOutcome outcome = mergeHistoryFile(source, target, 3000);
        std::printf("merge of %d entries into a history holding %d: %.1f ms, %lld added, %d gate "
                    "taps, %d kinds (%s)\n",
                    kCards * kEntriesPerCard, kCards * held, milliseconds(timer),
                    static_cast<long long>(outcome.report.entries), outcome.report.gateTaps,
                    outcome.report.cardKinds, outcome.merged ? "merged" : "FAILED");
        timer.start();
        const MergeOutcome again = mergeHistoryFile(source, target, 3000);
        std::printf("  the same merge again: %.1f ms, %s\n", milliseconds(timer),
                    again.report.addedNothing() ? "nothing added" : "ADDED AGAIN");
    }
}

void benchImports(const QTemporaryDir& dir)
{
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("import-data")).toUtf8());
    QStringList files;
    for (int i = 0; i < 100; ++i) {
        auto blocks = historyEntries(std::uint32_t(1 + i * 5), 20);
        std::reverse(blocks.begin(), blocks.end());
        const QString path = dir.filePath(QStringLiteral("dump-%1.nfc").arg(i));
        writeFile(path, flipperNfcFile(cardIdm(i % 10), blocks));
        files.append(path);
    }
    QElapsedTimer timer;
    timer.start();
    const QString database = HistoryStore::dataFolderLocation() + HistoryStore::databaseFileName();
    int added = 0;
    for (const DumpImportResult& result : importCardDumps(files, database, 3000))
        added += result.added;
    std::printf("import of 100 Flipper dumps (10 cards, 20 entries each): %.1f ms, %d added\n",
                milliseconds(timer), added);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("ekdb.sqlite"));
    writeHistory(database, kEntriesPerCard);
    benchBackup(dir, database);
    benchMerge(dir, database);
    benchImports(dir);
    return 0;
}
