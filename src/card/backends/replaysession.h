// The session of one replayed reader trace, shared by the replay transports of its threads.
// Only the replay transports use it.
#pragma once

#include "card/backends/replaytransports.h"
#include "card/readertrace.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QtDebug>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>

namespace ridelog::card {

// The trace as the replay transports see it: one cursor per thread column, each reading the
// file on its own, and the first difference.
class ReplaySession
{
public:
    ReplaySession(TraceSource source, QString label, ReplayOptions options)
        : source_(std::move(source))
        , label_(std::move(label))
        , options_(options)
    {
        clock_.start();
    }

    // The '>' line for a frame the backend sends. nullopt: the trace is over for this thread
    // (ran out, or differed before; the caller then acts as if the card had gone).
    std::optional<TraceLine> sent(const QByteArray& unit, const QByteArray& bytes)
    {
        std::lock_guard lock(mutex_);
        if (!options_.checkSent) // nothing to compare with: every send succeeds
            return ended_ ? std::nullopt : std::optional<TraceLine>(TraceLine{});
        Cursor& cursor = cursorOfThisThread();
        const std::optional<TraceLine> line = peek(cursor);
        if (!line)
            return std::nullopt;
        if (line->direction != TraceDirection::ToReader) {
            differ(*line, QStringLiteral("expected the reader to answer (%1), sent > %2 %3")
                              .arg(describe(*line), QString::fromLatin1(unit), hex(bytes)));
            return std::nullopt;
        }
        if (line->unit != unit || line->bytes != bytes) {
            const bool sameUnit = line->unit == unit;
            differ(*line, QStringLiteral("expected %1, sent %2")
                              .arg(sameUnit ? hex(line->bytes) : describe(*line),
                                   sameUnit ? hex(bytes)
                                            : QStringLiteral("> %1 %2").arg(
                                                  QString::fromLatin1(unit), hex(bytes))));
            return std::nullopt;
        }
        cursor.line.reset();
        return line;
    }

    // The next '<' line: the reader's answer.
    std::optional<TraceLine> answer(const QByteArray& unit)
    {
        std::optional<TraceLine> line;
        {
            std::lock_guard lock(mutex_);
            Cursor& cursor = cursorOfThisThread();
            line = peek(cursor);
            if (!line)
                return std::nullopt;
            if (options_.checkSent &&
                (line->direction != TraceDirection::FromReader || line->unit != unit)) {
                differ(*line, QStringLiteral("expected %1, the backend waited for the "
                                             "reader's answer (< %2)")
                                  .arg(describe(*line), QString::fromLatin1(unit)));
                return std::nullopt;
            }
            cursor.line.reset();
        }
        pace(line->milliseconds);
        return line;
    }

    QString header(const QString& key) const
    {
        return headerReader_ ? headerReader_->header(key) : QString();
    }
    QString difference() const
    {
        std::lock_guard lock(mutex_);
        return difference_;
    }

    // Reads the whole trace once (line by line) for faults and its header.
    bool validate(QString* error)
    {
        std::unique_ptr<QIODevice> device = source_();
        if (!device) {
            *error = QStringLiteral("%1: cannot open the trace").arg(label_);
            return false;
        }
        headerReader_ = std::make_unique<TraceReader>(std::move(device));
        while (const std::optional<TraceLine> line = headerReader_->next()) {
            if (firstUnit_.isEmpty())
                firstUnit_ = line->unit;
        }
        if (!headerReader_->error().isEmpty()) {
            *error = QStringLiteral("%1: %2").arg(label_, headerReader_->error());
            return false;
        }
        return true;
    }

    QByteArray firstUnit() const { return firstUnit_; }

private:
    struct Cursor
    {
        std::unique_ptr<TraceReader> reader;
        std::optional<TraceLine> line; // read but not yet used
    };

    Cursor& cursorOfThisThread()
    {
        Cursor& cursor = currentTraceLane() == TraceLane::Monitor ? monitor_ : reads_;
        if (!cursor.reader)
            cursor.reader = std::make_unique<TraceReader>(source_());
        return cursor;
    }

    std::optional<TraceLine> peek(Cursor& cursor)
    {
        if (ended_)
            return std::nullopt;
        const char lane = char(currentTraceLane());
        while (!cursor.line) {
            cursor.line = cursor.reader->next();
            if (!cursor.line) {
                if (!cursor.reader->error().isEmpty())
                    report(cursor.reader->error());
                else if (cursor.reader->cutAtLine() > 0)
                    noteCut(cursor.reader->cutAtLine());
                return std::nullopt;
            }
            const bool mine = options_.checkSent
                                  ? char(cursor.line->lane) == lane
                                  : cursor.line->direction == TraceDirection::FromReader;
            if (!mine)
                cursor.line.reset();
        }
        return cursor.line;
    }

    void differ(const TraceLine& line, const QString& what)
    {
        report(QStringLiteral("line %1: %2").arg(line.lineNumber).arg(what));
    }

    // A trace whose last line was cut off (a full disk, a crash) is played up to the cut.
    void noteCut(int lineNumber)
    {
        if (cutNoted_)
            return;
        cutNoted_ = true;
        qWarning().noquote() << QStringLiteral("reader trace %1 ends in the middle of line %2; "
                                               "it was played up to line %3")
                                    .arg(label_)
                                    .arg(lineNumber)
                                    .arg(lineNumber - 1);
    }

    void report(const QString& what)
    {
        ended_ = true;
        if (!difference_.isEmpty())
            return;
        difference_ = QStringLiteral("reader trace %1, %2").arg(label_, what);
        if (options_.checkSent)
            qWarning().noquote() << difference_;
    }

    void pace(double milliseconds)
    {
        if (!options_.pace)
            return;
        const auto due = std::chrono::milliseconds(qint64(milliseconds));
        const auto now = std::chrono::milliseconds(clock_.elapsed());
        if (due > now)
            std::this_thread::sleep_for(std::min(due - now, options_.longestPause));
    }

    static QString hex(const QByteArray& bytes)
    {
        return bytes.isEmpty() ? QStringLiteral("nothing") : QString::fromLatin1(bytes.toHex());
    }

    static QString describe(const TraceLine& line)
    {
        QString text = QStringLiteral("%1 %2 %3")
                           .arg(QString(QLatin1Char(char(line.direction))),
                                QString::fromLatin1(line.unit), hex(line.bytes));
        if (!line.status.isEmpty())
            text += QStringLiteral(" !") + QString::fromLatin1(line.status);
        return text;
    }

    TraceSource source_;
    QString label_;
    ReplayOptions options_;
    QElapsedTimer clock_;
    mutable std::mutex mutex_;
    Cursor reads_;
    Cursor monitor_;
    bool ended_ = false;
    bool cutNoted_ = false;
    QString difference_;
    std::unique_ptr<TraceReader> headerReader_;
    QByteArray firstUnit_;
};

} // namespace ridelog::card
