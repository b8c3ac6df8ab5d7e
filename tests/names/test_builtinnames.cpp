#include "namedata/cp932.h"
#include "names/builtinnames.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"
#include "store/settings.h"
#include "testpaths.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;

class TestBuiltinNames : public QObject
{
    Q_OBJECT

private slots:
    void namesFileFoundInBuildTree();
    void answers_data();
    void answers();
    void thousandsOfItems();
    void unusableFileToldOnce_data();
    void unusableFileToldOnce();
    void receivedParts_data();
    void receivedParts();
    void sourceChoice_data();
    void sourceChoice();
};

namespace {

const QString kNamesFile = QStringLiteral(RIDELOG_BINARY_DIR "/share/ridelog/names.sqlite");

} // namespace

void TestBuiltinNames::namesFileFoundInBuildTree()
{
    // The tests run from the build tree, which holds the file the build made; the installed
    // place stands behind it.
    QCOMPARE(findBuiltinNamesFile(), kNamesFile);
    QVERIFY(QFile::exists(kNamesFile));
    for (const char* licence : {"LICENSE-suica-viewer.txt", "LICENSE-ICCardManager.txt"})
        QVERIFY2(QFile::exists(QStringLiteral(RIDELOG_BINARY_DIR "/share/ridelog/") +
                               QLatin1String(licence)),
                 licence);
    const QStringList candidates = builtinNamesCandidates();
    QVERIFY(candidates.size() >= 3);
    QVERIFY(candidates.constLast().endsWith(QStringLiteral("/share/ridelog/names.sqlite")));
}

void TestBuiltinNames::answers_data()
{
    QTest::addColumn<QString>("items");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("skipped");

    QTest::newRow("known station") << railEntryItem(123, {0, 0x25, 0x0A})
                                   << QStringLiteral("12302,東日本旅客鉄道,山手,新宿:") << 0;
    QTest::newRow("exit and entry")
        << railExitItem(7, {0, 0x25, 0x07}) + railEntryItem(8, {1, 0x81, 0x3A})
        << QStringLiteral("704,東日本旅客鉄道,山手,渋谷:"
                          "802,名古屋市交通局,1号線 東山,名古屋:")
        << 0;
    QTest::newRow("unknown station")
        << railEntryItem(1, {0, 0x25, 0x19}) << QStringLiteral("No data") << 0;
    // The built-in data names no bus stop and no shop: a server does.
    QTest::newRow("bus and shop") << busItem(2, {0x0C4B, 1}) + shopItem(3, {1, 0xC7, 0x1234})
                                  << QStringLiteral("No data") << 0;
    QTest::newRow("malformed items skipped")
        << QStringLiteral("12302%2cx%3a99%2c1%3a") + railEntryItem(5, {0, 0x25, 0x0A}) +
               QStringLiteral("5%2c0%2c0%2c999%3a")
        << QStringLiteral("502,東日本旅客鉄道,山手,新宿:") << 3;
}

void TestBuiltinNames::answers()
{
    QFETCH(QString, items);
    QFETCH(QString, answer);
    QFETCH(int, skipped);
    BuiltinNames names(kNamesFile);
    const BuiltinAnswer result = names.answer(items);
    QVERIFY2(result.available, qPrintable(result.failure));
    QCOMPARE(result.body, cp932::encode(answer));
    QCOMPARE(result.skippedItems, skipped);
}

void TestBuiltinNames::thousandsOfItems()
{
    QString items;
    for (std::uint32_t serial = 1; serial <= 5000; ++serial)
        items += railEntryItem(serial, {0, 0x25, 0x07});
    BuiltinNames names(kNamesFile);
    const BuiltinAnswer result = names.answer(items);
    QVERIFY(result.available);
    NameRefreshTable table;
    DisplayFlags flags;
    flags.railLineShown = true;
    QCOMPARE(readNameAnswer(200, result.body, flags, table), QString());
    QCOMPARE(table.size(), std::size_t(5000));
    QCOMPARE(table.rowFor(QStringLiteral("4999")).entryName, QStringLiteral("渋谷(山手線)"));
}

void TestBuiltinNames::unusableFileToldOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not SQLite") << QByteArray("地区コード,線区コード\n0,1,1\n");
    QTest::newRow("cut short") << QByteArray("SQLite format 3\0\x10\0", 19);
}

void TestBuiltinNames::unusableFileToldOnce()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("names.sqlite"));
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    BuiltinNames names(path);
    const BuiltinAnswer first = names.answer(railEntryItem(1, {0, 0x25, 0x0A}));
    QVERIFY(!first.available);
    QVERIFY(first.failure.contains(path));
    QVERIFY(first.body.isEmpty());
    // Read once per run: a good file put there later is not read, the failure stays the same.
    QFile::remove(path);
    QVERIFY(QFile::copy(kNamesFile, path));
    const BuiltinAnswer second = names.answer(railEntryItem(1, {0, 0x25, 0x0A}));
    QVERIFY(!second.available);
    QCOMPARE(second.failure, first.failure);
}

void TestBuiltinNames::receivedParts_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("kept");

    QTest::newRow("plain") << QStringLiteral("新宿") << QStringLiteral("新宿");
    QTest::newRow("blank stays") << QStringLiteral(" ") << QStringLiteral(" ");
    QTest::newRow("NUL") << QString(QStringLiteral("新") + QChar(0) + QStringLiteral("宿"))
                         << QStringLiteral("新宿");
    QTest::newRow("controls and line ends")
        << QStringLiteral("\x01新\t宿\r\n\x7F\u0085\u2028") << QStringLiteral("新宿");
    QTest::newRow("20000 characters") << QString(20000, u'駅') << QString(255, u'駅');
    // U+20B9F is two UTF-16 units: a cut between them would leave half a character.
    const QString pair = QString::fromUcs4(U"\U00020B9F");
    QTest::newRow("no half character") << QString(254, u'a') + pair << QString(254, u'a');
    QTest::newRow("whole pair fits") << QString(253, u'a') + pair << QString(253, u'a') + pair;
}

void TestBuiltinNames::receivedParts()
{
    QFETCH(QString, part);
    QFETCH(QString, kept);
    QCOMPARE(receivedNamePart(part), kept);
}

void TestBuiltinNames::sourceChoice_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("setting"); // empty: not set
    QTest::addColumn<bool>("builtinOnly");
    QTest::addColumn<QString>("server");

    const QString fallback = QStringLiteral("http://localhost/trfc/");
    const QString office = QStringLiteral("http://names.example.net:8780/trfc/");
    QTest::newRow("nothing set") << QString() << QString() << false << fallback;
    QTest::newRow("setting URL") << QString() << office << false << office;
    QTest::newRow("command line wins over setting")
        << QStringLiteral("http://127.0.0.1:9000") << office << false
        << QStringLiteral("http://127.0.0.1:9000");
    QTest::newRow("unusable command line")
        << QStringLiteral("ftp://x/") << QStringLiteral("https://n.example/") << false
        << QStringLiteral("https://n.example/");
    QTest::newRow("unusable setting")
        << QStringLiteral("not a url") << QStringLiteral("::") << false << fallback;
    QTest::newRow("builtin on the command line")
        << QStringLiteral("builtin") << office << true << office;
    QTest::newRow("builtin setting") << QString() << QStringLiteral("Builtin") << true << fallback;
    QTest::newRow("command line wins over builtin setting")
        << office << QStringLiteral("builtin") << false << office;
}

void TestBuiltinNames::sourceChoice()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, setting);
    QFETCH(bool, builtinOnly);
    QFETCH(QString, server);
    QTemporaryDir dir;
    QSettings ini(dir.filePath(QStringLiteral("Hotaru.ini")), QSettings::IniFormat);
    if (!setting.isEmpty())
        ini.setValue(QStringLiteral("Trfc/nameServer"), setting);
    const TrfcSettings settings(ini);
    QCOMPARE(builtinNamesOnly(commandLine, settings), builtinOnly);
    QCOMPARE(nameServerUrl(commandLine, settings).toString(), server);
}

QTEST_GUILESS_MAIN(TestBuiltinNames)
#include "test_builtinnames.moc"
