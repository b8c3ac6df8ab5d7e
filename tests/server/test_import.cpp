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

// The counts of a report, in the order of its fields.
QString counts(const ImportReport& r)
{
    if (!r.opened)
        return r.openError.isEmpty() ? QStringLiteral("not opened, no reason")
                                     : QStringLiteral("not opened");
    return QStringLiteral("%1 rows: %2 %3 %4 added, %5 dup, %6 earlier, %7 bad, %8 other, %9 test")
        .arg(r.rows)
        .arg(r.railAdded)
        .arg(r.busAdded)
        .arg(r.shopsAdded)
        .arg(r.duplicates)
        .arg(r.namedEarlier)
        .arg(r.unreadable)
        .arg(r.otherSheets)
        .arg(r.testTerminals);
}

QString hexKey(std::initializer_list<unsigned> parts)
{
    QStringList texts;
    for (const unsigned part : parts)
        texts << QString::number(part, 16).toUpper();
    return texts.join(u',');
}

QString railText(const RailNames* names)
{
    return names ? QStringList{names->company, names->line, names->station}.join(u'|') : QString();
}

// Every entry of the directory in key order, one a line: "rail 0,25,A 東日本旅客鉄道|山手|新宿".
QStringList entries(const NameDirectory& directory)
{
    QStringList lines;
    directory.forEachRail([&](StationKey key, const RailNames& names) {
        lines
            << QStringLiteral("rail %1 %2").arg(hexKey({key.ac, key.lc, key.sc}), railText(&names));
    });
    directory.forEachBus([&](BusStopKey key, const BusNames& names) {
        lines << QStringLiteral("bus %1 %2|%3|%4")
                     .arg(hexKey({key.ac, key.lc}), names.company, names.stop, names.route);
    });
    directory.forEachShop([&](ShopKey key, const ShopNames& names) {
        lines << QStringLiteral("shop %1 %2|%3|%4|%5")
                     .arg(hexKey({key.ac, key.lc, key.sc}), names.company, names.store,
                          names.cashRegister, names.note);
    });
    return lines;
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

private slots:
    void csvQuotesLineEndsAndMarks();
    void fixtureTables_data();
    void fixtureTables();
    void earlierTableWins();
    void decimalStationTable();
    void decimalTableFillsOnlyMissingKeys();
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

void TestImport::fixtureTables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("counted");
    QTest::addColumn<QStringList>("problems");
    QTest::addColumn<QStringList>("named");
    QTest::newRow("current stations")
        << QStringLiteral("stations-current.csv")
        << QStringLiteral("11 rows: 6 0 0 added, 1 dup, 0 earlier, 4 bad, 0 other, 0 test")
        << QStringList{QStringLiteral("line 7: station code is not hex 00..FF"),
                       QStringLiteral("line 8: 5 columns instead of 6 or 7"),
                       QStringLiteral("line 9: station code is not hex 00..FF"),
                       QStringLiteral("line 11: no station name")}
        << QStringList{QStringLiteral("rail 0,1,7 東日本旅客鉄道|東海道本|品川"),
                       QStringLiteral("rail 0,2,2 線名なし||駅だけ"),
                       QStringLiteral("rail 0,25,7 東日本旅客鉄道|山手|渋谷"),
                       QStringLiteral("rail 0,25,A 東日本旅客鉄道|山手|新宿"),
                       QStringLiteral("rail 1,81,3A 名古屋市交通局|東山線|名古屋"),
                       QStringLiteral("rail 2,81,1C 大阪市高速電気軌道|1号線(御堂筋線)|梅田")};
    QTest::newRow("2014 stations, no final line end")
        << QStringLiteral("stations-2014.csv")
        << QStringLiteral("4 rows: 3 0 0 added, 0 dup, 0 earlier, 1 bad, 0 other, 0 test")
        << QStringList{QStringLiteral("line 4: garbled text")}
        << QStringList{QStringLiteral("rail 0,C,1 西日本旅客鉄道|大阪環状|大阪"),
                       QStringLiteral("rail 0,E,FE 東京地下鉄|銀座|末尾"),
                       QStringLiteral("rail 0,25,A 古い会社|山手|新宿(古)")};
    // Of two rows of a shop the first stays; ica_bus is another sheet.
    QTest::newRow("all sheets")
        << QStringLiteral("all-sheets.csv")
        << QStringLiteral("12 rows: 2 2 3 added, 1 dup, 0 earlier, 3 bad, 1 other, 0 test")
        << QStringList{QStringLiteral("line 5: garbled text"),
                       QStringLiteral("line 6: bus code is not hex 0000..FFFF"),
                       QStringLiteral("line 13: 6 columns instead of 15")}
        << QStringList{QStringLiteral("rail 0,0,0 都営|浅草|西馬込"),
                       QStringLiteral("rail 3,10,20 地方鉄道|本|終点"),
                       QStringLiteral("bus 14,FB 広島電鉄|大学病院南門|"),
                       QStringLiteral("bus 22,1 A社||X系統"),
                       QStringLiteral("shop 0,C7,D65 新星堂|カルチェ5柏店|1F CD,DVD売場 右側の端末|"
                                      "Suica端末は２台"),
                       QStringLiteral("shop 0,C7,FA9 KIOSK|赤羽3,4番線||"),
                       QStringLiteral("shop 0,C8,102 Otsuka Shoji Co,Ltd.|シャノワール||a:b")};
    // The open quote swallows the rest of the file.
    QTest::newRow("unterminated quote")
        << QStringLiteral("broken-quote.csv")
        << QStringLiteral("1 rows: 0 0 0 added, 0 dup, 0 earlier, 1 bad, 0 other, 0 test")
        << QStringList{QStringLiteral("line 2: broken quotes")} << QStringList();
    QTest::newRow("a row not in UTF-8")
        << QStringLiteral("not-utf8.csv")
        << QStringLiteral("2 rows: 1 0 0 added, 0 dup, 0 earlier, 1 bad, 0 other, 0 test")
        << QStringList{QStringLiteral("line 1: not UTF-8")}
        << QStringList{QStringLiteral("rail 0,1,2 ok|ok|ok")};
    QTest::newRow("missing") << QStringLiteral("no-such-table.csv") << QStringLiteral("not opened")
                             << QStringList() << QStringList();
}

void TestImport::fixtureTables()
{
    QFETCH(QString, table);
    QFETCH(QString, counted);
    QFETCH(QStringList, problems);
    QFETCH(QStringList, named);
    NameDirectory directory;
    const ImportReport report = importTableFile(fixturePath(qPrintable(table)), directory);
    QVERIFY(report.summary().startsWith(fixturePath(qPrintable(table)) + u':'));
    QCOMPARE(counts(report), counted);
    QCOMPARE(report.problems, problems);
    QCOMPARE(entries(directory), named);
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
    QTest::newRow("255 characters are still a name")
        << "00,25,0B,東日本旅客鉄道,山手線," + QString(255, u'駅').toUtf8() << QString();
    QTest::newRow("200 columns") << "00,25,0B,a,b,c" + QByteArray(194, ',')
                                 << "line 3: more than 64 columns";
}

// A row whose text would be cut or changed on the way into the names file is refused, with its
// line; the rows around it are imported either way.
void TestImport::rowsThatCannotBeStoredFaithfully()
{
    QFETCH(QByteArray, row);
    QFETCH(QString, problem);
    const QByteArray table = "area,line,station,company,line_name,station_name\n"
                             "00,25,0A,東日本旅客鉄道,山手線,新宿\n" +
                             row + "\n00,25,0C,東日本旅客鉄道,山手線,原宿\n";
    NameDirectory directory;
    const ImportReport report = importTableContent(table, QStringLiteral("t.csv"), directory);
    const bool refused = !problem.isEmpty();
    QCOMPARE(counts(report),
             QStringLiteral("3 rows: %1 0 0 added, 0 dup, 0 earlier, %2 bad, 0 other, 0 test")
                 .arg(refused ? 2 : 3)
                 .arg(refused ? 1 : 0));
    QCOMPARE(report.problems.size(), refused ? 1 : 0);
    if (refused)
        QVERIFY2(report.problems[0].startsWith(problem), qPrintable(report.problems[0]));
    QCOMPARE(directory.rail({0, 0x25, 0x0B}) == nullptr, refused);
    QVERIFY(directory.rail({0, 0x25, 0x0A}) && directory.rail({0, 0x25, 0x0C}));
}

void TestImport::earlierTableWins()
{
    NameDirectory directory;
    importTableFile(fixturePath("stations-current.csv"), directory);
    const ImportReport later = importTableFile(fixturePath("stations-2014.csv"), directory);
    QCOMPARE(counts(later),
             QStringLiteral("4 rows: 2 0 0 added, 0 dup, 1 earlier, 1 bad, 0 other, 0 test"));
    QCOMPARE(railText(directory.rail({0, 0x25, 0x0A})), QStringLiteral("東日本旅客鉄道|山手|新宿"));
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
                       "2,12,34,会社,線,\r\n"
                       "0,2,3,線だけ,線,駅,\r\n")
            .toUtf8();
    NameDirectory directory;
    const ImportReport report = importTableContent(table, QStringLiteral("iccm"), directory);
    QCOMPARE(counts(report),
             QStringLiteral("10 rows: 5 0 0 added, 0 dup, 0 earlier, 3 bad, 0 other, 2 test"));
    QVERIFY(report.problems[0].contains(u"decimal"));
    // Test terminals left out, and nothing read as hex.
    QCOMPARE(entries(directory),
             (QStringList{QStringLiteral("rail 0,1,6 東日本旅客鉄道|山手|高輪ゲートウェイ"),
                          QStringLiteral("rail 0,1,E8 西日本旅客鉄道|東海道本|大阪"),
                          QStringLiteral("rail 0,2,3 線だけ||駅"),
                          QStringLiteral("rail 0,25,A 東日本旅客鉄道|山手|新宿"),
                          QStringLiteral("rail 3,C8,F 札幌市交通局|南北|さっぽろ")}));
    QVERIFY(report.summary().contains(u"2 rows at area 0, line 0 left out"));
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
    QCOMPARE(counts(later),
             QStringLiteral("3 rows: 1 0 0 added, 0 dup, 1 earlier, 0 bad, 0 other, 1 test"));
    QCOMPARE(entries(directory),
             (QStringList{QStringLiteral("rail 0,0,F0 北海道旅客鉄道|-|札幌市内"),
                          QStringLiteral("rail 0,25,7 東日本旅客鉄道|山手|渋谷"),
                          QStringLiteral("rail 0,25,A 東日本旅客鉄道|山手|新宿")}));
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
    QCOMPARE(entries(*read).size(), 13);
    QCOMPARE(entries(*read), entries(written));
    // A shop is found whatever the constant first part of its key.
    QCOMPARE(*read->shopRecordTail({1, 0xC7, 0x0D65}), *written.shopRecordTail({0, 0xC7, 0x0D65}));
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
    // The current table names these lines "東海道線" and "1号線 東山線".
    for (const auto& [key, names] :
         {std::pair{StationKey{0, 0x25, 0x0A}, "東日本旅客鉄道|山手|新宿"},
          std::pair{StationKey{0, 0x25, 0x07}, "東日本旅客鉄道|山手|渋谷"},
          std::pair{StationKey{0, 0x01, 0x07}, "東日本旅客鉄道|東海道|品川"},
          std::pair{StationKey{0, 0x0C, 0x01}, "西日本旅客鉄道|大阪環状|大阪"},
          std::pair{StationKey{1, 0x81, 0x3A}, "名古屋市交通局|1号線 東山|名古屋"},
          std::pair{StationKey{0, 0x25, 0x19}, ""}})
        QCOMPARE(railText(directory.rail(key)), QString::fromUtf8(names));
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
    // Where both tables know a key, the current one names it (the other writes 保土ヶ谷).
    for (const auto& [key, names] :
         {std::pair{StationKey{0, 1, 232}, "東海道本|大阪"},
          std::pair{StationKey{0, 1, 204}, "京都"}, std::pair{StationKey{0, 1, 230}, "新大阪"},
          std::pair{StationKey{0, 1, 251}, "三ノ宮"},
          std::pair{StationKey{0, 38, 194}, "新千歳空港"},
          std::pair{StationKey{0, 130, 72}, "お台場海浜公園"},
          std::pair{StationKey{0, 1, 20}, "東日本旅客鉄道|東海道|保土ケ谷"}})
        QVERIFY2((u'|' + railText(builtin.rail(key))).endsWith(u'|' + QString::fromUtf8(names)),
                 names);
}

static RegisterTest<TestImport> registerImport;

#include "test_import.moc"
