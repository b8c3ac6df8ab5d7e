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

namespace {

// The blank-separated tokens of a line; a line has at most six, one more is enough to refuse it.
struct TraceTokens
{
    std::array<QByteArrayView, 8> found;
    qsizetype count = 0;

    QByteArrayView operator[](qsizetype i) const { return found[std::size_t(i)]; }
};

bool isTraceBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

TraceTokens splitTraceTokens(QByteArrayView text)
{
    TraceTokens tokens;
    const char* const end = text.data() + text.size();
    for (const char* at = text.data(); at < end && tokens.count < qsizetype(tokens.found.size());) {
        while (at < end && isTraceBlank(*at))
            ++at;
        const char* const first = at;
        while (at < end && !isTraceBlank(*at))
            ++at;
        if (at > first)
            tokens.found[std::size_t(tokens.count++)] = QByteArrayView(first, at - first);
    }
    return tokens;
}

// Time, thread, direction and unit into line; what is wrong with them, empty when nothing is.
QString readTraceHead(TraceLine& line, const TraceTokens& token)
{
    const std::optional<double> time = millisecondsOf(token[0]);
    if (!time)
        return QStringLiteral("the time is not a number of milliseconds");
    line.milliseconds = *time;
    if (token.count < 4)
        return QStringLiteral("expected: time, thread, direction, unit");
    if (token[1] == "r")
        line.lane = TraceLane::Reads;
    else if (token[1] == "m")
        line.lane = TraceLane::Monitor;
    else
        return QStringLiteral("the thread is neither r nor m");
    if (token[2] == ">")
        line.direction = TraceDirection::ToReader;
    else if (token[2] == "<")
        line.direction = TraceDirection::FromReader;
    else
        return QStringLiteral("the direction is neither > nor <");
    if (token[3].size() > 16 || !std::all_of(token[3].begin(), token[3].end(), isUnitCharacter))
        return QStringLiteral("bad unit");
    line.unit = token[3].toByteArray();
    return QString();
}

// The bytes and the "!status" after the unit, both optional, and nothing else.
QString readTraceTail(TraceLine& line, const TraceTokens& token)
{
    qsizetype next = 4;
    if (next < token.count && !token[next].startsWith('!')) {
        const QByteArrayView hex = token[next];
        if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), isHexDigit))
            return QStringLiteral("the bytes are not pairs of hex digits");
        if (hex.size() > 2 * kMaximumTraceFrame)
            return QStringLiteral("frame longer than %1 bytes").arg(kMaximumTraceFrame);
        line.bytes = QByteArray::fromHex(hex.toByteArray());
        ++next;
    }
    if (next < token.count) {
        const QByteArrayView status = token[next].sliced(1);
        if (status.isEmpty() || status.size() > 16 ||
            !std::all_of(status.begin(), status.end(), isStatusCharacter))
            return QStringLiteral("bad status after '!'");
        line.status = status.toByteArray();
        ++next;
    }
    if (next < token.count)
        return QStringLiteral("unexpected text after the bytes");
    return QString();
}

} // namespace

std::optional<TraceLine> parseTraceLine(QByteArrayView text, int lineNumber, QString* error)
{
    error->clear();
    const TraceTokens tokens = splitTraceTokens(text);
    if (tokens.count == 0 || tokens[0].startsWith('#'))
        return std::nullopt;
    TraceLine line;
    line.lineNumber = lineNumber;
    QString problem = readTraceHead(line, tokens);
    if (problem.isEmpty())
        problem = readTraceTail(line, tokens);
    if (!problem.isEmpty()) {
        *error = lineError(lineNumber, problem);
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
