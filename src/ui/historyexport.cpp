#include "ui/historyexport.h"

#include "store/listexport.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"

#include <QCoreApplication>
#include <array>

namespace ridelog {

namespace {

// In the order of the dialog's filters.
constexpr std::array<ExportFormat, 2> kFilterFormats{ExportFormat::Csv, ExportFormat::Text};

ExportFormat formatOfFilter(int filterIndex)
{
    return filterIndex >= 0 && filterIndex < int(kFilterFormats.size())
               ? kFilterFormats[std::size_t(filterIndex)]
               : ExportFormat::Csv;
}

} // namespace

SaveFileRequest exportSaveRequest(const QString& idmText)
{
    SaveFileRequest request;
    request.initialName = idmText;
    request.filters = {QCoreApplication::translate("HistoryExport", "CSV (カンマ区切り) (*csv)"),
                       QCoreApplication::translate("HistoryExport", "テキスト形式(*.txt)")};
    for (const ExportFormat format : kFilterFormats)
        request.suffixes.append(exportSuffix(format));
    request.selectedFilter = 0;
    return request;
}

void exportHistoryList(QWidget* parent, const QAbstractItemModel& list, const QString& idmText)
{
    const auto answer = SaveFileDialog::ask(parent, exportSaveRequest(idmText));
    if (!answer)
        return;
    const ExportFormat selected = formatOfFilter(answer->filterIndex);
    const QString path = exportPathWithSuffix(answer->path, selected);
    const QByteArray bytes = exportBytes(list, exportFormatOfPath(path, selected));
    switch (writeExportFile(path, bytes)) {
    case ExportWriteResult::Written:
        break;
    case ExportWriteResult::CannotCreate:
        MessageBox::show(
            parent, QCoreApplication::translate("HistoryExport", "ファイルを作成できません。"));
        break;
    case ExportWriteResult::WriteFailed:
        MessageBox::show(parent, QCoreApplication::translate("HistoryExport",
                                                             "ファイルに書き込めませんでした。"));
        break;
    }
}

} // namespace ridelog
