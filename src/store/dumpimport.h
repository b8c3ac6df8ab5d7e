// Card dumps stored as reads: each file's blocks go through the steps of a card read (the card's
// stored blocks are loaded, the dump's blocks with a named terminal type are merged in, a stored
// block wins, and only new serials are stored), and the read is noted in the card library with
// the file's own date. All the dumps of one call are stored in one transaction.
#pragma once

#include "card/carddump.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace ridelog {

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

// One result per path, in their order. The files are only read. A database that cannot be
// opened, is damaged or stays locked beyond busyTimeoutMs stores nothing; every result then says
// why.
std::vector<DumpImportResult> importCardDumps(const QStringList& paths, const QString& databasePath,
                                              int busyTimeoutMs);

} // namespace ridelog
