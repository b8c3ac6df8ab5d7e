// What the tests of the command line for scripts share: the data folder of the window's tests,
// runs of the commands in this process or of the executable without a display, and stored
// cards to run them on.
#pragma once

#include "app/scriptcommands.h"
#include "store/historystore.h"
#include "support/cardblocks.h"
#include "support/words.h"
#include "testfiles.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"
#include "ui/windowfixture.h"

#include <QBuffer>
#include <QProcess>

namespace ridelog::test {

inline const QString kOtherIdm = QStringLiteral("0A0B0C0D0E0F1011");

struct RunResult
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// ridelog with these arguments, run in this process.
inline RunResult run(QStringList arguments)
{
    arguments.prepend(QStringLiteral("ridelog"));
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const int status = runScriptCommand(arguments, out, err);
    return RunResult{status, out.data(), err.data()};
}

// A command on one card: runOnCard(u"export --format=json") runs
// "ridelog export --card IDM --format=json", and then the words of more.
inline RunResult runOnCard(QStringView command, const QStringList& more = {},
                           const QString& idm = kCardIdm)
{
    QStringList arguments = words(command);
    arguments.insert(1, QStringLiteral("--card"));
    arguments.insert(2, idm);
    return run(arguments + more);
}

// The executable in a process of its own, with no display to connect to (a window would fail)
// and in the given locale.
inline RunResult runExecutable(const QStringList& arguments,
                               const QString& locale = QStringLiteral("C"))
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "LANGUAGE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("LC_ALL"), locale);
    environment.insert(QStringLiteral("LANG"), locale);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(RIDELOG_EXECUTABLE), arguments);
    process.waitForFinished(60000);
    return RunResult{process.exitCode(), process.readAllStandardOutput(),
                     process.readAllStandardError()};
}

// One line on standard error that starts with the program's name.
inline bool isOneLineMessage(const QByteArray& err)
{
    return err.startsWith("ridelog: ") && err.endsWith('\n') && err.count('\n') == 1;
}

inline QString databasePath()
{
    return HistoryStore::dataFolderPath() + HistoryStore::databaseFileName();
}

// Test classes derive from this (after QObject) and call setUpScripts() from init() and
// tearDownScripts() from cleanup().
class ScriptFixture : public WindowFixture
{
protected:
    void setUpScripts()
    {
        setUpWindow();
        MessageBox::setCapturing(true);
        SaveFileDialog::setScripted(true);
    }
    void tearDownScripts()
    {
        SaveFileDialog::setScripted(false);
        MessageBox::setCapturing(false);
        tearDownWindow();
    }

    // Stores blocks for a card the way a read in the window does.
    static void storeCard(const QString& idm, const QList<HistoryBlock>& blocks)
    {
        HistoryStore store;
        NameCaches caches;
        store.OpenDatabaseAtStart(caches);
        CardBlockSet set;
        HistoryStore::MergeCardBlocks(set, std::vector<HistoryBlock>(blocks.begin(), blocks.end()));
        QCOMPARE(store.StoreNewBlocks(idm, set), int(blocks.size()));
    }

    // A month of commuting between two named stations: rides, a bus and charges, serials 200
    // to 227.
    static QList<HistoryBlock> storeCommuterMonth()
    {
        {
            // Names as the name server gave them, in the stored name tables.
            HistoryStore store;
            NameCaches caches;
            store.OpenDatabaseAtStart(caches);
            const QString tokyu = QStringLiteral("東急");
            const QString toyoko = QStringLiteral("東横");
            const QString shibuya = QStringLiteral("渋谷");
            const QString yokohama = QStringLiteral("横浜");
            caches.stations.EntryFor({0, 0x25, 0x0C}) = {tokyu, toyoko, shibuya, shibuya};
            caches.stations.EntryFor({0, 0x25, 0x10}) = {tokyu, toyoko, yokohama, yokohama};
            if (!store.WriteBackNames(caches))
                qFatal("the name tables cannot be written");
        }
        QList<HistoryBlock> blocks;
        int balance = 10000;
        for (int day = 1; day <= 28; ++day) {
            BlockFields ride{.year = 2026,
                             .month = 2,
                             .day = day,
                             .b6 = 0x25,
                             .b7 = 0x0C,
                             .b8 = 0x25,
                             .b9 = 0x10,
                             .serial = std::uint32_t(199 + day)};
            if (day % 9 == 0) { // a charge now and then
                ride.process = 2;
                balance += 3000;
            } else if (day % 7 == 0) { // a bus
                ride.terminal = 5;
                ride.process = 13;
                balance -= 220;
            } else {
                balance -= 290 + day % 3 * 10;
            }
            ride.balance = balance;
            blocks.append(makeBlock(ride));
        }
        storeCard(kCardIdm, blocks);
        return blocks;
    }
};

} // namespace ridelog::test
