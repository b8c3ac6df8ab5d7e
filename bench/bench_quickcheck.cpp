// The integrity check at start-up (PRAGMA quick_check on a connection of its own) against
// databases of 1,000 / 10,000 / 100,000 stored entries: 5,000 cards of 20 blocks each at the
// top end, plus 25,000 names. It runs off the user-interface thread; this is how long it takes.
#include "store/databasecheck.h"
#include "store/historystore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ridelog;

namespace {

void fillDatabase(const QString& path, int entries)
{
    Database db = Database::open(path, Database::OpenMode::CreateIfMissing, 1000);
    for (const auto table : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
        HistoryStore::EnsureNameTable(db, table);
    Transaction transaction(db);
    Statement name = db.prepareAddRow(
        QStringLiteral("ipn"), {QStringLiteral("ac"), QStringLiteral("lc"), QStringLiteral("sc"),
                                QStringLiteral("sn"), QStringLiteral("nm")});
    for (int i = 0; i < 25000; ++i) {
        name.bind(1, std::int64_t(i % 4));
        name.bind(2, std::int64_t((i / 4) % 256));
        name.bind(3, std::int64_t(i / 1024));
        name.bind(4, QStringLiteral("駅%1").arg(i));
        name.bind(5, QStringLiteral("駅%1(線)").arg(i));
        name.run();
        name.reset();
    }
    const int cards = std::max(1, entries / 20);
    for (int card = 0; card < cards; ++card) {
        const QString table =
            CardTableName(QStringLiteral("%1").arg(card, 16, 16, QLatin1Char('0')).toUpper());
        HistoryStore::CreateCardTable(db, table);
        Statement add = db.prepareAddRow(table, {QStringLiteral("b1"), QStringLiteral("b2"),
                                                 QStringLiteral("b3"), QStringLiteral("b4"),
                                                 QStringLiteral("seq")});
        for (int serial = 1; serial <= 20; ++serial) {
            add.bind(1, std::int64_t(0x00000116 + serial));
            add.bind(2, std::int64_t(0x0A258130));
            add.bind(3, std::int64_t(0x03E81126 + card));
            add.bind(4, std::int64_t(serial) << 16);
            add.bind(5, std::int64_t(serial));
            add.run();
            add.reset();
        }
    }
    transaction.commit();
}

} // namespace

int main()
{
    std::printf("%-10s %10s %12s %12s\n", "entries", "file KiB", "median ms", "max ms");
    for (const int entries : {1000, 10000, 100000}) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ekdb.sqlite"));
        fillDatabase(path, entries);
        std::vector<double> times;
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer clock;
            clock.start();
            const QuickCheckResult result = quickCheckDatabase(path, 1000);
            times.push_back(double(clock.nsecsElapsed()) / 1e6);
            if (result.damaged || !result.text.isEmpty()) {
                std::printf("unexpected result: %s\n", qUtf8Printable(result.text));
                return 1;
            }
        }
        std::sort(times.begin(), times.end());
        std::printf("%-10d %10lld %12.1f %12.1f\n", entries,
                    static_cast<long long>(QFileInfo(path).size() / 1024), times[times.size() / 2],
                    times.back());
    }
    return 0;
}
