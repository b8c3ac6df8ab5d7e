// The command "ファイルに保存(&S)": the history list as shown, written to a file.
#pragma once

#include "card/history.h"

#include <QString>
#include <cstdint>
#include <optional>

class QAbstractItemModel;
class QWidget;

namespace ridelog {

struct NameCaches;
class JourneyNotes;
struct SaveFileRequest;
struct WriteFailure;

// What the spreadsheet and program formats need beyond the list's texts: the records behind
// the rows, the current names, and the entry before which history may be missing.
struct ExpenseExportSource
{
    const HistoryRecordSet* records = nullptr;
    NameCaches* caches = nullptr;
    std::optional<std::uint32_t> gapBeforeSerial;
    const JourneyNotes* notes = nullptr; // purposes and claim marks of the card shown
};

// The filters of the save dialog, in order: the list's CSV and text forms, then UTF-8 CSV with a
// header row and JSON.
enum class ExportFilter : int
{
    ListCsv = 0,
    ListText = 1,
    Utf8Csv = 2,
    Json = 3,
};

// The save dialog of the export: the list's CSV first and preselected, the card's id as the name.
SaveFileRequest exportSaveRequest(const QString& idmText);

// The box of a failed export: what failed, why, and the file.
QString exportFailureText(const WriteFailure& failure);

// Asks for a file and writes the rows of the list, as shown and in their order, into it.
// Failures are told to the user; a cancelled dialog does nothing.
void exportHistoryList(QWidget* parent, const QAbstractItemModel& list, const QString& idmText,
                       const ExpenseExportSource& source = {});

// The bytes of the UTF-8 CSV or JSON form of the rows of the list.
QByteArray expenseExportBytes(ExportFilter filter, const QAbstractItemModel& list,
                              const QString& idmText, const ExpenseExportSource& source);

} // namespace ridelog
