// Reads station-name server answers: a typical one (40 records, one card) and one at the
// 1 MiB bound; and applies a card's answers to a 20-row list, the caches and the records.
#include "namedata/cp932.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"
#include "names/namerefresh.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <cstdio>
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

double microsecondsPerRun(int runs, const auto& work)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < runs; ++i)
        work();
    return double(clock.nsecsElapsed()) / 1000.0 / runs;
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
        applyNamesToList(list, table);
        applyNamesToCachesAndRecords(table, records, caches);
    });
    std::printf("apply 20 rows to list, caches and records: %.1f us\n", applyUs);
    return 0;
}
