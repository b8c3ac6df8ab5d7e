#include "ui/historyexport.h"

#include "namedata/checkedfile.h"
#include "report/expenseentries.h"
#include "report/expenseexport.h"
#include "store/listexport.h"
#include "store/missedhistory.h"
#include "ui/historylist.h"
#include "ui/journeynotes.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <vector>

namespace ridelog {

namespace {

struct FilterInfo
{
    ExportFilter filter;
    const char* text; // translated when shown
    const char16_t* suffix;
};

// In the order of the dialog's filters.
constexpr FilterInfo kFilters[] = {
    {ExportFilter::ListCsv, QT_TRANSLATE_NOOP("HistoryExport", "CSV (カンマ区切り) (*csv)"),
     u"csv"},
    {ExportFilter::ListText, QT_TRANSLATE_NOOP("HistoryExport", "テキスト形式(*.txt)"), u"txt"},
    {ExportFilter::Utf8Csv, QT_TRANSLATE_NOOP("HistoryExport", "CSV UTF-8 見出し付き (*.csv)"),
     u"csv"},
    {ExportFilter::Json, QT_TRANSLATE_NOOP("HistoryExport", "JSON (*.json)"), u"json"},
};

ExportFilter filterOfIndex(int filterIndex)
{
    return filterIndex >= 0 && filterIndex < int(std::size(kFilters)) ? kFilters[filterIndex].filter
                                                                      : ExportFilter::ListCsv;
}

QString suffixOf(ExportFilter filter)
{
    return QString::fromUtf16(kFilters[int(filter)].suffix);
}

QString pathWithSuffix(const QString& chosenPath, ExportFilter filter)
{
    if (QFileInfo(chosenPath).fileName().contains(QLatin1Char('.')))
        return chosenPath;
    return chosenPath + QLatin1Char('.') + suffixOf(filter);
}

// The list's own forms: the extension decides between CSV and text, as it always has.
QByteArray listExportBytes(ExportFilter filter, const QAbstractItemModel& list, const QString& path)
{
    const ExportFormat selected =
        filter == ExportFilter::ListText ? ExportFormat::Text : ExportFormat::Csv;
    return exportBytes(list, exportFormatOfPath(path, selected));
}

// The serial of every row, in the order the list shows them.
std::vector<std::uint32_t> shownSerials(const QAbstractItemModel& list)
{
    std::vector<std::uint32_t> serials;
    const int rows = list.rowCount();
    serials.reserve(std::size_t(rows));
    for (int row = 0; row < rows; ++row) {
        // The marker of missed history has no entry; the entry after it carries the mark.
        if (!list.data(list.index(row, 0), MissedHistoryMarkerRole).toBool())
            serials.push_back(serialOfRow(list, row));
    }
    return serials;
}

} // namespace

QString proposedExportName(const QString& cardName, const QString& idmText, const QDate& first,
                           const QDate& last)
{
    constexpr qsizetype kLongestName = 120;
    QString name = cardName.trimmed().isEmpty() ? idmText : cardName.trimmed();
    if (name.isEmpty())
        return QString();
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringView(u"/\\:*?\"<>|").contains(c))
            c = QLatin1Char('_');
    }
    while (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char(' ')))
        name.remove(0, 1);
    QString dates;
    if (first.isValid() && last.isValid())
        dates = QLatin1Char('_') + isoDateText(first) + QLatin1Char('_') + isoDateText(last);
    name = name.left(kLongestName - dates.size()).trimmed();
    return name.isEmpty() ? idmText + dates : name + dates;
}

namespace {

QString writeFaultText(WriteFault fault)
{
    switch (fault) {
    case WriteFault::None:
        break;
    case WriteFault::NoSpace:
        return QCoreApplication::translate("HistoryExport", "ディスクの空き容量が足りません。");
    case WriteFault::TooLarge:
        return QCoreApplication::translate("HistoryExport", "ファイルが大きすぎます。");
    case WriteFault::NoPermission:
        return QCoreApplication::translate("HistoryExport", "書き込む権限がありません。");
    case WriteFault::ReadOnlyFiles:
        return QCoreApplication::translate("HistoryExport", "読み取り専用のファイルシステムです。");
    case WriteFault::NoFolder:
        return QCoreApplication::translate("HistoryExport", "フォルダがありません。");
    case WriteFault::IsFolder:
        return QCoreApplication::translate("HistoryExport", "同じ名前のフォルダがあります。");
    case WriteFault::NotAFile:
        return QCoreApplication::translate("HistoryExport", "通常のファイルではありません。");
    case WriteFault::ShortWrite:
        return QCoreApplication::translate("HistoryExport",
                                           "ファイルが最後まで書き込まれませんでした。");
    case WriteFault::InputOutput:
        return QCoreApplication::translate("HistoryExport", "入出力エラーが発生しました。");
    }
    return QString();
}

} // namespace

QString exportFailureText(const WriteFailure& failure)
{
    // Where the file could not even be made, the export's own sentence says so.
    const bool notCreated =
        failure.fault == WriteFault::NoPermission || failure.fault == WriteFault::ReadOnlyFiles ||
        failure.fault == WriteFault::NoFolder || failure.fault == WriteFault::IsFolder ||
        failure.fault == WriteFault::NotAFile;
    const QString headline =
        notCreated
            ? QCoreApplication::translate("HistoryExport", "ファイルを作成できません。")
            : QCoreApplication::translate("HistoryExport", "ファイルに書き込めませんでした。");
    return headline + QStringLiteral("\r\n") + writeFaultText(failure.fault) +
           QStringLiteral("\r\n") + QDir::toNativeSeparators(failure.path);
}

SaveFileRequest exportSaveRequest(const QString& idmText, const ExportPlace& place)
{
    SaveFileRequest request;
    request.title = QCoreApplication::translate("HistoryExport", "ファイルに保存");
    request.directory = place.folder;
    request.initialName = place.proposedName.isEmpty() ? idmText : place.proposedName;
    for (const FilterInfo& info : kFilters) {
        request.filters.append(QCoreApplication::translate("HistoryExport", info.text));
        request.suffixes.append(QString::fromUtf16(info.suffix));
    }
    request.selectedFilter = 0;
    return request;
}

QByteArray expenseExportBytes(ExportFilter filter, const QAbstractItemModel& list,
                              const QString& idmText, const ExpenseExportSource& source)
{
    std::vector<ExpenseEntry> shown;
    if (source.records != nullptr) {
        std::vector<ExpenseEntry> all =
            expenseEntries(*source.records, source.gapBeforeSerial, source.caches);
        if (source.notes != nullptr)
            attachNotes(all, source.notes->notes());
        if (source.gateTimes != nullptr)
            addGateTimes(all, *source.gateTimes);
        const std::vector<std::uint32_t> serials = shownSerials(list);
        shown = entriesInOrder(all, serials);
    }
    return filter == ExportFilter::Json ? expenseJsonBytes(shown, idmText, source.cardName)
                                        : expenseCsvBytes(shown, idmText);
}

std::optional<QString> exportHistoryList(QWidget* parent, const QAbstractItemModel& list,
                                         const QString& idmText, const ExpenseExportSource& source,
                                         const ExportPlace& place)
{
    const auto answer = SaveFileDialog::ask(parent, exportSaveRequest(idmText, place));
    if (!answer)
        return std::nullopt;
    const ExportFilter filter = filterOfIndex(answer->filterIndex);
    const QString path = pathWithSuffix(answer->path, filter);
    const bool listForm = filter == ExportFilter::ListCsv || filter == ExportFilter::ListText;
    const QByteArray bytes = listForm ? listExportBytes(filter, list, path)
                                      : expenseExportBytes(filter, list, idmText, source);
    WriteFailure failure;
    if (!writeFileChecked(path, bytes, &failure)) {
        MessageBox::show(parent, exportFailureText(failure));
        return std::nullopt;
    }
    return path;
}

} // namespace ridelog
