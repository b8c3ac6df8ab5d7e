// Export of a long history list: building the bytes of 500 rows and writing them safely.
#include "namedata/checkedfile.h"
#include "store/listexport.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

using namespace ridelog;

namespace {

// Rows as the history list shows them, a fifth of them with a name that needs quoting.
class HistoryRows : public QAbstractTableModel
{
public:
    explicit HistoryRows(int rows)
        : rows_(rows)
    {}
    int rowCount(const QModelIndex& = QModelIndex()) const override { return rows_; }
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 7; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return QVariant();
        const int row = index.row();
        switch (index.column()) {
        case 0:
            return QString::number(rows_ - row);
        case 1:
            return QStringLiteral("2008-3-5");
        case 2:
            return QStringLiteral("改札機");
        case 3:
            return QStringLiteral("運賃支払");
        case 4:
            return row % 5 == 0 ? QStringLiteral("渋谷(東京急行電鉄,東急：東横線)")
                                : QStringLiteral("渋谷(山手線)");
        case 5:
            return QStringLiteral("新宿(山手線)");
        default:
            return QString::number(-160 - row);
        }
    }

private:
    int rows_;
};

} // namespace

int main()
{
    constexpr int kRows = 500;
    constexpr int kRounds = 200;
    const HistoryRows rows(kRows);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.csv"));

    QElapsedTimer timer;
    qsizetype bytes = 0;
    timer.start();
    for (int round = 0; round < kRounds; ++round)
        bytes = exportBytes(rows, ExportFormat::Csv).size();
    const double buildMs = double(timer.nsecsElapsed()) / 1e6 / kRounds;

    const QByteArray content = exportBytes(rows, ExportFormat::Csv);
    timer.restart();
    int failures = 0;
    for (int round = 0; round < kRounds; ++round)
        failures += !writeFileChecked(path, content, nullptr);
    const double writeMs = double(timer.nsecsElapsed()) / 1e6 / kRounds;

    std::printf("bench_export: %d rows, %lld bytes: build %.3f ms, write %.3f ms per export"
                " (%d failed)\n",
                kRows, static_cast<long long>(bytes), buildMs, writeMs, failures);
    return failures == 0 ? 0 : 1;
}
