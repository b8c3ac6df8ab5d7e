// Purposes and claim marks in the main window: the notes of the card on display, the commands
// that edit them for the selected rows, and the messages when they cannot be stored.
#pragma once

#include "store/notestore.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

class QAction;
class QWidget;

namespace ridelog {

class HistoryListPane;
class JourneyNotes;

class NoteCommands : public QObject
{
    Q_OBJECT

public:
    // window: the parent of the dialogs and messages. list: the rows the notes are shown in,
    // whose selection the commands work on.
    NoteCommands(QWidget* window, HistoryListPane& list);

    JourneyNotes* notes() const { return notes_; }
    // The notes of the card on display, read again when they are the ones shown already (the
    // history may have been cleared, or changed from the command line).
    void showNotesOf(const QString& databasePath, const QString& idmText);
    // Enables edit and claim for a selection with entries; claim is checked when all of them
    // are marked.
    void followSelection(QAction* edit, QAction* claim) const;

    // 用途を入力(&P)... (F2, a double-click on 用途): one purpose and one mark for the selected
    // rows, asked in a dialog.
    void editPurpose();
    // 精算にチェック(&M): marks the selected rows, or unmarks them when all are marked.
    void toggleClaim();
    // Applies one purpose and one mark to the selected rows (what editPurpose does after its
    // dialog); false when no selected row has an entry.
    bool applyToSelection(const NoteChange& change);

private:
    bool allClaimed(const std::vector<std::uint32_t>& serials) const;
    void showWriteFailure(const NoteWriteOutcome& outcome);

    QWidget* window_;
    HistoryListPane& list_;
    JourneyNotes* notes_ = nullptr;
};

} // namespace ridelog
