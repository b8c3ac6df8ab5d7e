// The program's own names file: the public rail station table, imported at build time by the
// name server's import and installed as share/ridelog/names.sqlite. It answers an item list
// in-process with the name server's own answer builder, so its answer is byte for byte what a
// server with the same file would send, and it is read by the same answer parser.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

namespace ridelog {

namespace nameserver {
class NameDirectory;
}

// The places searched for the names file, in order: the build tree when the program runs from
// it, then share/ridelog beside the program's own prefix (bin/../share/ridelog), the prefix it
// was built for, the system's data folders, and the build tree last.
QStringList builtinNamesCandidates();
// The first candidate that exists; the first candidate when none does (its failure names it).
QString findBuiltinNamesFile();

struct BuiltinAnswer
{
    bool available = false; // false: the names file is missing or damaged
    QString failure;        // why it is not available, in technical words
    QByteArray body;        // code page 932, "No data" when no item is known
    int skippedItems = 0;   // malformed items, left out as the server leaves them out
};

// Safe to share between threads. The file is read on the first answer (or load()) and kept for
// the run; a file that cannot be read is tried once and then reported without reading it again.
class BuiltinNames
{
public:
    explicit BuiltinNames(QString path = findBuiltinNamesFile());
    ~BuiltinNames();
    BuiltinNames(const BuiltinNames&) = delete;
    BuiltinNames& operator=(const BuiltinNames&) = delete;

    QString path() const { return path_; }

    // Reads the file unless that was tried before; false when it is not usable.
    bool load();
    // The answer to an item list as the client sends it ("12302%2c0%2c37%2c10%3a..."),
    // whatever its length. Blocks for the load on first use: never call it on the
    // user-interface thread.
    BuiltinAnswer answer(const QString& itemList);

private:
    bool loadLocked();

    const QString path_;
    std::mutex mutex_;
    bool tried_ = false;
    QString failure_;
    std::unique_ptr<const nameserver::NameDirectory> directory_;
};

} // namespace ridelog
