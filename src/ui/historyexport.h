// The command "ファイルに保存(&S)": the history list as shown, written to a file.
#pragma once

#include "card/history.h"

#include <QDate>
#include <QString>
#include <cstdint>
#include <optional>

class QAbstractItemModel;
class QWidget;

namespace ridelog {

struct NameCaches;
class GateTimes;
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
    const JourneyNotes* notes = nullptr;  // purposes and claim marks of the card shown
    QString cardName = QString();         // the nickname for the JSON form; empty: none
    const GateTimes* gateTimes = nullptr; // the journeys' times at the gates
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

// Where the save dialog opens and what name it proposes.
struct ExportPlace
{
    QString folder;       // the folder saved to last; empty: the platform's choice
    QString proposedName; // without extension; empty: the card's id
};

// "通勤用 Suica_2024-12-02_2026-11-30": the card's nickname (or its IDm) and the dates of the
// oldest and the newest entry, with every character a file name cannot hold (/ \ : * ? " < > |,
// control characters) made "_", leading dots and blanks taken off, at most 120 characters.
QString proposedExportName(const QString& cardName, const QString& idmText, const QDate& first,
                           const QDate& last);

// The save dialog of the export: titled ファイルに保存, the list's CSV first and preselected,
// the card's id as the name unless place proposes another.
SaveFileRequest exportSaveRequest(const QString& idmText, const ExportPlace& place = {});

// The box of a failed export: what failed, why, and the file.
QString exportFailureText(const WriteFailure& failure);

// Asks for a file and writes the rows of the list, as shown and in their order, into it.
// Failures are told to the user; a cancelled dialog does nothing. The path written, if any.
std::optional<QString> exportHistoryList(QWidget* parent, const QAbstractItemModel& list,
                                         const QString& idmText,
                                         const ExpenseExportSource& source = {},
                                         const ExportPlace& place = {});

// The bytes of the UTF-8 CSV or JSON form of the rows of the list.
QByteArray expenseExportBytes(ExportFilter filter, const QAbstractItemModel& list,
                              const QString& idmText, const ExpenseExportSource& source);

} // namespace ridelog
