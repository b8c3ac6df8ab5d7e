// Card dumps stored as reads: each file's blocks go through the very steps of a card read
// (the card's stored blocks are loaded, the dump's blocks with a named terminal type are merged
// in, a stored block wins, and only new serials are stored in one transaction), and the read is
// noted in the card library with the file's own date.
#pragma once

#include "card/carddump.h"

#include <QDateTime>
#include <QString>

namespace ridelog {

class HistoryStore;
class CardLibrary;

struct DumpImportResult
{
    QString path;
    bool stored = false;
    card::CardDumpKind kind = card::CardDumpKind::CardFile;
    QString idmText;
    int blocksInFile = 0; // history blocks with a named terminal type
    int added = 0;        // entries that were not stored yet
    QString reason;       // why the file was refused or not stored, in English
};

// store must have been opened (OpenDatabaseAtStart). The file is only read.
DumpImportResult importCardDump(const QString& path, HistoryStore& store, CardLibrary& library);

// The same for a dump already parsed.
DumpImportResult storeCardDump(const card::CardDump& dump, HistoryStore& store,
                               CardLibrary& library);

} // namespace ridelog
