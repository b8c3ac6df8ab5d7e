// Reader traces: a session over each backend written as it happens, played back through the
// same real backend, the sample traces of data/traces, tampered and cut traces, and traces
// that cannot be read or written.
#include "card/backends/replaytransports.h"
#include "card/readerfactory.h"
#include "support/smallfilesystem.h"
#include "testpaths.h"
#include "tracesession.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog::card;
using namespace ridelog::card::testing;
using ridelog::test::SmallFileSystem;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString samplePath(const char* kind)
{
    return QStringLiteral(RIDELOG_TRACES_DIR "/%1.trace").arg(QString::fromLatin1(kind));
}

// The traffic lines of one thread column, without their times.
QList<QByteArray> trafficOf(const QByteArray& trace, char lane)
{
    QList<QByteArray> lines;
    for (const QByteArray& line : trace.split('\n')) {
        const QList<QByteArray> columns = line.split(' ');
        if (columns.size() >= 4 && !line.startsWith('#') && columns[1] == QByteArray(1, lane))
            lines << columns.mid(2).join(' ');
    }
    return lines;
}

// 1-based number of the first line of the reads that contains what.
int readLineWith(const QByteArray& trace, const QByteArray& what)
{
    const QList<QByteArray> lines = trace.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].contains(" r > ") && lines[i].contains(what))
            return i + 1;
    }
    return 0;
}

// Replays the trace at path through the backend it names; a trace that cannot be opened gives
// an outcome that did not open, with the reason.
SessionOutcome replayed(const QString& path)
{
    QString error;
    auto backend = createReaderBackend(QStringLiteral("replay:") + path, &error);
    if (backend)
        return runReaderSession(std::move(backend), {});
    SessionOutcome outcome;
    outcome.readError = error;
    return outcome;
}

QStringList warnings;
void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        warnings << text;
}

} // namespace

class TestReaderTrace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sampleReplaysIntoTheCardsHistory_data() { addBackends(); }
    void sampleReplaysIntoTheCardsHistory();
    void recordedSessionReplaysTheSame_data() { addBackends(); }
    void recordedSessionReplaysTheSame();
    void tamperedTraceFailsAtThatLine_data() { addBackends(); }
    void tamperedTraceFailsAtThatLine();
    void traceRunningOutIsACardTakenOff_data() { addBackends(); }
    void traceRunningOutIsACardTakenOff();
    void unreadableTraceNamesItsLine_data();
    void unreadableTraceNamesItsLine();
    void unwritableTraceStopsWithOneMessage_data();
    void unwritableTraceStopsWithOneMessage();
    void fullDiskKeepsThePreviousTrace();

private:
    void addBackends();
    void checkHistory(const SessionOutcome& outcome);
    QString written(const QString& name, const QByteArray& trace);
    void runSessionTracingTo(const QString& tracePath);

    SimulatedCard card_;
    QTemporaryDir dir_;
};

void TestReaderTrace::initTestCase()
{
    const std::optional<SimulatedCard> card =
        cardFromFile(QStringLiteral(RIDELOG_SAMPLE_CARDS_DIR "/commuter.card"));
    QVERIFY2(card, "data/sample-cards/commuter.card is missing or broken");
    card_ = *card;
    QVERIFY(dir_.isValid());
}

void TestReaderTrace::addBackends()
{
    QTest::addColumn<int>("reader");
    for (int i = 0; i < int(std::size(kTracedReaders)); ++i)
        QTest::newRow(kTracedReaders[i].kind) << i;
}

void TestReaderTrace::checkHistory(const SessionOutcome& outcome)
{
    QVERIFY2(outcome.opened, qPrintable(outcome.readError));
    QVERIFY2(outcome.firstRead.ok, qPrintable(outcome.readError + outcome.replayDifference));
    QCOMPARE(outcome.reads, 1);
    QCOMPARE(outcome.firstRead.idm, card_.idm);
    QCOMPARE(outcome.firstRead.blockCount, kCardHistoryBlocks);
    for (int i = 0; i < kCardHistoryBlocks; ++i)
        QCOMPARE(outcome.firstRead.blocks[std::size_t(i)], card_.blocks[std::size_t(i)]);
    QVERIFY(outcome.cardLost);
    QCOMPARE(outcome.replayDifference, QString());
}

// The trace written into the test's folder under name.
QString TestReaderTrace::written(const QString& name, const QByteArray& trace)
{
    const QString path = dir_.filePath(name);
    return writeAll(path, trace) ? path : QString();
}

// A whole session over the RC-S380 tracing to tracePath, which cannot be written: the reading
// goes on as if nothing happened; warnings holds what it logged.
void TestReaderTrace::runSessionTracingTo(const QString& tracePath)
{
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    {
        auto emulated = emulatedCardOf(card_);
        auto trace = std::make_shared<ReaderTrace>(tracePath);
        checkHistory(runReaderSession(emulatedTracedBackend(kTracedReaders[0], emulated, trace),
                                      [emulated] { emulated->inField = false; }));
        QVERIFY(trace->failed());
    }
    qInstallMessageHandler(previous);
}

void TestReaderTrace::sampleReplaysIntoTheCardsHistory()
{
    QFETCH(int, reader);
    const QString path = samplePath(kTracedReaders[reader].kind);
    checkHistory(replayed(path));
    // The reads go as every read goes: Polling, then the 20 blocks as 12 and 8.
    QVERIFY(readLineWith(readAll(path), "800080018002") > 0);
    QVERIFY(readLineWith(readAll(path), "800c800d800e") > 0);
}

void TestReaderTrace::recordedSessionReplaysTheSame()
{
    QFETCH(int, reader);
    const TracedReader& traced = kTracedReaders[reader];
    const QString recorded = dir_.filePath(QStringLiteral("recorded-%1.trace").arg(reader));
    auto emulated = emulatedCardOf(card_);
    {
        auto trace = std::make_shared<ReaderTrace>(recorded);
        checkHistory(runReaderSession(emulatedTracedBackend(traced, emulated, trace),
                                      [emulated] { emulated->inField = false; }));
    }
    const QByteArray original = readAll(recorded);
    QVERIFY(original.contains("# backend: " + QByteArray(traced.kind) + '\n'));
    QVERIFY(original.contains("# ridelog: 1.2.0\n"));
    QVERIFY(original.contains("# started: "));
    if (QByteArrayView(traced.kind) == "rcs380")
        QVERIFY(original.contains("# firmware: 1.11\n"));
    // Nothing but the header and reader traffic.
    int lineNumber = 0;
    for (const QByteArray& line : original.split('\n')) {
        QString problem;
        if (!line.startsWith('#') && !line.isEmpty())
            QVERIFY2(parseTraceLine(line, ++lineNumber, &problem), qPrintable(problem));
    }

    // Played back while tracing again, the reads send and receive exactly the same.
    const QString again = dir_.filePath(QStringLiteral("replayed-%1.trace").arg(reader));
    {
        QString error;
        auto trace = std::make_shared<ReaderTrace>(again);
        auto backend = createReaderBackend(QStringLiteral("replay:") + recorded, &error, trace);
        QVERIFY2(backend, qPrintable(error));
        checkHistory(runReaderSession(std::move(backend), {}));
    }
    QCOMPARE(trafficOf(readAll(again), 'r'), trafficOf(original, 'r'));
}

void TestReaderTrace::tamperedTraceFailsAtThatLine()
{
    QFETCH(int, reader);
    const char* kind = kTracedReaders[reader].kind;
    QByteArray trace = readAll(samplePath(kind));
    // The second chunk of the read asks for blocks 12 to 19; the copy asks for 12, 14...
    const int line = readLineWith(trace, "800c800d");
    QVERIFY(line > 0);
    QList<QByteArray> lines = trace.split('\n');
    lines[line - 1].replace("800c800d", "800c800e");
    const SessionOutcome outcome =
        replayed(written(QStringLiteral("tampered-%1.trace").arg(reader), lines.join('\n')));
    QVERIFY(!outcome.firstRead.ok);
    const QString where = QStringLiteral("line %1:").arg(line);
    QVERIFY2(outcome.replayDifference.contains(where), qPrintable(outcome.replayDifference));
    QVERIFY(outcome.replayDifference.contains(QStringLiteral("800c800e")));
    QVERIFY(outcome.replayDifference.contains(QStringLiteral("800c800d")));
}

// A trace whose last line lost its end (the disk filled up, the program crashed) in the second
// chunk of the read is played up to that line, the log says where it ended, and the card is
// taken off: nothing differed, the trace just ended.
void TestReaderTrace::traceRunningOutIsACardTakenOff()
{
    QFETCH(int, reader);
    const QByteArray trace = readAll(samplePath(kTracedReaders[reader].kind));
    const int line = readLineWith(trace, "800c800d");
    QVERIFY(line > 0);
    QList<QByteArray> lines = trace.split('\n').mid(0, line);
    lines.last().chop(lines.last().size() / 2);
    const QString cut = written(QStringLiteral("cut-%1.trace").arg(reader), lines.join('\n'));

    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    const SessionOutcome outcome = replayed(cut);
    qInstallMessageHandler(previous);
    QVERIFY2(outcome.opened, qPrintable(outcome.readError));
    QCOMPARE(outcome.reads, 1);
    QVERIFY(!outcome.firstRead.ok);
    QVERIFY(outcome.cardLost);
    QCOMPARE(outcome.replayDifference, QString());
    const QString where = QStringLiteral("ends in the middle of line %1").arg(line);
    QVERIFY2(warnings.join(u'\n').contains(where), qPrintable(warnings.join(u'\n')));
}

void TestReaderTrace::unreadableTraceNamesItsLine_data()
{
    QTest::addColumn<QByteArray>("trace");
    QTest::addColumn<QString>("expected");
    const QByteArray head = "# backend: rcs380\n1.0 r > usb 0000ff00ff00\n";
    QTest::newRow("time") << head + "soon r < usb 00\n" << QStringLiteral("line 3: the time");
    QTest::newRow("thread") << head + "2 x < usb 00\n" << QStringLiteral("line 3: the thread");
    QTest::newRow("direction") << head + "2 r = usb 00\n"
                               << QStringLiteral("line 3: the direction");
    QTest::newRow("odd hex") << head + "\n2 r < usb 0f0\n" << QStringLiteral("line 4: the bytes");
    QTest::newRow("not hex") << head + "2 r < usb zz\n" << QStringLiteral("line 3: the bytes");
    QTest::newRow("status") << head + "2 r < usb !\n" << QStringLiteral("line 3: bad status");
    QTest::newRow("trailing") << head + "2 r < usb 00 !timeout x\n"
                              << QStringLiteral("line 3: unexpected");
    QTest::newRow("columns") << head + "2 r <\n" << QStringLiteral("line 3: expected");
    QTest::newRow("huge frame") << head + "2 r < usb " + QByteArray(20000, 'a') + '\n'
                                << QStringLiteral("line 3:");
    QTest::newRow("no backend") << QByteArray("1 r > tape 00\n")
                                << QStringLiteral("names no reader");
}

void TestReaderTrace::unreadableTraceNamesItsLine()
{
    QFETCH(QByteArray, trace);
    QFETCH(QString, expected);
    const QString path = written(QStringLiteral("bad.trace"), trace);
    const SessionOutcome outcome = replayed(path);
    QVERIFY(!outcome.opened);
    QVERIFY2(outcome.readError.contains(expected), qPrintable(outcome.readError));
    QVERIFY(outcome.readError.startsWith(path));
}

void TestReaderTrace::unwritableTraceStopsWithOneMessage_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("no such folder") << dir_.filePath(QStringLiteral("missing/x.trace"));
    QTest::newRow("a folder") << dir_.path();
    if (QFile::exists(QStringLiteral("/dev/full")))
        QTest::newRow("disk full") << QStringLiteral("/dev/full");
}

void TestReaderTrace::unwritableTraceStopsWithOneMessage()
{
    QFETCH(QString, path);
    runSessionTracingTo(path);
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings.front().contains(path));
    QVERIFY(warnings.front().contains(QStringLiteral("reading goes on")));
    if (path == u"/dev/full")
        QVERIFY2(warnings.front().contains(QStringLiteral("no space left")),
                 qPrintable(warnings.front()));
}

void TestReaderTrace::fullDiskKeepsThePreviousTrace()
{
    SmallFileSystem disk(64 * 1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.whyNotMounted()));
    const QString path = disk.filePath(QStringLiteral("reader.trace"));
    const QByteArray previous = "# Ridelog reader trace\n# backend: none\n";
    QVERIFY(writeAll(path, previous));
    QVERIFY(disk.fillLeaving(0));
    runSessionTracingTo(path);
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.front().contains(QStringLiteral("no space left on the device")),
             qPrintable(warnings.front()));
    QCOMPARE(readAll(path), previous);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("filler"), QStringLiteral("reader.trace")}));
}

QTEST_GUILESS_MAIN(TestReaderTrace)
#include "test_readertrace.moc"
