// Window placement pulled back into the work area, and the accepted column widths.
#include "store/settings.h"
#include "testfiles.h"
#include "ui/windowstate.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;

Q_DECLARE_METATYPE(ridelog::StoredPlacement)

class TestWindowState : public QObject
{
    Q_OBJECT

private slots:
    void placement_data();
    void placement();
    void columnWidth_data();
    void columnWidth();
    void storedValuesThatAreNoIntegersGiveDefaults();
    void writtenValuesReadBack();
    void fullDiskLeavesPreviousFile();
    void positionOnTheScreens_data();
    void positionOnTheScreens();
    void groupTextsKeptApartFromTheIntegers();
};

void TestWindowState::placement_data()
{
    QTest::addColumn<StoredPlacement>("stored");
    QTest::addColumn<QRect>("expected");
    // Work area 1000 x 700 at the origin, status bar 22 pixels high.
    QTest::newRow("defaults") << StoredPlacement{} << QRect(20, 20, 540, 278);
    QTest::newRow("inside") << StoredPlacement{100, 50, 600, 400} << QRect(100, 50, 600, 378);
    QTest::newRow("x beyond right edge")
        << StoredPlacement{1200, 50, 600, 400} << QRect(20, 50, 600, 378);
    QTest::newRow("y beyond bottom edge")
        << StoredPlacement{100, 900, 600, 400} << QRect(100, 20, 600, 378);
    QTest::newRow("x at right edge is kept")
        << StoredPlacement{1000, 50, 600, 400} << QRect(1000, 50, 600, 378);
    QTest::newRow("too wide") << StoredPlacement{300, 50, 1500, 400} << QRect(300, 50, 700, 378);
    QTest::newRow("too wide, rest below minimum")
        << StoredPlacement{700, 50, 1500, 400} << QRect(20, 50, 450, 378);
    QTest::newRow("too high") << StoredPlacement{100, 100, 600, 900} << QRect(100, 100, 600, 578);
    QTest::newRow("too narrow") << StoredPlacement{300, 300, 100, 400} << QRect(20, 300, 450, 378);
    QTest::newRow("too low") << StoredPlacement{300, 300, 600, 50} << QRect(300, 20, 600, 178);
    QTest::newRow("left of the work area is not checked")
        << StoredPlacement{-300, -20, 600, 400} << QRect(-300, -20, 600, 378);
}

void TestWindowState::placement()
{
    QFETCH(StoredPlacement, stored);
    QFETCH(QRect, expected);
    QCOMPARE(restoredWindowRect(stored, QRect(0, 0, 1000, 700), 22), expected);
}

void TestWindowState::columnWidth_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("stored"); // -1: missing
    QTest::addColumn<int>("expected");
    // List client width 500: the limit is 450.
    QTest::newRow("missing col0") << 0 << -1 << 35;
    QTest::newRow("missing col6") << 6 << -1 << 80;
    QTest::newRow("col0 of 5") << 0 << 5 << 35;
    QTest::newRow("col0 of 10") << 0 << 10 << 10;
    QTest::newRow("col3 of 25") << 3 << 25 << 80;
    QTest::newRow("col3 of 30") << 3 << 30 << 30;
    QTest::newRow("col1 at the limit") << 1 << 450 << 450;
    QTest::newRow("col1 above the limit") << 1 << 451 << 80;
    QTest::newRow("negative") << 2 << -5 << 80;
}

void TestWindowState::columnWidth()
{
    QFETCH(int, column);
    QFETCH(int, stored);
    QFETCH(int, expected);
    const std::optional<int> value = stored == -1 ? std::nullopt : std::optional<int>(stored);
    QCOMPARE(acceptedColumnWidth(column, value, 500), expected);
}

void TestWindowState::storedValuesThatAreNoIntegersGiveDefaults()
{
    QTemporaryDir dir;
    QSettings ini(dir.filePath(QStringLiteral("t.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Trfc/mX"), QStringLiteral("left"));
    ini.setValue(QStringLiteral("Trfc/mY"), QStringLiteral("1.5"));
    ini.setValue(QStringLiteral("Trfc/mWidth"), QStringLiteral(""));
    ini.setValue(QStringLiteral("Trfc/mHeight"), QStringLiteral("three hundred"));
    ini.setValue(QStringLiteral("Trfc/col2"), QStringLiteral("wide"));
    TrfcSettings settings(ini);
    const StoredPlacement placement = readStoredPlacement(settings);
    QCOMPARE(placement.x, 20);
    QCOMPARE(placement.y, 20);
    QCOMPARE(placement.width, 540);
    QCOMPARE(placement.height, 300);
    QCOMPARE(readColumnWidths(settings, 500), defaultColumnWidths());
}

void TestWindowState::writtenValuesReadBack()
{
    QTemporaryDir dir;
    QSettings ini(dir.filePath(QStringLiteral("t.ini")), QSettings::IniFormat);
    TrfcSettings settings(ini);
    writeStoredPlacement(settings, StoredPlacement{33, 44, 555, 333});
    writeColumnWidths(settings, ColumnWidths{40, 90, 91, 92, 93, 94, 95});
    const StoredPlacement placement = readStoredPlacement(settings);
    QCOMPARE(placement.x, 33);
    QCOMPARE(placement.height, 333);
    QCOMPARE(readColumnWidths(settings, 500), (ColumnWidths{40, 90, 91, 92, 93, 94, 95}));
    // Nothing reaches the file before save().
    QVERIFY(!ini.contains(QStringLiteral("Trfc/col6")));
    QVERIFY(settings.save());
    QCOMPARE(ini.value(QStringLiteral("Trfc/col6")).toInt(), 95);
    QSettings fresh(dir.filePath(QStringLiteral("t.ini")), QSettings::IniFormat);
    QCOMPARE(fresh.value(QStringLiteral("Trfc/mX")).toInt(), 33);
}

// A settings file on a file system with no room left: the write fails, the previous file
// stays exactly as it was, and the log says so. Runs where a small tmpfs can be mounted.
void TestWindowState::fullDiskLeavesPreviousFile()
{
    QTemporaryDir dir;
    const QString mount = dir.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mount));
    QProcess mounting;
    mounting.start(QStringLiteral("mount"),
                   {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                    QStringLiteral("size=64k"), QStringLiteral("tmpfs"), mount});
    if (!mounting.waitForFinished(5000) || mounting.exitStatus() != QProcess::NormalExit ||
        mounting.exitCode() != 0)
        QSKIP("mounting a small tmpfs is not allowed here");
    auto unmount = qScopeGuard([&] { QProcess::execute(QStringLiteral("umount"), {mount}); });

    const QString path = mount + QStringLiteral("/Hotaru.ini");
    {
        QSettings first(path, QSettings::IniFormat);
        TrfcSettings settings(first);
        writeStoredPlacement(settings, StoredPlacement{33, 44, 555, 333});
        QVERIFY(settings.save());
    }
    const QByteArray before = ridelog::test::fileBytes(path);
    QVERIFY(before.contains("mX=33"));
    // Fill the file system to the last byte.
    {
        QFile filler(mount + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray chunk(1024, 'x');
        while (filler.write(chunk) == chunk.size()) {
        }
        while (filler.write("x", 1) == 1) {
        }
    }
    QSettings ini(path, QSettings::IniFormat);
    TrfcSettings settings(ini);
    writeColumnWidths(settings, ColumnWidths{40, 90, 91, 92, 93, 94, 95});
    settings.writeInteger(QStringLiteral("mX"), 66);
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("settings could not be written")));
    QVERIFY(!settings.save());
    QCOMPARE(ridelog::test::fileBytes(path), before);
    QStringList files = QDir(mount).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    QCOMPARE(files, (QStringList{QStringLiteral("Hotaru.ini"), QStringLiteral("filler")}));
    // With room again, the changes still waiting are written.
    QVERIFY(QFile::remove(mount + QStringLiteral("/filler")));
    QVERIFY(settings.save());
    QSettings after(mount + QStringLiteral("/./Hotaru.ini"), QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("Trfc/mX")).toInt(), 66);
    QCOMPARE(after.value(QStringLiteral("Trfc/col6")).toInt(), 95);
}

void TestWindowState::positionOnTheScreens_data()
{
    QTest::addColumn<QRect>("window");
    QTest::addColumn<bool>("onAScreen");
    QTest::addColumn<QPoint>("restored");
    // Two screens side by side: 1920 x 1080 and, to its right, 1280 x 1024.
    QTest::newRow("on the first") << QRect(20, 20, 540, 278) << true << QPoint(20, 20);
    QTest::newRow("on the second") << QRect(2500, 300, 540, 278) << true << QPoint(2500, 300);
    QTest::newRow("across both") << QRect(1700, 100, 540, 278) << true << QPoint(1700, 100);
    QTest::newRow("what Wayland leaves") << QRect(-3, -30, 540, 278) << false << QPoint(0, 0);
    QTest::newRow("title strip above the top")
        << QRect(100, -40, 540, 278) << false << QPoint(100, 0);
    QTest::newRow("a monitor gone to the left")
        << QRect(-1500, 200, 540, 278) << false << QPoint(0, 200);
    QTest::newRow("below the second") << QRect(2600, 1500, 540, 278) << false << QPoint(2600, 746);
    QTest::newRow("only a sliver shown") << QRect(1900, 10, 540, 278) << true << QPoint(1900, 10);
    QTest::newRow("wider than any screen") << QRect(-5000, 10, 4000, 278) << false << QPoint(0, 10);
}

void TestWindowState::positionOnTheScreens()
{
    QFETCH(QRect, window);
    const std::vector<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    QTEST(isOnAScreen(window, screens), "onAScreen");
    QTEST(positionOnNearestScreen(window, screens), "restored");
    QTEST(isKeepablePosition(window, screens, true), "onAScreen");
    QVERIFY(!isKeepablePosition(window, screens, false)); // Wayland: never kept
    QCOMPARE(positionOnNearestScreen(window, {}), window.topLeft());
}

// The save dialog's folder: a text in a group of its own, saved with the integers and never
// in "Trfc", whose values must be integers.
void TestWindowState::groupTextsKeptApartFromTheIntegers()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Hotaru.conf"));
    {
        QSettings ini(path, QSettings::IniFormat);
        TrfcSettings settings(ini);
        settings.writeGroupText(QStringLiteral("SaveDialog"), QStringLiteral("folder"),
                                QStringLiteral("/home/利用者/経費 2026"));
        settings.writeGroupText(QStringLiteral("Trfc"), QStringLiteral("folder"),
                                QStringLiteral("/tmp"));
        settings.writeInteger(QStringLiteral("mX"), 77);
        QVERIFY(settings.hasUnsavedChanges());
        QVERIFY(settings.save());
        QVERIFY(!settings.hasUnsavedChanges());
    }
    QSettings after(path, QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("SaveDialog/folder")).toString(),
             QStringLiteral("/home/利用者/経費 2026"));
    QVERIFY(!after.contains(QStringLiteral("Trfc/folder")));
    QCOMPARE(after.value(QStringLiteral("Trfc/mX")).toInt(), 77);
    TrfcSettings reread(after);
    QCOMPARE(reread.groupText(QStringLiteral("SaveDialog"), QStringLiteral("folder")),
             QStringLiteral("/home/利用者/経費 2026"));
    QCOMPARE(reread.groupText(QStringLiteral("SaveDialog"), QStringLiteral("none")), QString());
}

QTEST_GUILESS_MAIN(TestWindowState)
#include "test_windowstate.moc"
