// The notes (purpose and claim mark) of the card on display. They are read once per card and
// looked up when a row is shown; an edit shows at once and is stored on a worker thread, so the
// window never waits for the disk.
#pragma once

#include "store/notestore.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <cstdint>
#include <vector>

namespace ridelog {

class JourneyNotes : public QObject
{
    Q_OBJECT

public:
    explicit JourneyNotes(QObject* parent = nullptr);
    // Waits for the writes under way; their results are dropped.
    ~JourneyNotes() override;

    void setDatabasePath(const QString& path) { store_.setDatabasePath(path); }
    const QString& databasePath() const { return store_.databasePath(); }

    // Reads the notes of the card, unless they are those of the card shown already.
    void showCard(const QString& idmText);
    // Reads them again (after the history was cleared, or a write failed).
    void reload();
    void clear();

    const QString& idmText() const { return idm_; }
    const CardNotes& notes() const { return notes_; }
    // False when the notes table cannot be used: no note is shown or taken.
    bool isAvailable() const { return available_; }
    const JourneyNote* noteOf(std::uint32_t serial) const;

    // Applies one change to the notes of the serials of the card shown: in memory at once
    // (notesChanged), in the database on the worker thread (written or writeFailed).
    void apply(const std::vector<std::uint32_t>& serials, const NoteChange& change);
    // Whether a write is under way, or its result not yet taken in.
    bool isWriting() const { return pending_ > 0; }

signals:
    void notesChanged();
    void written();
    // The change was not stored; the notes shown are those of the database again.
    void writeFailed(const ridelog::NoteWriteOutcome& outcome);

private:
    void writeFinished(const QString& idmText, const NoteWriteOutcome& outcome);

    NoteStore store_;
    QString idm_;
    CardNotes notes_;
    bool available_ = true;
    int pending_ = 0;
    QThreadPool worker_;
};

} // namespace ridelog
