// Starting and stopping the reader library around the main window.
#pragma once

#include "card/readerlibrary.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace ridelog {

// The four library operations the application itself calls, and the library the main window
// reads cards through.
class ReaderControl
{
public:
    virtual ~ReaderControl() = default;
    virtual bool initializeLibrary(card::ReaderContext& context) = 0;
    virtual bool openReaderWriterAuto(card::ReaderContext& context) = 0;
    virtual void closeReaderWriter(card::ReaderContext& context) = 0;
    virtual void disposeLibrary(card::ReaderContext& context) = 0;
    // Null when there is no library to read cards through (tests).
    virtual card::ReaderLibrary* library() = 0;
    // After a failed start: why, one line per reader backend tried (not attached, no
    // permission, in use, pcscd not running...). Empty when nothing is known.
    virtual QStringList failureReasons();
};

// The reader library with the reader chosen on the command line; traceFile, when set, receives
// every exchange with the reader.
std::unique_ptr<ReaderControl> makeReaderControl(const QString& readerOption,
                                                 const QString& traceFile = {});

enum OpenReaderResult : int
{
    ReaderOpened = 0,
    LibraryStartFailed = 1,
    ReaderOpenFailed = 2,
};

// 0: library started and reader open; 1: the library did not start; 2: no reader.
int openReader(card::ReaderContext& context, ReaderControl& reader);
// Closes what openReader opened, then deletes the context.
void closeReader(std::unique_ptr<card::ReaderContext>& context, ReaderControl& reader);

// The message shown when openReader did not return 0.
QString openReaderFailureText(int result);
// The message when a replayed trace cannot be played: each reason (with its line) in the box.
QString replayFailureText(const QStringList& reasons);

} // namespace ridelog
