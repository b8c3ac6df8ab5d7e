// The command line for scripts, run as a user runs it: "ridelog export --format json" of a card
// with 100,000 stored entries, and "ridelog cards" on a database with 50 cards. Each figure is
// the median wall time of the whole process, start-up included. Goals: under 1 s and 100 ms.
#include "store/database.h"
#include "store/historystore.h"
#include "store/schema.h"
#include "support/cardblocks.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ridelog;

namespace {

HistoryBlock entryBlock(std::uint32_t serial, int balance)
{
    const int kind = int(serial % 10);
    const int day = int(serial / 8); // about eight entries a day
    test::BlockFields f;
    f.terminal = kind == 9 ? 199 : kind == 8 ? 5 : 22; // shop, bus, gate
    f.process = kind == 9 ? 70 : kind == 8 ? 13 : kind == 7 ? 2 : 1;
    f.year = 2000 + day / 336;
    f.month = 1 + day / 28 % 12;
    f.day = 1 + day % 28;
    f.b6 = std::uint8_t(0x25 + serial % 3);
    f.b7 = std::uint8_t(serial % 40);
    f.b8 = std::uint8_t(0x25);
    f.b9 = std::uint8_t((serial + 7) % 40);
    f.balance = balance;
    f.serial = serial;
    return test::makeBlock(f);
}

// A database as the window leaves it: name tables with names, one table per card.
void makeDatabase(const QString& path, int cards, int entriesPerCard)
{
    Database database = Database::open(path, Database::OpenMode::CreateIfMissing, 1000);
    Transaction transaction(database);
    for (const auto table : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
        HistoryStore::EnsureNameTable(database, table);
    Statement station =
        database.prepareAddRow(QStringLiteral("ipn"), {QStringLiteral("ac"), QStringLiteral("lc"),
                                                       QStringLiteral("sc"), QStringLiteral("nm")});
    for (int line = 0x25; line < 0x28; ++line) {
        for (int code = 0; code < 40; ++code) {
            station.bind(1, 0);
            station.bind(2, line);
            station.bind(3, code);
            station.bind(4, QStringLiteral("駅%1-%2(山手線)").arg(line).arg(code));
            station.run();
            station.reset();
        }
    }
    for (int card = 0; card < cards; ++card) {
        const QString table =
            CardTableName(QStringLiteral("0101%1").arg(card, 12, 16, QLatin1Char('0')).toUpper());
        HistoryStore::CreateCardTable(database, table);
        Statement add = database.prepareAddRow(table, {QStringLiteral("b1"), QStringLiteral("b2"),
                                                       QStringLiteral("b3"), QStringLiteral("b4"),
                                                       QStringLiteral("seq")});
        int balance = 20000;
        for (int serial = 1; serial <= entriesPerCard; ++serial) {
            balance = serial % 10 == 7 ? std::min(balance + 3000, 60000)
                                       : std::max(balance - 160 - serial % 50, 0);
            const BlockWords words = blockWords(entryBlock(std::uint32_t(serial), balance));
            for (int w = 0; w < 4; ++w)
                add.bind(w + 1, words[std::size_t(w)]);
            add.bind(5, serial);
            add.run();
            add.reset();
        }
    }
    transaction.commit();
}

// Median wall time in milliseconds of running the program with these arguments.
double medianRun(const QString& dataHome, const QStringList& arguments, int rounds,
                 qint64* outputBytes)
{
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        environment.remove(QStringLiteral("DISPLAY"));
        process.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        process.start(QStringLiteral(RIDELOG_EXECUTABLE), arguments);
        process.waitForFinished(60000);
        const QByteArray out = process.readAllStandardOutput();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (process.exitCode() != 0) {
            std::fprintf(stderr, "ridelog failed: %s\n",
                         process.readAllStandardError().constData());
            return -1;
        }
        *outputBytes = out.size();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

// With a folder as argument the two data folders are made in it and kept, for profiling:
// FOLDER/big (one card, 0101000000000000) and FOLDER/many.
int main(int argc, char* argv[])
{
    QTemporaryDir temporary;
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    const QString folder = QStringLiteral("/Tanpopo/Hotaru/Trfc/");
    const QDir big(root + QStringLiteral("/big"));
    const QDir many(root + QStringLiteral("/many"));
    for (const QDir& dir : {big, many}) {
        QFile::remove(dir.path() + folder + HistoryStore::databaseFileName());
        if (!QDir().mkpath(dir.path() + folder))
            return 1;
    }
    QElapsedTimer setup;
    setup.start();
    makeDatabase(big.path() + folder + HistoryStore::databaseFileName(), 1, 100000);
    makeDatabase(many.path() + folder + HistoryStore::databaseFileName(), 50, 2000);
    std::printf("databases made in %.0f ms\n", double(setup.elapsed()));

    const QString card = QStringLiteral("0101000000000000");
    qint64 bytes = 0;
    const double json = medianRun(big.path(),
                                  {QStringLiteral("export"), QStringLiteral("--card"), card,
                                   QStringLiteral("--format"), QStringLiteral("json")},
                                  5, &bytes);
    std::printf("ridelog export --format json, 100000 entries: %.0f ms median of 5 (%lld bytes)"
                "  goal < 1000 ms\n",
                json, static_cast<long long>(bytes));
    const double csv = medianRun(
        big.path(), {QStringLiteral("export"), QStringLiteral("--card"), card}, 5, &bytes);
    std::printf("ridelog export --format csv, 100000 entries: %.0f ms median of 5 (%lld bytes)\n",
                csv, static_cast<long long>(bytes));
    const double totals = medianRun(
        big.path(), {QStringLiteral("totals"), QStringLiteral("--card"), card}, 5, &bytes);
    std::printf("ridelog totals, 100000 entries: %.0f ms median of 5\n", totals);
    const double cards = medianRun(many.path(), {QStringLiteral("cards")}, 11, &bytes);
    std::printf("ridelog cards, 50 cards of 2000 entries: %.1f ms median of 11 (%lld bytes)"
                "  goal < 100 ms\n",
                cards, static_cast<long long>(bytes));
    const bool met = json >= 0 && json < 1000 && cards >= 0 && cards < 100;
    std::printf("%s\n", met ? "both goals met" : "a goal was missed");
    return json >= 0 && cards >= 0 ? 0 : 1;
}
