#include "ui/journeynotes.h"

#include <QDateTime>
#include <QMetaObject>

namespace ridelog {

JourneyNotes::JourneyNotes(QObject* parent)
    : QObject(parent)
{
    // One thread: the edits reach the file in the order they were made.
    worker_.setMaxThreadCount(1);
}

JourneyNotes::~JourneyNotes()
{
    worker_.waitForDone();
}

void JourneyNotes::showCard(const QString& idmText)
{
    if (idmText == idm_)
        return;
    idm_ = idmText;
    reload();
}

void JourneyNotes::reload()
{
    if (idm_.isEmpty()) {
        notes_.clear();
        available_ = true;
    } else {
        LoadedNotes loaded = store_.notesOf(idm_);
        notes_ = std::move(loaded.notes);
        available_ = loaded.available;
    }
    emit notesChanged();
}

void JourneyNotes::clear()
{
    idm_.clear();
    reload();
}

const JourneyNote* JourneyNotes::noteOf(std::uint32_t serial) const
{
    const auto found = notes_.find(serial);
    return found == notes_.end() ? nullptr : &found->second;
}

void JourneyNotes::apply(const std::vector<std::uint32_t>& serials, const NoteChange& change)
{
    if (idm_.isEmpty() || serials.empty() || !available_)
        return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const std::optional<QString> purpose =
        change.purpose ? std::optional<QString>(cleanPurpose(*change.purpose)) : std::nullopt;
    for (const std::uint32_t serial : serials) {
        JourneyNote note = notes_.contains(serial) ? notes_[serial] : JourneyNote{};
        if (purpose)
            note.purpose = *purpose;
        if (change.claimed)
            note.claimed = *change.claimed;
        note.updated = now;
        if (note.isEmpty())
            notes_.erase(serial);
        else
            notes_[serial] = note;
    }
    emit notesChanged();

    ++pending_;
    const QString path = store_.databasePath();
    const QString idm = idm_;
    worker_.start([this, path, idm, serials, change, now] {
        const NoteWriteOutcome outcome = NoteStore(path).setNotes(idm, serials, change, now);
        QMetaObject::invokeMethod(
            this, [this, idm, outcome] { writeFinished(idm, outcome); }, Qt::QueuedConnection);
    });
}

void JourneyNotes::writeFinished(const QString& idmText, const NoteWriteOutcome& outcome)
{
    --pending_;
    if (outcome.written()) {
        emit written();
        return;
    }
    // What is shown must be what is kept.
    if (idmText == idm_)
        reload();
    emit writeFailed(outcome);
}

} // namespace ridelog
