// The server's SQLite file: one table each for rail stations, bus stops and shops, written
// whole by the import and read whole when the server starts.
#pragma once

#include "namedata/namedirectory.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace ridelog::nameserver {

// True for a names file that writeNameDatabase made (also by earlier versions).
bool isNameDatabaseFile(const QString& path);

// Refuses to replace an existing file that is not a names file.
// Writes `directory` to a new file beside `path` and moves it over `path` only when complete,
// so a failed import leaves an earlier database as it was. `sources` are recorded in the file.
bool writeNameDatabase(const QString& path, const NameDirectory& directory,
                       const QStringList& sources, QString* error);

// Reads every name of the file; nothing on a missing, unreadable or foreign file.
std::optional<NameDirectory> readNameDatabase(const QString& path, QString* error);

} // namespace ridelog::nameserver
