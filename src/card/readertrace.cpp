#include "card/readertrace.h"

#include <QDateTime>
#include <QIODevice>
#include <QtDebug>
#include <algorithm>
#include <array>

namespace ridelog::card {

namespace {

thread_local bool onMonitorThread = false;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isStatusCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
           c == '+';
}

bool isUnitCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::optional<double> millisecondsOf(QByteArrayView token)
{
    int dots = 0;
    for (const char c : token) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return std::nullopt;
    }
    if (token.isEmpty() || dots > 1 || token.front() == '.' || token.size() > 24)
        return std::nullopt;
    bool ok = false;
    const double value = token.toByteArray().toDouble(&ok);
    // Beyond about 30 years a trace is not a reader session.
    constexpr double latest = 1e12;
    return ok && value < latest ? std::optional<double>(value) : std::nullopt;
}

QString lineError(int lineNumber, const QString& what)
{
    return QStringLiteral("line %1: %2").arg(lineNumber).arg(what);
}

} // namespace

namespace {

QString startedAtOf(const QElapsedTimer& clock)
{
    const QDateTime now = QDateTime::currentDateTime().addMSecs(-clock.elapsed());
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

} // namespace

TraceLane currentTraceLane()
{
    return onMonitorThread ? TraceLane::Monitor : TraceLane::Reads;
}

MonitorThreadMark::MonitorThreadMark()
{
    onMonitorThread = true;
}

MonitorThreadMark::~MonitorThreadMark()
{
    onMonitorThread = false;
}

std::optional<TraceLine> parseTraceLine(QByteArrayView text, int lineNumber, QString* error)
{
    error->clear();
    // A line has at most six tokens; one more is enough to refuse it below.
    std::array<QByteArrayView, 8> found;
    qsizetype count = 0;
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    for (const char* at = begin; at < end && count < qsizetype(found.size());) {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n'))
            ++at;
        const char* const first = at;
        while (at < end && *at != ' ' && *at != '\t' && *at != '\r' && *at != '\n')
            ++at;
        if (at > first)
            found[std::size_t(count++)] = QByteArrayView(first, at - first);
    }
    const auto token = [&found](qsizetype i) { return found[std::size_t(i)]; };
    if (count == 0 || token(0).startsWith('#'))
        return std::nullopt;

    TraceLine line;
    line.lineNumber = lineNumber;
    const std::optional<double> time = millisecondsOf(token(0));
    if (!time) {
        *error = lineError(lineNumber, QStringLiteral("the time is not a number of milliseconds"));
        return std::nullopt;
    }
    line.milliseconds = *time;
    if (count < 4) {
        *error = lineError(lineNumber, QStringLiteral("expected: time, thread, direction, unit"));
        return std::nullopt;
    }
    if (token(1) == "r")
        line.lane = TraceLane::Reads;
    else if (token(1) == "m")
        line.lane = TraceLane::Monitor;
    else {
        *error = lineError(lineNumber, QStringLiteral("the thread is neither r nor m"));
        return std::nullopt;
    }
    if (token(2) == ">")
        line.direction = TraceDirection::ToReader;
    else if (token(2) == "<")
        line.direction = TraceDirection::FromReader;
    else {
        *error = lineError(lineNumber, QStringLiteral("the direction is neither > nor <"));
        return std::nullopt;
    }
    if (token(3).size() > 16 || !std::all_of(token(3).begin(), token(3).end(), isUnitCharacter)) {
        *error = lineError(lineNumber, QStringLiteral("bad unit"));
        return std::nullopt;
    }
    line.unit = token(3).toByteArray();

    qsizetype next = 4;
    if (next < count && !token(next).startsWith('!')) {
        const QByteArrayView hex = token(next);
        if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), isHexDigit)) {
            *error = lineError(lineNumber, QStringLiteral("the bytes are not pairs of hex digits"));
            return std::nullopt;
        }
        if (hex.size() > 2 * kMaximumTraceFrame) {
            *error = lineError(
                lineNumber, QStringLiteral("frame longer than %1 bytes").arg(kMaximumTraceFrame));
            return std::nullopt;
        }
        line.bytes = QByteArray::fromHex(hex.toByteArray());
        ++next;
    }
    if (next < count) {
        const QByteArrayView status = token(next).sliced(1);
        if (status.isEmpty() || status.size() > 16 ||
            !std::all_of(status.begin(), status.end(), isStatusCharacter)) {
            *error = lineError(lineNumber, QStringLiteral("bad status after '!'"));
            return std::nullopt;
        }
        line.status = status.toByteArray();
        ++next;
    }
    if (next < count) {
        *error = lineError(lineNumber, QStringLiteral("unexpected text after the bytes"));
        return std::nullopt;
    }
    return line;
}

QByteArray formatTraceLine(const TraceLine& line)
{
    QByteArray text = QByteArray::number(line.milliseconds, 'f', 3);
    text += ' ';
    text += char(line.lane);
    text += ' ';
    text += char(line.direction);
    text += ' ';
    text += line.unit;
    if (!line.bytes.isEmpty())
        text += ' ' + line.bytes.toHex();
    if (!line.status.isEmpty())
        text += " !" + line.status;
    text += '\n';
    return text;
}

TraceReader::TraceReader(std::unique_ptr<QIODevice> device)
    : device_(std::move(device))
{}

TraceReader::~TraceReader() = default;

std::optional<TraceLine> TraceReader::next()
{
    if (!error_.isEmpty() || !device_)
        return std::nullopt;
    // A line may carry a frame of kMaximumTraceFrame bytes plus its other columns.
    constexpr qint64 longestLine = 2 * kMaximumTraceFrame + 256;
    buffer_.resize(longestLine + 2);
    while (true) {
        const qint64 length = device_->readLine(buffer_.data(), buffer_.size());
        if (length <= 0)
            return std::nullopt;
        ++lineNumber_;
        const QByteArrayView view(buffer_.constData(), length);
        if (length > longestLine && !view.endsWith('\n')) {
            error_ = lineError(lineNumber_, QStringLiteral("line too long"));
            return std::nullopt;
        }
        if (!view.endsWith('\n') && device_->atEnd() && !view.trimmed().isEmpty()) {
            cutAtLine_ = lineNumber_;
            return std::nullopt;
        }
        QString problem;
        std::optional<TraceLine> line = parseTraceLine(view, lineNumber_, &problem);
        if (!problem.isEmpty()) {
            error_ = problem;
            return std::nullopt;
        }
        if (line)
            return line;
        const QByteArrayView comment = view.trimmed();
        if (comment.startsWith('#')) {
            const QString body = QString::fromUtf8(comment.sliced(1)).trimmed();
            const qsizetype colon = body.indexOf(QLatin1Char(':'));
            if (colon > 0 && header_.size() < 64)
                header_.append({body.left(colon).trimmed(), body.mid(colon + 1).trimmed()});
        }
    }
}

QString TraceReader::header(const QString& key) const
{
    for (const auto& [name, value] : header_) {
        if (name == key)
            return value;
    }
    return {};
}

ReaderTrace::ReaderTrace(QString path)
    : path_(std::move(path))
    , file_(path_)
{
    clock_.start();
    if (!file_.open())
        stop(file_.failure().reason());
}

ReaderTrace::~ReaderTrace()
{
    begin({}, {}, {});
    std::lock_guard lock(mutex_);
    if (!failed_ && !file_.commit())
        stop(file_.failure().reason());
}

void ReaderTrace::begin(const QString& backend, const QString& reader, const QString& firmware)
{
    std::lock_guard lock(mutex_);
    if (begun_)
        return;
    begun_ = true;
    QByteArray header = "# Ridelog reader trace\n";
    header += "# backend: " + (backend.isEmpty() ? QByteArray("none") : backend.toUtf8()) + '\n';
    if (!reader.isEmpty())
        header += "# reader: " + reader.toUtf8() + '\n';
    if (!firmware.isEmpty())
        header += "# firmware: " + firmware.toUtf8() + '\n';
    header += "# ridelog: " RIDELOG_VERSION "\n";
    header += "# started: " + startedAtOf(clock_).toUtf8() + '\n';
    header += "# columns: milliseconds, thread (r reads, m card monitor), direction (> to the "
              "reader, < from it), unit, bytes in hex, !status\n";
    writeLine(header + pending_);
    pending_.clear();
}

void ReaderTrace::record(TraceDirection direction, const char* unit, const QByteArray& bytes,
                         const QByteArray& status)
{
    TraceLine line;
    line.lane = currentTraceLane();
    line.direction = direction;
    line.unit = unit;
    line.bytes = bytes;
    line.status = status;
    std::lock_guard lock(mutex_);
    if (failed_)
        return;
    line.milliseconds = double(clock_.nsecsElapsed()) / 1e6;
    if (begun_)
        writeLine(formatTraceLine(line));
    else if (pending_.size() < (1 << 20))
        pending_ += formatTraceLine(line);
}

bool ReaderTrace::failed() const
{
    std::lock_guard lock(mutex_);
    return failed_;
}

void ReaderTrace::writeLine(const QByteArray& line)
{
    if (failed_)
        return;
    // Each line goes out at once, unbuffered: after a crash of the program the trace so far is
    // in the hidden file beside the chosen one.
    if (!file_.write(line))
        stop(file_.failure().reason());
}

void ReaderTrace::stop(const QString& reason)
{
    failed_ = true;
    file_.discard();
    pending_.clear();
    qWarning().noquote() << QStringLiteral("Cannot write the reader trace %1 (%2); tracing "
                                           "stops, reading goes on.")
                                .arg(path_, reason);
}

} // namespace ridelog::card
