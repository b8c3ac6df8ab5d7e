// Reader traces: every exchange between a reader backend and its transport, one line each, so
// that a user's reader session can be sent in and played back (see replaytransports.h).
//
//   # Ridelog reader trace
//   # backend: rcs380
//   # reader: Sony RC-S380/S (libusb, firmware 1.11)
//   # firmware: 1.11
//   # ridelog: 1.2.0
//   # started: 2024-05-01T09:30:00+09:00
//   12.407 r > usb 0000ffffff0300fdd62a01ff00
//   12.951 r < usb 0000ff00ff00
//   318.300 m < usb !timeout
//
// Columns: milliseconds since tracing began; the thread (r: the reads, m: the card monitor);
// the direction (> to the reader, < from it); the transport's unit (usb: RC-S380 bulk frames;
// apdu, connect, status: PC/SC; felica, present: libnfc); the bytes in hex, and/or a status
// word after '!' when the call did not simply succeed.
#pragma once

#include "namedata/checkedfile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>

class QIODevice;

namespace ridelog::card {

enum class TraceLane : char
{
    Reads = 'r',
    Monitor = 'm',
};

enum class TraceDirection : char
{
    ToReader = '>',
    FromReader = '<',
};

// The lane of the calling thread: Monitor on a backend's presence-monitor thread.
TraceLane currentTraceLane();

// Marks the calling thread as a presence-monitor thread while it lives.
class MonitorThreadMark
{
public:
    MonitorThreadMark();
    ~MonitorThreadMark();
    MonitorThreadMark(const MonitorThreadMark&) = delete;
    MonitorThreadMark& operator=(const MonitorThreadMark&) = delete;
};

struct TraceLine
{
    int lineNumber = 0;
    double milliseconds = 0;
    TraceLane lane = TraceLane::Reads;
    TraceDirection direction = TraceDirection::ToReader;
    QByteArray unit;
    QByteArray bytes;
    QByteArray status; // empty: plain success
};

// Longest frame a line may carry; longer lines are refused rather than buffered.
inline constexpr int kMaximumTraceFrame = 4096;

// One line of a trace. Blank lines and comments give nullopt with error empty.
std::optional<TraceLine> parseTraceLine(QByteArrayView text, int lineNumber, QString* error);

QByteArray formatTraceLine(const TraceLine& line);

// Reads a trace line by line from a device, never holding more than one line.
class TraceReader
{
public:
    explicit TraceReader(std::unique_ptr<QIODevice> device);
    ~TraceReader();

    // The next traffic line; nullopt at the end or on a fault (error() then says which line).
    std::optional<TraceLine> next();
    const QString& error() const { return error_; }
    // The line the trace ends in without its line end (cut off), 0 when it ends whole. That
    // line is not played: it may lack its last bytes.
    int cutAtLine() const { return cutAtLine_; }
    // "key: value" comment lines seen so far, e.g. header("backend").
    QString header(const QString& key) const;

private:
    std::unique_ptr<QIODevice> device_;
    QByteArray buffer_;
    int lineNumber_ = 0;
    int cutAtLine_ = 0;
    QString error_;
    QList<std::pair<QString, QString>> header_;
};

// Writes a trace while the reader runs. Lines recorded before begin() wait in memory (the
// start-up exchanges come before the reader's name is known) and go out behind the header.
// The trace replaces the file of its name when the reader closes (whole, through the checked
// writer); a file that cannot be written ends tracing with one warning that says why, the
// previous file stays as it was, and the reading goes on.
class ReaderTrace
{
public:
    explicit ReaderTrace(QString path);
    ~ReaderTrace();

    // Writes the header; only the first call counts. backend empty: no reader opened.
    void begin(const QString& backend, const QString& reader, const QString& firmware);
    void record(TraceDirection direction, const char* unit, const QByteArray& bytes,
                const QByteArray& status = {});
    bool failed() const;
    QString path() const { return path_; }

private:
    void writeLine(const QByteArray& line);
    void stop(const QString& reason);

    QString path_;
    mutable std::mutex mutex_;
    QElapsedTimer clock_;
    CheckedFileWriter file_;
    bool begun_ = false;
    bool failed_ = false;
    QByteArray pending_;
};

} // namespace ridelog::card
