// The command "ファイルに保存(&S)": the history list as shown, written to a file.
#pragma once

#include <QString>

class QAbstractItemModel;
class QWidget;

namespace ridelog {

struct SaveFileRequest;

// The save dialog of the export: CSV first and preselected, the card's id as the name.
SaveFileRequest exportSaveRequest(const QString& idmText);

// Asks for a file and writes every row of the list into it. Failures are told to the user;
// a cancelled dialog does nothing.
void exportHistoryList(QWidget* parent, const QAbstractItemModel& list, const QString& idmText);

} // namespace ridelog
