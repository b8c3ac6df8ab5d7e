// The built-in names: reading the names file (the first look-up of a run pays it), a typical
// look-up of one card (20 journeys, 40 items: answer built, then read by the answer parser),
// and a look-up of 5,000 items. Optional argument: the names file.
#include "names/builtinnames.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace ridelog;

namespace {

QString itemsOf(int count)
{
    QString items;
    for (int serial = 1; serial <= count; ++serial) {
        const StationKey key{0, 0x25, std::uint8_t(1 + serial % 30)};
        items += serial % 2 ? railEntryItem(std::uint32_t(serial), key)
                            : railExitItem(std::uint32_t(serial), key);
    }
    return items;
}

template <typename Work> double medianMicroseconds(int runs, Work work)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        work();
        times.push_back(double(clock.nsecsElapsed()) / 1000.0);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// CPU time of this thread: on a busy machine it shows the work itself, the wall clock adds
// the waits for a processor.
double threadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e6 + double(now.tv_nsec) / 1000.0;
}

// One look-up as the refresh does it: the answer, then the same reading as a server's answer.
std::size_t lookUp(BuiltinNames& names, const QString& items, const DisplayFlags& flags)
{
    const BuiltinAnswer answer = names.answer(items);
    NameExchangeResult result;
    result.httpStatus = 200;
    result.body = answer.body;
    NameRefreshTable table;
    readNameExchangeResult(result, flags, table);
    return table.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : findBuiltinNamesFile();
    DisplayFlags flags;

    const double load = medianMicroseconds(15, [&] {
        BuiltinNames names(path);
        if (!names.load())
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
    });
    const double cpuBefore = threadCpuMicroseconds();
    BuiltinNames names(path);
    if (!names.load())
        return 1;
    const double loadCpu = threadCpuMicroseconds() - cpuBefore;
    const QString typical = itemsOf(40);
    const QString large = itemsOf(5000);
    std::size_t rows = 0;
    const double first = medianMicroseconds(15, [&] {
        BuiltinNames fresh(path);
        rows = lookUp(fresh, typical, flags);
    });
    const double forty = medianMicroseconds(2000, [&] { rows = lookUp(names, typical, flags); });
    const double thousands = medianMicroseconds(50, [&] { rows += lookUp(names, large, flags); });
    std::printf("names file: %s\n", qPrintable(path));
    std::printf("load (read the names file):         %8.2f ms\n", load / 1000.0);
    std::printf("load, CPU time of the thread:       %8.2f ms\n", loadCpu / 1000.0);
    std::printf("first look-up, load included:       %8.2f ms\n", first / 1000.0);
    std::printf("look-up of 40 items after the load: %8.1f us\n", forty);
    std::printf("look-up of 5000 items:              %8.2f ms\n", thousands / 1000.0);
    return rows > 0 ? 0 : 1;
}
