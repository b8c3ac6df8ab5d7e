// Reads station-name server answers: a typical one (40 records, one card) and one at the
// 1 MiB bound; and applies an answer to a 20-row list, and to the 100,000 rows of a long
// stored history in the window's own list model, with its caches and records.
#include "namedata/answer.h"
#include "namedata/cp932.h"
#include "namedata/request.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"
#include "names/namerefresh.h"
#include "ui/historymodel.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace ridelog;

namespace {

QByteArray answerOf(int records)
{
    QString text;
    for (int serial = 1; serial <= records; ++serial) {
        text += QStringLiteral("%1%2").arg(serial).arg(serial % 2 ? QStringLiteral("02")
                                                                  : QStringLiteral("04"));
        text += QStringLiteral(",東日本旅客鉄道,山手,高田馬場:");
    }
    return cp932::encode(text);
}

// A plain list model: column 0 the serial, columns 4 and 5 the names.
class ListModel : public QAbstractTableModel
{
public:
    explicit ListModel(int rows)
        : cells_(std::size_t(rows), std::vector<QString>(7))
    {
        for (int row = 0; row < rows; ++row)
            cells_[std::size_t(row)][0] = QString::number(row + 1);
    }
    int rowCount(const QModelIndex& = {}) const override { return int(cells_.size()); }
    int columnCount(const QModelIndex& = {}) const override { return 7; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        return cells_[std::size_t(index.row())][std::size_t(index.column())];
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::DisplayRole)
            return false;
        cells_[std::size_t(index.row())][std::size_t(index.column())] = value.toString();
        return true;
    }

private:
    std::vector<std::vector<QString>> cells_;
};

// CPU time of this thread: on the shared build machine the wall clock also counts the time
// spent waiting for a core.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double microsecondsPerRun(int runs, const auto& work)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < runs; ++i)
        work();
    return double(clock.nsecsElapsed()) / 1000.0 / runs;
}

// A long stored history: journeys between 300 stations, every tenth entry a bus ride among 60
// stops and every seventh a purchase in one of 40 shops; nothing named yet.
HistoryRecordSet longHistory(int entries)
{
    HistoryRecordSet records;
    for (int i = 0; i < entries; ++i) {
        HistoryRecord record;
        record.serial = std::uint32_t(i + 1);
        record.balance = 10000 - i % 5000;
        if (i % 10 == 3) {
            record.kind = RecordKind::Bus;
            record.busKey = {0x1234, std::uint16_t(i % 60 + 1)};
        } else if (i % 7 == 5) {
            record.kind = RecordKind::Shop;
            record.shopKey = {1, 199, std::uint16_t(i % 40 + 1)};
        } else {
            record.kind = RecordKind::Rail;
            record.entryKey = {0, std::uint8_t(1 + i % 30), std::uint8_t(1 + (i / 30) % 10)};
            record.exitKey = {0, std::uint8_t(1 + (i * 7) % 30), std::uint8_t(1 + (i / 3) % 10)};
        }
        records.insert(record);
    }
    return records;
}

// A server that knows every key of the history.
nameserver::NameDirectory everyKeyOf(const HistoryRecordSet& records)
{
    nameserver::NameDirectory names;
    for (const HistoryRecord& r : records) {
        const QString n = QString::number(r.serial % 1000);
        names.addRail(r.entryKey, {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"), n});
        names.addRail(r.exitKey, {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"), n});
        names.addBus(r.busKey, {QStringLiteral("都営バス"), n, QStringLiteral("宿91")});
        names.addShop({0, r.shopKey.lc, r.shopKey.sc},
                      {QStringLiteral("売店"), n, QStringLiteral("1"), QString()});
    }
    return names;
}

void benchLongHistory(const DisplayFlags& flags)
{
    constexpr int kEntries = 100'000;
    const HistoryRecordSet history = longHistory(kEntries);
    const nameserver::NameDirectory names = everyKeyOf(history);
    double best = 1e30;
    double total = 0;
    double bestCpu = 1e30;
    constexpr int kRuns = 7;
    std::size_t items = 0;
    for (int run = 0; run < kRuns; ++run) {
        HistoryRecordSet records = history;
        NameCaches caches;
        HistoryListModel list;
        list.fill(records);
        const QString itemList = collectNameItems(list, records);
        const QByteArray escaped = itemList.toLatin1();
        const nameserver::ParsedRequest request =
            nameserver::parseItemList(std::string_view(escaped.constData(), escaped.size()));
        items = request.items.size();
        const std::string body = nameserver::buildAnswer(request.items, names);
        NameRefreshTable answer;
        readNameAnswer(200, QByteArray(body.data(), qsizetype(body.size())), flags, answer);
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = threadCpuMs();
        {
            // As the window lands an answer: one notification for the whole list.
            HistoryListModel::NameBatch batch(list);
            applyNameAnswer(list, records, answer, caches);
        }
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        bestCpu = std::min(bestCpu, threadCpuMs() - cpuStart);
        best = std::min(best, ms);
        total += ms;
    }
    std::printf("apply an answer of %zu items to %d rows (window list model): best %.1f ms, "
                "mean %.1f ms wall clock; best %.1f ms CPU\n",
                items, kEntries, best, total / kRuns, bestCpu);
}

} // namespace

int main()
{
    DisplayFlags flags;
    flags.railCompanyShown = flags.railLineShown = true;

    const QByteArray typical = answerOf(40);
    const double typicalUs = microsecondsPerRun(2000, [&] {
        NameRefreshTable table;
        readNameAnswer(200, typical, flags, table);
    });
    std::printf("typical answer (%lld bytes, 40 records): %.1f us\n",
                static_cast<long long>(typical.size()), typicalUs);

    NameExchangeResult largest;
    largest.httpStatus = 200;
    largest.cutOff = true;
    largest.body = answerOf(40000).first(kMaxNameAnswerBytes);
    std::size_t rows = 0;
    const double largestUs = microsecondsPerRun(5, [&] {
        NameRefreshTable table;
        readNameExchangeResult(largest, flags, table);
        rows = table.size();
    });
    std::printf("answer at the bound (%lld bytes, %zu rows): %.1f ms\n",
                static_cast<long long>(largest.body.size()), rows, largestUs / 1000.0);

    NameRefreshTable table;
    readNameAnswer(200, answerOf(20), flags, table);
    HistoryRecordSet records;
    for (std::uint32_t serial = 1; serial <= 20; ++serial) {
        HistoryRecord record;
        record.kind = RecordKind::Rail;
        record.serial = serial;
        record.entryKey = {0, std::uint8_t(serial), 1};
        record.exitKey = {0, std::uint8_t(serial), 2};
        records.insert(record);
    }
    ListModel list(20);
    NameCaches caches;
    const double applyUs = microsecondsPerRun(2000, [&] {
        HistoryRecordSet unnamed = records;
        applyNameAnswer(list, unnamed, table, caches);
    });
    std::printf("apply 20 rows to list, caches and records: %.1f us\n", applyUs);

    benchLongHistory(flags);
    return 0;
}
