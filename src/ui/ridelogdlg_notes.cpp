// Purposes and claim marks in the window: the 用途 column with its check box, the commands that
// edit them, and the column's own width and visibility (settings group "Claims").
#include "ui/columnfit.h"
#include "ui/commandids.h"
#include "ui/historylist.h"
#include "ui/journeynotes.h"
#include "ui/messagebox.h"
#include "ui/notedlg.h"
#include "ui/ridelogdlg.h"

#include <QAction>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QSettings>
#include <algorithm>

namespace ridelog {

namespace {

const QString kPurposeWidthKey = QStringLiteral("Claims/purposeColumnWidth");
const QString kPurposeShownKey = QStringLiteral("Claims/purposeColumnShown");

} // namespace

void CRidelogDlg::buildNoteParts()
{
    notes_ = new JourneyNotes(this);
    model_->setNotes(notes_);
    connect(notes_, &JourneyNotes::notesChanged, model_, &HistoryListModel::notesChanged);
    connect(notes_, &JourneyNotes::writeFailed, this, &CRidelogDlg::showNoteWriteFailure);
    connect(model_, &HistoryListModel::claimMarkToggled, this,
            [this](std::uint32_t serial, bool claimed) {
                notes_->apply({serial}, NoteChange{std::nullopt, claimed});
            });
    // F2 edits the purpose of the selected rows, as it renames in a file manager.
    QAction* edit = commands_.at(ids::EditPurpose);
    edit->setShortcut(QKeySequence(Qt::Key_F2));
    edit->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    list_->addAction(edit);
}

void CRidelogDlg::showNotesOfCard()
{
    notes_->setDatabasePath(session_.store().databasePath());
    if (notes_->idmText() != session_.idmText())
        notes_->showCard(session_.idmText());
    else if (!notes_->isWriting())
        notes_->reload(); // the history may have been cleared, or changed from the command line
}

std::vector<std::uint32_t> CRidelogDlg::selectedSerials() const
{
    QList<int> rows;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<std::uint32_t> serials;
    for (const int row : rows) {
        const std::uint32_t serial = serialOfRow(*view_, row);
        if (serial != kNoSerial)
            serials.push_back(serial);
    }
    return serials;
}

bool CRidelogDlg::applyNoteToSelection(const NoteChange& change)
{
    const std::vector<std::uint32_t> serials = selectedSerials();
    if (serials.empty() || (!change.purpose && !change.claimed))
        return false;
    notes_->apply(serials, change);
    return true;
}

// 用途を入力(&P)... (F2, a double-click on 用途): one purpose and one mark for the selected rows.
void CRidelogDlg::onEditPurpose()
{
    const std::vector<std::uint32_t> serials = selectedSerials();
    if (serials.empty())
        return;
    if (!notes_->isAvailable()) {
        showNoteWriteFailure(NoteWriteOutcome{NoteWriteResult::TableUnusable, QString(), 0});
        return;
    }
    std::vector<JourneyNote> current;
    for (const std::uint32_t serial : serials) {
        const JourneyNote* note = notes_->noteOf(serial);
        current.push_back(note != nullptr ? *note : JourneyNote{});
    }
    auto* dialog = new CNoteDlg(current, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The rows chosen when the dialog opened, whatever is selected when it closes.
    connect(dialog, &QDialog::accepted, this, [this, dialog, serials] {
        const NoteChange change = dialog->change();
        if (change.purpose || change.claimed)
            notes_->apply(serials, change);
    });
    dialog->open();
}

// 精算にチェック(&M): marks the selected rows, or unmarks them when all are marked.
void CRidelogDlg::onToggleClaim()
{
    const std::vector<std::uint32_t> serials = selectedSerials();
    const bool allMarked = std::all_of(serials.begin(), serials.end(), [this](std::uint32_t s) {
        const JourneyNote* note = notes_->noteOf(s);
        return note != nullptr && note->claimed;
    });
    applyNoteToSelection(NoteChange{std::nullopt, !allMarked});
}

// 表示 › 用途(&U)
void CRidelogDlg::onTogglePurposeColumn()
{
    const bool shown = commands_.at(ids::PurposeColumnView)->isChecked();
    list_->setColumnHidden(PurposeColumn, !shown);
    columnFitter_->fit();
}

void CRidelogDlg::restorePurposeColumn()
{
    bool ok = false;
    int width = userSettings_.value(kPurposeWidthKey).toInt(&ok);
    const int fallback = list_->fontMetrics().horizontalAdvance(QString(8, QChar(0x7528))) + 24;
    if (!ok || width < 30 || width > 2000)
        width = fallback;
    const int shownValue = userSettings_.value(kPurposeShownKey, 1).toInt(&ok);
    const bool shown = !ok || shownValue != 0;
    list_->header()->resizeSection(PurposeColumn, width);
    list_->setColumnHidden(PurposeColumn, !shown);
    commands_.at(ids::PurposeColumnView)->setChecked(shown);
    columnFitter_->fit();
}

void CRidelogDlg::savePurposeColumn()
{
    const bool shown = !list_->isColumnHidden(PurposeColumn);
    // A hidden column has no width of its own: the one stored stays.
    if (shown)
        userSettings_.setValue(kPurposeWidthKey, list_->header()->sectionSize(PurposeColumn));
    userSettings_.setValue(kPurposeShownKey, shown ? 1 : 0);
}

void CRidelogDlg::showNoteWriteFailure(const NoteWriteOutcome& outcome)
{
    switch (outcome.result) {
    case NoteWriteResult::Written:
        return;
    case NoteWriteResult::NoDatabase:
        MessageBox::show(this, tr("データベースにアクセスできません"));
        return;
    case NoteWriteResult::UnknownEntry:
        MessageBox::show(this, tr("この利用の履歴は保存されていないため、用途と精算の印を記録で"
                                  "きません。"));
        return;
    case NoteWriteResult::TableUnusable:
        MessageBox::show(this, tr("用途を記録する表（notes）が壊れているか、ほかのプログラムの"
                                  "ものです。表はそのままにしてあり、用途は表示も記録もできま"
                                  "せん。"));
        return;
    case NoteWriteResult::Locked:
        MessageBox::show(this,
                         tr("データベースがほかのプログラムに使われているため、用途を記録できま"
                            "せんでした。もう一度お試しください。"),
                         outcome.engineText);
        return;
    case NoteWriteResult::Failed:
        break;
    }
    MessageBox::show(this, tr("用途を記録できませんでした。"), outcome.engineText);
}

} // namespace ridelog
