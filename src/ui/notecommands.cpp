#include "ui/notecommands.h"

#include "ui/historylistpane.h"
#include "ui/historymodel.h"
#include "ui/journeynotes.h"
#include "ui/messagebox.h"
#include "ui/notedlg.h"

#include <QAction>
#include <QDialog>
#include <algorithm>

namespace ridelog {

NoteCommands::NoteCommands(QWidget* window, HistoryListPane& list)
    : QObject(window)
    , window_(window)
    , list_(list)
{
    notes_ = new JourneyNotes(this);
    HistoryListModel* rows = list_.rows();
    rows->setNotes(notes_);
    connect(notes_, &JourneyNotes::notesChanged, rows, &HistoryListModel::notesChanged);
    connect(notes_, &JourneyNotes::writeFailed, this, &NoteCommands::showWriteFailure);
    connect(rows, &HistoryListModel::claimMarkToggled, this,
            [this](std::uint32_t serial, bool claimed) {
                notes_->apply({serial}, NoteChange{std::nullopt, claimed});
            });
}

void NoteCommands::showNotesOf(const QString& databasePath, const QString& idmText)
{
    notes_->setDatabasePath(databasePath);
    if (notes_->idmText() != idmText)
        notes_->showCard(idmText);
    else if (!notes_->isWriting())
        notes_->reload();
}

void NoteCommands::followSelection(QAction* edit, QAction* claim) const
{
    const std::vector<std::uint32_t> serials = list_.selectedSerials();
    edit->setEnabled(!serials.empty());
    claim->setEnabled(!serials.empty());
    claim->setChecked(!serials.empty() && allClaimed(serials));
}

bool NoteCommands::allClaimed(const std::vector<std::uint32_t>& serials) const
{
    return std::all_of(serials.begin(), serials.end(), [this](std::uint32_t serial) {
        const JourneyNote* note = notes_->noteOf(serial);
        return note != nullptr && note->claimed;
    });
}

bool NoteCommands::applyToSelection(const NoteChange& change)
{
    const std::vector<std::uint32_t> serials = list_.selectedSerials();
    if (serials.empty() || (!change.purpose && !change.claimed))
        return false;
    notes_->apply(serials, change);
    return true;
}

void NoteCommands::editPurpose()
{
    const std::vector<std::uint32_t> serials = list_.selectedSerials();
    if (serials.empty())
        return;
    if (!notes_->isAvailable()) {
        showWriteFailure(NoteWriteOutcome{NoteWriteResult::TableUnusable, QString(), 0});
        return;
    }
    std::vector<JourneyNote> current;
    for (const std::uint32_t serial : serials) {
        const JourneyNote* note = notes_->noteOf(serial);
        current.push_back(note != nullptr ? *note : JourneyNote{});
    }
    auto* dialog = new CNoteDlg(current, window_);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The rows chosen when the dialog opened, whatever is selected when it closes.
    connect(dialog, &QDialog::accepted, this, [this, dialog, serials] {
        const NoteChange change = dialog->change();
        if (change.purpose || change.claimed)
            notes_->apply(serials, change);
    });
    dialog->open();
}

void NoteCommands::toggleClaim()
{
    const bool allMarked = allClaimed(list_.selectedSerials());
    applyToSelection(NoteChange{std::nullopt, !allMarked});
}

void NoteCommands::showWriteFailure(const NoteWriteOutcome& outcome)
{
    switch (outcome.result) {
    case NoteWriteResult::Written:
        return;
    case NoteWriteResult::NoDatabase:
        MessageBox::show(window_, tr("データベースにアクセスできません"));
        return;
    case NoteWriteResult::UnknownEntry:
        MessageBox::show(window_, tr("この利用の履歴は保存されていないため、用途と精算の印を記録"
                                     "できません。"));
        return;
    case NoteWriteResult::TableUnusable:
        MessageBox::show(window_, tr("用途を記録する表（notes）が壊れているか、ほかのプログラムの"
                                     "ものです。表はそのままにしてあり、用途は表示も記録もできま"
                                     "せん。"));
        return;
    case NoteWriteResult::Locked:
        MessageBox::show(window_,
                         tr("データベースがほかのプログラムに使われているため、用途を記録できま"
                            "せんでした。もう一度お試しください。"),
                         outcome.engineText);
        return;
    case NoteWriteResult::Failed:
        break;
    }
    MessageBox::show(window_, tr("用途を記録できませんでした。"), outcome.engineText);
}

} // namespace ridelog
