// Import of the code tables: both station table layouts, the all-sheets table, duplicates,
// unreadable rows, and the SQLite file written and read back.
#include "namedata/csvreader.h"
#include "namedata/namedatabase.h"
#include "namedata/tableimport.h"
#include "support/smallfilesystem.h"
#include "test_nameserver.h"
#include "testfiles.h"
#include "testpaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sys/resource.h>

using namespace ridelog;
using namespace ridelog::nameserver;
using ridelog::test::SmallFileSystem;

namespace {

void expectRail(const NameDirectory& directory, StationKey key, const QString& company,
                const QString& line, const QString& station)
{
    const RailNames* names = directory.rail(key);
    QVERIFY2(names, "station not found");
    QCOMPARE(names->company, company);
    QCOMPARE(names->line, line);
    QCOMPARE(names->station, station);
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

private slots:
    void csvQuotesLineEndsAndMarks();
    void lineNameSuffix_data();
    void lineNameSuffix();
    void currentStationTable();
    void stationTableWithoutFinalLineEnd();
    void earlierTableWins();
    void decimalStationTable();
    void decimalTableFillsOnlyMissingKeys();
    void allSheetsTable();
    void unterminatedQuoteIsOneUnreadableRow();
    void rowThatIsNotUtf8IsUnreadable();
    void missingFileIsReported();
    void rowsThatCannotBeStoredFaithfully_data();
    void rowsThatCannotBeStoredFaithfully();
    void manyBadRowsAreCounted();
    void hugeFieldTakesLittleMemory();
    void databaseRoundTrip();
    void databaseFailures();
    void failedWriteKeepsEarlierDatabase();
    void publicTables();
};

void TestImport::csvQuotesLineEndsAndMarks()
{
    CsvReader reader(QByteArray("\xEF\xBB\xBF"
                                "a,\"b,1\",\"say \"\"hi\"\"\"\r\n"
                                "\r\n"
                                "\"two\nlines\",x\n"
                                "last,,"));
    CsvRow row;
    QVERIFY(reader.next(row));
    QCOMPARE(row.fields, (QByteArrayList{"a", "b,1", "say \"hi\""}));
    QCOMPARE(row.lineNumber, 1);
    QVERIFY(!row.malformed);
    QVERIFY(reader.next(row));
    QCOMPARE(row.fields, (QByteArrayList{"two\nlines", "x"}));
    QCOMPARE(row.lineNumber, 3);
    QVERIFY(reader.next(row));
    QCOMPARE(row.fields, (QByteArrayList{"last", "", ""}));
    QCOMPARE(row.lineNumber, 5);
    QVERIFY(!reader.next(row));
}

void TestImport::rowsThatCannotBeStoredFaithfully_data()
{
    QTest::addColumn<QByteArray>("row");
    QTest::addColumn<QString>("problem");
    QTest::newRow("NUL in the station name")
        << QByteArray("00,25,0B,東日本旅客鉄道,山手線,代々") + '\0' + "木"
        << "line 3: column 6 holds a NUL";
    QTest::newRow("NUL in a code") << QByteArray("00,2") + '\0' + ",0B,東日本旅客鉄道,山手線,代々木"
                                   << "line 3: column 2 holds a NUL";
    QTest::newRow("256 characters")
        << "00,25,0B,東日本旅客鉄道,山手線," + QString(256, u'駅').toUtf8()
        << "line 3: column 6 is longer than 255 characters";
    QTest::newRow("a field of 1 MB")
        << "00,25,0B,\"" + QByteArray(1 << 20, 'x') + "\",山手線,代々木"
        << "line 3: column 4 is longer than 255 characters";
    QTest::newRow("200 columns") << "00,25,0B,a,b,c" + QByteArray(194, ',')
                                 << "line 3: more than 64 columns";
}

// A row whose text would be cut or changed on the way into the names file is refused, with its
// line; the rows around it are imported.
void TestImport::rowsThatCannotBeStoredFaithfully()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, problem);
    const QByteArray table = "area,line,station,company,line_name,station_name\n"
                             "00,25,0A,東日本旅客鉄道,山手線,新宿\n" +
                             row + "\n00,25,0C,東日本旅客鉄道,山手線,原宿\n";
    NameDirectory directory;
    const ImportReport report = importTableContent(table, QStringLiteral("t.csv"), directory);
    QCOMPARE(report.rows, 3);
    QCOMPARE(report.railAdded, 2);
    QCOMPARE(report.unreadable, 1);
    QCOMPARE(report.problems.size(), 1);
    QVERIFY2(report.problems[0].startsWith(problem), qPrintable(report.problems[0]));
    QVERIFY(!directory.rail({0, 0x25, 0x0B}));
    // 255 characters are still a name.
    NameDirectory longest;
    importTableContent("00,25,0B,c,l," + QString(255, u'駅').toUtf8() + '\n', QString(), longest);
    QVERIFY(longest.rail({0, 0x25, 0x0B}));
}

void TestImport::manyBadRowsAreCounted()
{
    QByteArray table = "area,line,station,company,line_name,station_name\n";
    for (int i = 0; i < 800; ++i)
        table += "00,25,zz,東日本旅客鉄道,山手線,新宿\n";
    NameDirectory directory;
    const ImportReport report = importTableContent(table, QStringLiteral("t.csv"), directory);
    QCOMPARE(report.unreadable, 800);
    const QString summary = report.summary();
    QVERIFY(summary.contains(u"\n  line 2: "));
    QVERIFY(summary.contains(u"\n  line 6: "));
    QVERIFY(!summary.contains(u"\n  line 7: "));
    QVERIFY2(summary.endsWith(u"\n  and 795 more unreadable rows"), qPrintable(summary));
}

namespace {

// A table made as it is read: a header, one row whose station name is `fieldBytes` long, and
// a good row, without ever holding the long field in memory.
class GeneratedTable : public QIODevice
{
public:
    explicit GeneratedTable(qint64 fieldBytes)
        : head_("area,line,station,company,line_name,station_name\n00,25,0B,c,l,")
        , tail_("\n00,25,0C,c,l,原宿\n")
        , size_(head_.size() + fieldBytes + tail_.size())
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool atEnd() const override { return at_ >= size_ && QIODevice::atEnd(); }

protected:
    qint64 readData(char* data, qint64 most) override
    {
        qint64 done = 0;
        while (done < most && at_ < size_) {
            const qint64 fieldEnd = size_ - tail_.size();
            if (at_ < head_.size())
                data[done] = head_[at_];
            else if (at_ < fieldEnd)
                data[done] = 'x';
            else
                data[done] = tail_[at_ - fieldEnd];
            ++done;
            ++at_;
        }
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray head_;
    QByteArray tail_;
    qint64 size_;
    qint64 at_ = 0;
};

long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

// One field of 100 MB: the reader keeps what a name can be and counts the rest, so the import
// takes a few MiB, not a multiple of the field.
void TestImport::hugeFieldTakesLittleMemory()
{
    const long before = peakMemoryKiB();
    GeneratedTable table(100LL << 20);
    CsvReader reader(table);
    CsvRow row;
    QVERIFY(reader.next(row)); // header
    QVERIFY(reader.next(row));
    QCOMPARE(row.lineNumber, 2);
    QCOMPARE(row.overlongField, 5);
    QCOMPARE(row.fields[5].size(), CsvReader::kMaxFieldBytes);
    QVERIFY(reader.next(row));
    QCOMPARE(row.fields, (QByteArrayList{"00", "25", "0C", "c", "l", "原宿"}));
    QVERIFY(!reader.next(row));
    QVERIFY2(peakMemoryKiB() - before < 32 * 1024,
             qPrintable(QString::number(peakMemoryKiB() - before)));
}

void TestImport::lineNameSuffix_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("stored");
    QTest::newRow("current table") << QStringLiteral("山手線") << QStringLiteral("山手");
    QTest::newRow("2014 table") << QStringLiteral("山手") << QStringLiteral("山手");
    QTest::newRow("only one stripped") << QStringLiteral("東山線線") << QStringLiteral("東山線");
    QTest::newRow("bracketed") << QStringLiteral("1号線(御堂筋線)")
                               << QStringLiteral("1号線(御堂筋線)");
    QTest::newRow("just the suffix") << QStringLiteral("線") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestImport::lineNameSuffix()
{
    QFETCH(QString, written);
    QFETCH(QString, stored);
    QCOMPARE(lineNameWithoutSuffix(written), stored);
}

void TestImport::currentStationTable()
{
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath("stations-current.csv"), directory);
    QVERIFY(report.opened);
    QCOMPARE(report.rows, 11);
    QCOMPARE(report.railAdded, 6);
    QCOMPARE(report.duplicates, 1);
    QCOMPARE(report.unreadable, 4);
    QCOMPARE(report.problems.size(), 4);
    QVERIFY(report.problems[0].startsWith(u"line 7:"));
    QVERIFY(report.problems[1].startsWith(u"line 8:"));
    QVERIFY(report.problems[2].startsWith(u"line 9:"));
    QVERIFY(report.problems[3].startsWith(u"line 11:"));

    expectRail(directory, {0, 0x25, 0x0A}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("新宿"));
    expectRail(directory, {0, 0x25, 0x07}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("渋谷"));
    expectRail(directory, {0, 0x01, 0x07}, QStringLiteral("東日本旅客鉄道"),
               QStringLiteral("東海道本"), QStringLiteral("品川"));
    expectRail(directory, {2, 0x81, 0x1C}, QStringLiteral("大阪市高速電気軌道"),
               QStringLiteral("1号線(御堂筋線)"), QStringLiteral("梅田"));
    expectRail(directory, {0, 0x02, 0x02}, QStringLiteral("線名なし"), QString(),
               QStringLiteral("駅だけ"));
    expectRail(directory, {1, 0x81, 0x3A}, QStringLiteral("名古屋市交通局"),
               QStringLiteral("東山線"), QStringLiteral("名古屋"));
    QVERIFY(!directory.rail({0, 0x02, 0x03})); // no station name
    QCOMPARE(directory.railCount(), std::size_t(6));
    QVERIFY(report.summary().contains(u"1 duplicate rows"));
    QVERIFY(report.summary().contains(u"4 unreadable rows"));
}

void TestImport::stationTableWithoutFinalLineEnd()
{
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath("stations-2014.csv"), directory);
    QCOMPARE(report.rows, 4);
    QCOMPARE(report.railAdded, 3);
    QCOMPARE(report.unreadable, 1); // garbled text
    QVERIFY(report.problems[0].contains(u"garbled"));
    expectRail(directory, {0, 0x0C, 0x01}, QStringLiteral("西日本旅客鉄道"),
               QStringLiteral("大阪環状"), QStringLiteral("大阪"));
    expectRail(directory, {0, 0x0E, 0xFE}, QStringLiteral("東京地下鉄"), QStringLiteral("銀座"),
               QStringLiteral("末尾"));
    QVERIFY(!directory.rail({0, 0x0E, 0xFF}));
}

void TestImport::earlierTableWins()
{
    NameDirectory directory;
    importTableFile(fixturePath("stations-current.csv"), directory);
    const ImportReport later = importTableFile(fixturePath("stations-2014.csv"), directory);
    QCOMPARE(later.railAdded, 2);
    QCOMPARE(later.namedEarlier, 1);
    QCOMPARE(later.duplicates, 0);
    QCOMPARE(directory.rail({0, 0x25, 0x0A})->station, QStringLiteral("新宿"));
}

void TestImport::decimalStationTable()
{
    const QByteArray table =
        QStringLiteral("AreaCode,LineCode,StationCode,CompanyName,LineName,StationName,"
                       "Note\r\n"
                       "0,0,0,JR東日本,上越新幹線,長岡,\r\n"
                       "0,0,1,東日本旅客鉄道,東海道,東京,\r\n"
                       "0,1,6,東日本旅客鉄道,山手,高輪ゲートウェイ,\r\n"
                       "0,1,232,西日本旅客鉄道,東海道本,大阪,\r\n"
                       "0,37,10,東日本旅客鉄道,山手,新宿,\r\n"
                       "3,200,15,札幌市交通局,南北線,さっぽろ,\r\n"
                       "0,256,1,会社,線,駅,\r\n"
                       "0,1A,1,会社,線,駅,\r\n"
                       "2,12,34,会社,線,\r\n")
            .toUtf8();
    NameDirectory directory;
    const ImportReport report = importTableContent(table, QStringLiteral("iccm"), directory);
    QCOMPARE(report.rows, 9);
    QCOMPARE(report.railAdded, 4);
    QCOMPARE(report.testTerminals, 2);
    QCOMPARE(report.unreadable, 3);
    QVERIFY(report.problems[0].contains(u"decimal"));
    QVERIFY(report.summary().contains(u"2 rows at area 0, line 0 left out"));
    expectRail(directory, {0, 1, 6}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("高輪ゲートウェイ"));
    expectRail(directory, {0, 1, 0xE8}, QStringLiteral("西日本旅客鉄道"),
               QStringLiteral("東海道本"), QStringLiteral("大阪"));
    expectRail(directory, {0, 0x25, 0x0A}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("新宿"));
    expectRail(directory, {3, 0xC8, 0x0F}, QStringLiteral("札幌市交通局"), QStringLiteral("南北"),
               QStringLiteral("さっぽろ"));
    // Test terminals, and nothing read as hex.
    QVERIFY(!directory.rail({0, 0, 0}));
    QVERIFY(!directory.rail({0, 0, 1}));
    QVERIFY(!directory.rail({0, 0x37, 0x10}));
}

void TestImport::decimalTableFillsOnlyMissingKeys()
{
    NameDirectory directory;
    const QByteArray current = QStringLiteral("地区コード(16進),線区コード(16進),駅順コード(16進),"
                                              "会社名,線区名,駅名,備考\r\n"
                                              "0,25,A,東日本旅客鉄道,山手線,新宿,\r\n"
                                              "0,0,F0,北海道旅客鉄道,-,札幌市内,\r\n")
                                   .toUtf8();
    const QByteArray decimal = QStringLiteral("AreaCode,LineCode,StationCode,CompanyName,LineName,"
                                              "StationName,Note\r\n"
                                              "0,37,10,JR東日本,山手,新宿駅,\r\n"
                                              "0,0,240,試験,試験,端末試験用,\r\n"
                                              "0,37,7,東日本旅客鉄道,山手,渋谷,\r\n")
                                   .toUtf8();
    importTableContent(current, QStringLiteral("current"), directory);
    const ImportReport later = importTableContent(decimal, QStringLiteral("iccm"), directory);
    QCOMPARE(later.railAdded, 1);
    QCOMPARE(later.namedEarlier, 1);
    QCOMPARE(later.testTerminals, 1);
    QCOMPARE(directory.rail({0, 0x25, 0x0A})->station, QStringLiteral("新宿"));
    QCOMPARE(directory.rail({0, 0, 0xF0})->station, QStringLiteral("札幌市内"));
    QCOMPARE(directory.rail({0, 0x25, 0x07})->station, QStringLiteral("渋谷"));
}

void TestImport::allSheetsTable()
{
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath("all-sheets.csv"), directory);
    QCOMPARE(report.rows, 12);
    QCOMPARE(report.railAdded, 2);
    QCOMPARE(report.busAdded, 2);
    QCOMPARE(report.shopsAdded, 3);
    QCOMPARE(report.duplicates, 1);
    QCOMPARE(report.unreadable, 3);
    QCOMPARE(report.otherSheets, 1);

    expectRail(directory, {0, 0, 0}, QStringLiteral("都営"), QStringLiteral("浅草"),
               QStringLiteral("西馬込"));
    expectRail(directory, {3, 0x10, 0x20}, QStringLiteral("地方鉄道"), QStringLiteral("本"),
               QStringLiteral("終点"));

    const BusNames* bus = directory.bus({0x14, 0xFB});
    QVERIFY(bus);
    QCOMPARE(bus->company, QStringLiteral("広島電鉄"));
    QCOMPARE(bus->stop, QStringLiteral("大学病院南門"));
    QCOMPARE(bus->route, QString());
    const BusNames* common = directory.bus({0x22, 0x01});
    QVERIFY(common);
    QCOMPARE(common->stop, QString());
    QCOMPARE(common->route, QStringLiteral("X系統"));
    QVERIFY(!directory.bus({0x03, 0x00})); // garbled

    const ShopNames* shop = directory.shop({1, 0xC7, 0x0D65});
    QVERIFY(shop);
    QCOMPARE(shop->company, QStringLiteral("新星堂")); // the first of two rows
    QCOMPARE(shop->store, QStringLiteral("カルチェ5柏店"));
    QCOMPARE(shop->cashRegister, QStringLiteral("1F CD,DVD売場 右側の端末"));
    QCOMPARE(shop->note, QStringLiteral("Suica端末は２台"));
    QCOMPARE(directory.shop({1, 0xC7, 0x0FA9})->store, QStringLiteral("赤羽3,4番線"));
    QCOMPARE(directory.shop({1, 0xC8, 0x0102})->company, QStringLiteral("Otsuka Shoji Co,Ltd."));
    QVERIFY(!directory.shop({1, 0x01, 0x0102}));
    QVERIFY(!directory.bus({0x01, 0x01})); // ica_bus is not served
}

void TestImport::unterminatedQuoteIsOneUnreadableRow()
{
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath("broken-quote.csv"), directory);
    QCOMPARE(report.rows, 1); // the open quote swallows the rest of the file
    QCOMPARE(report.unreadable, 1);
    QVERIFY(report.problems[0].contains(u"quotes"));
    QCOMPARE(directory.railCount(), std::size_t(0));
}

void TestImport::rowThatIsNotUtf8IsUnreadable()
{
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath("not-utf8.csv"), directory);
    QCOMPARE(report.rows, 2);
    QCOMPARE(report.unreadable, 1);
    QVERIFY(report.problems[0].contains(u"UTF-8"));
    QVERIFY(!directory.rail({0, 1, 1}));
    QVERIFY(directory.rail({0, 1, 2}));
}

void TestImport::missingFileIsReported()
{
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath("no-such-table.csv"), directory);
    QVERIFY(!report.opened);
    QVERIFY(!report.openError.isEmpty());
    QVERIFY(report.summary().contains(u"no-such-table.csv"));
}

void TestImport::databaseRoundTrip()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    NameDirectory written;
    importTableFile(fixturePath("stations-current.csv"), written);
    importTableFile(fixturePath("all-sheets.csv"), written);
    const QString path = folder.filePath(QStringLiteral("names.sqlite"));
    QString error;
    QVERIFY2(writeNameDatabase(path, written, {QStringLiteral("a.csv")}, &error),
             qPrintable(error));
    QVERIFY(!QFile::exists(path + QStringLiteral(".partial")));

    const std::optional<NameDirectory> read = readNameDatabase(path, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->railCount(), written.railCount());
    QCOMPARE(read->busCount(), written.busCount());
    QCOMPARE(read->shopCount(), written.shopCount());
    expectRail(*read, {0, 0x25, 0x0A}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("新宿"));
    QCOMPARE(read->bus({0x14, 0xFB})->stop, QStringLiteral("大学病院南門"));
    QCOMPARE(read->shop({0, 0xC7, 0x0D65})->note, QStringLiteral("Suica端末は２台"));
    QCOMPARE(*read->shopRecordTail({0, 0xC7, 0x0D65}), *written.shopRecordTail({0, 0xC7, 0x0D65}));
}

void TestImport::databaseFailures()
{
    QTemporaryDir folder;
    QString error;
    QVERIFY(!readNameDatabase(folder.filePath(QStringLiteral("missing.sqlite")), &error));
    QVERIFY(error.contains(u"no such file"));

    const QString garbage = folder.filePath(QStringLiteral("garbage.sqlite"));
    QFile file(garbage);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\x5A'));
    file.close();
    error.clear();
    QVERIFY(!readNameDatabase(garbage, &error));
    QVERIFY(!error.isEmpty());

    const QString empty = folder.filePath(QStringLiteral("empty.sqlite"));
    QVERIFY(QFile(empty).open(QIODevice::WriteOnly)); // SQLite takes an empty file as a new one
    error.clear();
    QVERIFY(!readNameDatabase(empty, &error));
    QVERIFY(error.contains(u"not a name database"));
}

void TestImport::failedWriteKeepsEarlierDatabase()
{
    SmallFileSystem disk(256 * 1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.whyNotMounted()));
    const QString path = disk.filePath(QStringLiteral("names.sqlite"));
    NameDirectory first;
    first.addRail({0, 1, 1}, {QStringLiteral("会社"), QStringLiteral("線"), QStringLiteral("駅")});
    QString error;
    QVERIFY(writeNameDatabase(path, first, {}, &error));
    const QByteArray before = ridelog::test::fileBytes(path);

    // A full disk: the earlier file stays byte for byte, and nothing is left beside it.
    NameDirectory second;
    for (int station = 0; station < 256; ++station)
        second.addRail({0, 2, std::uint8_t(station)},
                       {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
                        QStringLiteral("駅%1").arg(station)});
    QVERIFY(disk.fillLeaving(8192));
    QVERIFY(!writeNameDatabase(path, second, {}, &error));
    QCOMPARE(error, QStringLiteral("no space left on the device"));
    QCOMPARE(ridelog::test::fileBytes(path), before);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("filler"), QStringLiteral("names.sqlite")}));

    QVERIFY(!writeNameDatabase(QStringLiteral("/proc/ridelog-no-such-folder/names.sqlite"), first,
                               {}, &error));
}

void TestImport::publicTables()
{
    const QDir codes(QStringLiteral(RIDELOG_CODES_DIR));
    if (!codes.exists(QStringLiteral("rail_station_codes_current.csv")))
        QSKIP("public code tables not present");
    NameDirectory directory;
    int unreadable = 0;
    for (const char* table : {"rail_station_codes_current.csv", "rail_station_codes_2014.csv",
                              "sfcardfan_all_sheets.csv"}) {
        const ImportReport report =
            importTableFile(codes.filePath(QString::fromLatin1(table)), directory);
        QVERIFY(report.opened);
        QVERIFY(report.rows > 5000);
        unreadable += report.unreadable;
    }
    QVERIFY(unreadable > 0); // the tables hold some garbled rows
    QVERIFY(unreadable < 100);
    expectRail(directory, {0, 0x25, 0x0A}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("新宿"));
    expectRail(directory, {0, 0x25, 0x07}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
               QStringLiteral("渋谷"));
    // The current table names these lines "東海道線" and "1号線 東山線".
    expectRail(directory, {0, 0x01, 0x07}, QStringLiteral("東日本旅客鉄道"),
               QStringLiteral("東海道"), QStringLiteral("品川"));
    expectRail(directory, {0, 0x0C, 0x01}, QStringLiteral("西日本旅客鉄道"),
               QStringLiteral("大阪環状"), QStringLiteral("大阪"));
    expectRail(directory, {1, 0x81, 0x3A}, QStringLiteral("名古屋市交通局"),
               QStringLiteral("1号線 東山"), QStringLiteral("名古屋"));
    QVERIFY(!directory.rail({0, 0x25, 0x19}));
    QVERIFY(directory.busCount() > 5000);
    QVERIFY(directory.shopCount() > 4000);
    QCOMPARE(directory.shop({0, 0xC7, 0x0D65})->company, QStringLiteral("新星堂"));

    // The built-in names: the current table, then the decimal one for the keys it lacks.
    NameDirectory builtin;
    importTableFile(codes.filePath(QStringLiteral("rail_station_codes_current.csv")), builtin);
    const ImportReport iccm =
        importTableFile(codes.filePath(QStringLiteral("rail_station_codes_iccm.csv")), builtin);
    QVERIFY(iccm.railAdded > 900);
    QVERIFY(iccm.testTerminals > 0);
    QCOMPARE(iccm.unreadable, 0);
    for (const auto& [key, station] :
         {std::pair{StationKey{0, 1, 232}, "大阪"}, std::pair{StationKey{0, 1, 204}, "京都"},
          std::pair{StationKey{0, 1, 230}, "新大阪"}, std::pair{StationKey{0, 1, 251}, "三ノ宮"},
          std::pair{StationKey{0, 38, 194}, "新千歳空港"},
          std::pair{StationKey{0, 130, 72}, "お台場海浜公園"}}) {
        const RailNames* names = builtin.rail(key);
        QVERIFY2(names != nullptr, station);
        QCOMPARE(names->station, QString::fromUtf8(station));
    }
    QCOMPARE(builtin.rail({0, 1, 232})->line, QStringLiteral("東海道本"));
    // Where both tables know a key, the current one names it (the other writes 保土ヶ谷).
    expectRail(builtin, {0, 1, 20}, QStringLiteral("東日本旅客鉄道"), QStringLiteral("東海道"),
               QStringLiteral("保土ケ谷"));
}

static RegisterTest<TestImport> registerImport;

#include "test_import.moc"
