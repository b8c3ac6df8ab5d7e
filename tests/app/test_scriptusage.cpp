// The command line for scripts used wrongly: bad arguments, a missing data folder or
// database, an unknown card; and the executable, which needs no display.
#include "scriptfixture.h"

#include <QScopeGuard>
#include <unistd.h>

using namespace ridelog;
using namespace ridelog::test;

class TestScriptUsage : public QObject, public ScriptFixture
{
    Q_OBJECT

private slots:
    void init() { setUpScripts(); }
    void cleanup() { tearDownScripts(); }

    void usageErrors_data();
    void usageErrors();
    void missingDataIsSaid_data();
    void missingDataIsSaid();
    void unknownCardAndEmptyLibrary();
    void executableRunsWithoutDisplay_data();
    void executableRunsWithoutDisplay();
};

void TestScriptUsage::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    const auto onCard = [](const char16_t* line) {
        QStringList arguments = words(line);
        arguments.insert(1, QStringLiteral("--card=") + kCardIdm);
        return arguments;
    };
    const auto row = [](const char* name, const QStringList& arguments, const char* message) {
        QTest::newRow(name) << arguments << QString::fromUtf8(message);
    };
    row("no card", words(u"export"), "--card IDM is required");
    row("short IDm", words(u"export --card 0123"), "'0123' is not an IDm");
    row("not hex", words(u"totals --card 0123456789ABCDEG"), "is not an IDm");
    row("no such day", onCard(u"export --from 2026-02-30"), "--from '2026-02-30' is not a date");
    row("short date", onCard(u"totals --to=2026-3-1"), "--to '2026-3-1' is not a date");
    row("from after to", onCard(u"export --from=2026-04-01 --to=2026-03-01"),
        "--from 2026-04-01 is after --to 2026-03-01");
    row("export format", onCard(u"export --format xml"), "unknown format 'xml'");
    row("totals format", onCard(u"totals --format=list-csv"), "unknown format 'list-csv'");
    row("empty output", onCard(u"export --output="), "--output needs a file name");
    row("unknown option", onCard(u"export --bogus"), "Unknown option 'bogus'");
    row("totals output", onCard(u"totals --output=x"), "Unknown option 'output'");
    row("extra argument", words(u"cards more"), "unexpected argument 'more'");
    row("value missing", words(u"export --card"), "Missing value after '--card'");
    row("note without serial", onCard(u"note --claim=yes"), "--serial N is required");
    row("note serial not a number", onCard(u"note --serial=1e3"), "--serial '1e3' is not a serial");
    row("note serial too large", onCard(u"note --serial=16777216"), "is not a serial");
    row("note claim", onCard(u"note --serial=1 --claim=1"), "--claim '1' is neither yes nor no");
    row("note format", onCard(u"note --serial=1 --format=csv"), "Unknown option 'format'");
    row("report without output", onCard(u"report --claimed-only"), "--output FILE.pdf is required");
    row("report dates", onCard(u"report --from=2026-13-01 --output=x.pdf"),
        "--from '2026-13-01' is not a date");
    // An argument of 100,000 characters is cut in the message.
    const QString huge(100000, u'A');
    row("huge IDm", words(u"export --card") << huge, "characters)");
    row("huge option", words(u"export") << QStringLiteral("--") + huge, "characters)");
    row("huge extra argument", words(u"cards") << huge, "characters)");
}

void TestScriptUsage::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const RunResult result = run(arguments);
    QCOMPARE(result.status, int(ScriptUsage));
    QVERIFY2(isOneLineMessage(result.err), result.err.left(300).constData());
    QVERIFY2(result.err.size() < 300, result.err.left(300).constData());
    QVERIFY2(QString::fromUtf8(result.err).contains(message), result.err.constData());
    QVERIFY(result.out.isEmpty());
    QVERIFY(!QFile::exists(databasePath())); // nothing was created on the way
}

void TestScriptUsage::missingDataIsSaid_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("message");
    QTest::newRow("no data folder") << "none"
                                    << "no data folder";
    QTest::newRow("data folder is a file") << "folder is a file"
                                           << "is not a folder";
    QTest::newRow("unreadable data folder") << "unreadable"
                                            << "cannot read the data folder";
    QTest::newRow("database is a folder") << "database folder"
                                          << "is a folder, not a database";
    QTest::newRow("no database") << "no database"
                                 << "no database";
}

// What is missing is said, with its place, and the status is 1, for every command.
void TestScriptUsage::missingDataIsSaid()
{
    QFETCH(QString, setup);
    QFETCH(QString, message);
    const QString folder = QDir::cleanPath(HistoryStore::dataFolderPath());
    if (setup == u"folder is a file") {
        QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (setup != u"none") {
        QVERIFY(QDir().mkpath(folder));
    }
    if (setup == u"unreadable") {
        if (::geteuid() == 0)
            QSKIP("root reads every folder");
        QVERIFY(QFile::setPermissions(folder, QFile::WriteOwner));
    }
    if (setup == u"database folder")
        QVERIFY(QDir().mkpath(databasePath()));
    const auto restore = qScopeGuard([&] {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    const QStringList card{QStringLiteral("--card"), kCardIdm};
    for (const QStringList& arguments :
         {words(u"cards"), words(u"export") + card, words(u"totals") + card}) {
        const RunResult result = run(arguments);
        QCOMPARE(result.status, int(ScriptFailed));
        QVERIFY2(isOneLineMessage(result.err), result.err.constData());
        QVERIFY2(result.err.contains(message.toUtf8()), result.err.constData());
        QVERIFY2(result.err.contains(folder.toUtf8()), result.err.constData());
        QVERIFY(result.out.isEmpty());
    }
    // Nothing was created on the way.
    QCOMPARE(QFileInfo(databasePath()).isFile(), false);
}

void TestScriptUsage::unknownCardAndEmptyLibrary()
{
    // A library that was read and holds no card: said on stderr, and no failure.
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
    }
    RunResult result = run(words(u"cards"));
    QCOMPARE(result.status, int(ScriptSucceeded));
    QVERIFY(result.out.isEmpty());
    QCOMPARE(result.err, "ridelog: no card is stored in " + databasePath().toUtf8() + '\n');

    storeCard(kOtherIdm, {railBlock(1, 1000)});
    result = runOnCard(u"totals", {}, kCardIdm.toLower());
    QCOMPARE(result.status, int(ScriptFailed));
    QCOMPARE(result.err, "ridelog: no stored history for card " + kCardIdm.toLatin1() + " in " +
                             databasePath().toUtf8() + '\n');
    QVERIFY(result.out.isEmpty());
}

void TestScriptUsage::executableRunsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out"); // in the output; none: one line on stderr says why
    QTest::newRow("cards") << words(u"cards") << 0 << kCardIdm.toLatin1() + "\t1\t";
    QTest::newRow("unknown card") << words(u"export --card") + QStringList{kOtherIdm} << 1
                                  << QByteArray();
    QTest::newRow("no card given") << words(u"totals") << 2 << QByteArray();
    QTest::newRow("help of a command")
        << words(u"export --help") << 0 << QByteArray("ridelog totals --card IDM");
    QTest::newRow("help") << words(u"--help") << 0 << QByteArray("ridelog export --card IDM");
    QTest::newRow("help names the window's options")
        << words(u"--help") << 0 << QByteArray("--reader");
}

void TestScriptUsage::executableRunsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, out);
    storeCard(kCardIdm, {railBlock(1, 1000)});
    const RunResult result = runExecutable(arguments);
    QTEST(result.status, "status");
    if (out.isEmpty())
        QVERIFY2(isOneLineMessage(result.err), result.err.constData());
    else
        QVERIFY2(result.out.contains(out), result.out.constData());
}

QTEST_MAIN(TestScriptUsage)
#include "test_scriptusage.moc"
