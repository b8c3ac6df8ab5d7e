#include "namedata/cp932.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"

#include <QTest>

using namespace ridelog;

class TestNameProtocol : public QObject
{
    Q_OBJECT

private slots:
    // Request side
    void items_data();
    void items();
    void requestBodyAndHeaders();
    void requestUrlHasFixedPath();
    // Answer side
    void answers_data();
    void answers();
    void answerFraming();
    void errorStatusLeavesTheTable();
    void garbageNeverFails();
    // Exchange outcome
    void failureTextBounded();
    void cutOffAnswerKeepsCompleteRecords();
};

namespace {

QByteArray sjis(const QString& text)
{
    return cp932::encode(text);
}

// The name parts shown, one bit each.
enum Shown
{
    RailCompany = 1,
    RailLine = 2,
    BusCompany = 4,
    BusRoute = 8,
    ShopInfo = 16,
    ShopCompany = 32,
    ShopName = 64,
    ShopRegister = 128,
};

DisplayFlags shownFlags(int bits)
{
    DisplayFlags flags;
    flags.railCompanyShown = bits & RailCompany;
    flags.railLineShown = bits & RailLine;
    flags.busCompanyShown = bits & BusCompany;
    flags.busRouteShown = bits & BusRoute;
    flags.shopInfoShown = bits & ShopInfo;
    flags.shopCompanyShown = bits & ShopCompany;
    flags.shopNameShown = bits & ShopName;
    flags.shopRegisterShown = bits & ShopRegister;
    return flags;
}

// Every row as "key: entryName|exitName|an|ln|sn|ap|exitAn|exitLn|exitSn", in key order.
QStringList rowsOf(const NameRefreshTable& table)
{
    QStringList rows;
    for (const auto& [key, row] : table)
        rows << key + QStringLiteral(": ") +
                    QStringList{row.entryName, row.exitName, row.an,     row.ln,    row.sn,
                                row.ap,        row.exitAn,   row.exitLn, row.exitSn}
                        .join(u'|');
    return rows;
}

} // namespace

void TestNameProtocol::items_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("expected");
    QTest::newRow("rail entry") << railEntryItem(123, {0, 37, 10})
                                << QStringLiteral("12302%2c0%2c37%2c10%3a");
    QTest::newRow("rail exit") << railExitItem(123, {0, 37, 25})
                               << QStringLiteral("12304%2c0%2c37%2c25%3a");
    QTest::newRow("rail high bytes") << railEntryItem(16777215, {255, 200, 129})
                                     << QStringLiteral("1677721502%2c255%2c200%2c129%3a");
    QTest::newRow("shop") << shopItem(7, {1, 199, 40000})
                          << QStringLiteral("711%2c199%2c40000%2c0%3a");
    QTest::newRow("bus unsigned") << busItem(9, {32769, 65535})
                                  << QStringLiteral("920%2c32769%2c65535%2c0%3a");
    QTest::newRow("bus none") << busItem(9, {0, 0}) << QStringLiteral("920%2c%3a");
    QTest::newRow("serial 0") << railEntryItem(0, {1, 2, 3})
                              << QStringLiteral("002%2c1%2c2%2c3%3a");
}

void TestNameProtocol::items()
{
    QFETCH(QString, item);
    QFETCH(QString, expected);
    QCOMPARE(item, expected);
}

void TestNameProtocol::requestBodyAndHeaders()
{
    QCOMPARE(nameRequestBody(QStringLiteral("12302%2c0%2c37%2c10%3a")),
             QByteArray("a=12302%2c0%2c37%2c10%3a&p=ap&"));
    QCOMPARE(nameRequestPath(), QStringLiteral("/trfc/"));
    QCOMPARE(nameRequestContentType(), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(nameRequestAccept(), QByteArray("text/*"));
    QCOMPARE(nameRequestUserAgent(), QByteArray("Hotaru RLG1.2 (Station: ) Agent"));
}

void TestNameProtocol::requestUrlHasFixedPath()
{
    QCOMPARE(nameRequestUrl(QUrl(QStringLiteral("http://127.0.0.1:8780/other?x=1#f"))),
             QUrl(QStringLiteral("http://127.0.0.1:8780/trfc/")));
    const QUrl standard = nameRequestUrl(defaultNameServerUrl());
    QCOMPARE(standard.toString(), QStringLiteral("http://localhost/trfc/"));
    QCOMPARE(standard.port(80), 80);
}

void TestNameProtocol::answers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QStringList>("rows");

    // Rail: the entry and the exit fill their own parts of the row.
    QTest::newRow("rail entry and exit")
        << sjis(QStringLiteral("12302,JR,山手,新宿:12304,東急,東横,渋谷:"))
        << (RailCompany | RailLine)
        << QStringList{QStringLiteral(
               "123: 新宿(JR：山手線)|渋谷(東急：東横線)|JR|山手|新宿||東急|東横|渋谷")};
    QTest::newRow("rail exit alone")
        << sjis(QStringLiteral("12302,JR,山手,新宿:45604,JR,山手,渋谷")) << int(RailLine)
        << QStringList{QStringLiteral("123: 新宿(山手線)||JR|山手|新宿||||"),
                       QStringLiteral("456: |渋谷(山手線)|||||JR|山手|渋谷")};
    // Bus: a blank stop is the common stop, a blank or missing route is none; ASCII colon.
    QTest::newRow("bus common stop drops the exit")
        << sjis(QStringLiteral("504,JR,山手,渋谷:520,A社, ,X系統:")) << (BusCompany | BusRoute)
        << QStringList{QStringLiteral("5: 共通(A社:X系統)||A社|共通|X系統||||")};
    QTest::newRow("bus blank route")
        << sjis(QStringLiteral("520,A社,駅前, :")) << (BusCompany | BusRoute)
        << QStringList{QStringLiteral("5: 駅前(A社)||A社|駅前|||||")};
    QTest::newRow("bus route only")
        << sjis(QStringLiteral("520,A社,駅前,X系統")) << int(BusRoute)
        << QStringList{QStringLiteral("5: 駅前(X系統)||A社|駅前|X系統||||")};
    QTest::newRow("bus route missing")
        << sjis(QStringLiteral("520,A社,駅前")) << (BusCompany | BusRoute)
        << QStringList{QStringLiteral("5: 駅前(A社)||A社|駅前|||||")};
    QTest::newRow("bus second code character ignored")
        << sjis(QStringLiteral("529,A社,駅前,X系統")) << int(BusCompany)
        << QStringList{QStringLiteral("5: 駅前(A社)||A社|駅前|X系統||||")};
    // Shop: a blank register is stored empty but composed as received; the exit name goes, the
    // exit parts stay.
    const int allShop = ShopInfo | ShopCompany | ShopName | ShopRegister;
    QTest::newRow("shop hidden keeps the exit parts")
        << sjis(QStringLiteral("4404,東急,東横,渋谷:4411,K社,売店, , :"))
        << (ShopCompany | ShopName | ShopRegister)
        << QStringList{QStringLiteral("44:  ||K社|売店|||東急|東横|渋谷")};
    QTest::newRow("shop blank register composed as received")
        << sjis(QStringLiteral("4411,K社,売店, ,F4:")) << allShop
        << QStringList{QStringLiteral("44: 売店  (K社)||K社|売店||F4|||")};
    QTest::newRow("shop all") << sjis(QStringLiteral("4411,K社,売店,R1,F4")) << allShop
                              << QStringList{QStringLiteral("44: 売店 R1(K社)||K社|売店|R1|F4|||")};
    QTest::newRow("shop register and fourth missing")
        << sjis(QStringLiteral("4411,K社,売店")) << (ShopInfo | ShopCompany | ShopName)
        << QStringList{QStringLiteral("44: 売店(K社)||K社|売店|||||")};

    // A record without its mandatory parts still makes its row, and the record after it counts.
    const QString shinjuku = QStringLiteral("456: 新宿||JR|山手|新宿||||");
    const QString emptyRow = QStringLiteral("123: ||||||||");
    for (const char* incomplete : {"12302,JR,山手", "12304,JR,山手:", "12311,K社",
                                   "12320:", "12302,,,", "12392,JR,山手,新宿:12303,JR,山手,新宿"})
        QTest::newRow(incomplete) << sjis(QString::fromUtf8(incomplete) +
                                          QStringLiteral(":45602,JR,山手,新宿:"))
                                  << 0 << QStringList{emptyRow, shinjuku};
    QTest::newRow("empty records and fields skipped")
        << sjis(QStringLiteral("::12302,JR,山手,新宿:::,,,:,,12304,,JR,,山手,渋谷,:")) << 0
        << QStringList{QStringLiteral("123: 新宿|渋谷|JR|山手|新宿||JR|山手|渋谷")};
    QTest::newRow("later record overwrites its fields")
        << sjis(QStringLiteral("12302,JR,山手,新宿:12302,JR,中央,四ツ谷:12304,JR,山手,渋谷")) << 0
        << QStringList{QStringLiteral("123: 四ツ谷|渋谷|JR|中央|四ツ谷||JR|山手|渋谷")};
    QTest::newRow("first field too short")
        << sjis(QStringLiteral("02,JR,山手,新宿:2,JR:x")) << 0 << QStringList{};
    QTest::newRow("lines joined") << sjis(QStringLiteral("123\n02,JR,山\n手,新宿\r\n:"))
                                  << (RailCompany | RailLine)
                                  << QStringList{
                                         QStringLiteral("123: 新宿(JR：山手線)||JR|山手|新宿||||")};
    for (const char* noData :
         {"No data", "NO DATA", "no dATa12302,JR,Y,S:", "No d\nata\n12302,JR,Y,S:"})
        QTest::addRow("%s", QByteArray(noData).replace('\n', "\\n").constData())
            << QByteArray(noData) << 0 << QStringList{};

    // Hostile answers: read whole, each part kept at the width of the name tables' text columns,
    // without control characters.
    const QString station = QString(3000, u'駅');
    const QString kept = station.left(kMaxNamePartCharacters);
    QTest::newRow("long record") << sjis(QStringLiteral("12302,JR,山手,") + station +
                                         QStringLiteral(":45602,JR,山手,新宿"))
                                 << 0
                                 << QStringList{QStringLiteral("123: ") + kept +
                                                    QStringLiteral("||JR|山手|") + kept +
                                                    QStringLiteral("||||"),
                                                shinjuku};
    QTest::newRow("NUL, controls and a huge part")
        << sjis(QStringLiteral("12302,J")) + QByteArray("\0\x1b", 2) + sjis(QStringLiteral("R,")) +
               QByteArray(20000, 'L') + sjis(QStringLiteral(",新\a宿:"))
        << 0
        << QStringList{QStringLiteral("123: 新宿||JR|") + QString(255, u'L') +
                       QStringLiteral("|新宿||||")};
    // Undecodable bytes become replacement characters, not lost separators.
    QTest::newRow("undecodable bytes") << QByteArray("\x81:12302,\x82,L,S") << 0
                                       << QStringList{QStringLiteral("123: S||\uFFFD|L|S||||")};
}

void TestNameProtocol::answers()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, shown);
    QFETCH(QStringList, rows);
    // An answer adds to the table and leaves the rows it does not name alone.
    NameRefreshTable table;
    table.rowFor(QStringLiteral("9")).entryName = QStringLiteral("kept");
    QCOMPARE(readNameAnswer(200, answer, shownFlags(shown), table), QString());
    QStringList all = rowsOf(table);
    QCOMPARE(all.takeLast(), QStringLiteral("9: kept||||||||"));
    QCOMPARE(all, rows);
}

void TestNameProtocol::answerFraming()
{
    // Only line feeds are dropped; the carriage return stays in the joined text.
    QCOMPARE(joinAnswerLines("123\n02,JR\r\n,Y,S:\n"), QByteArray("12302,JR\r,Y,S:"));
    QVERIFY(isNoDataAnswer("No data"));
    QVERIFY(!isNoDataAnswer("No dat"));
    QVERIFY(!isNoDataAnswer(" No data"));
}

void TestNameProtocol::errorStatusLeavesTheTable()
{
    for (const int status : {404, 500, 302}) {
        NameRefreshTable table;
        table.rowFor(QStringLiteral("1")).entryName = QStringLiteral("kept");
        const NameRefreshTable before = table;
        QCOMPARE(readNameAnswer(status, sjis(QStringLiteral("12302,JR,山手,新宿:")), {}, table),
                 QStringLiteral("Error %1").arg(status));
        QVERIFY(table == before);
    }
}

void TestNameProtocol::garbageNeverFails()
{
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 37 + i / 7) & 0xFF));
    NameRefreshTable table;
    QCOMPARE(readNameAnswer(200, bytes, {}, table), QString());
    QVERIFY(!table.empty());
    // Only keys that came with a code: every row key is shorter than its record.
    for (const auto& [key, row] : table)
        QVERIFY(!key.contains(u':') && !key.contains(u','));
}

void TestNameProtocol::failureTextBounded()
{
    NameExchangeResult result;
    result.failure = QString(2000, u'x');
    NameRefreshTable table;
    QCOMPARE(readNameExchangeResult(result, {}, table).size(), 511);
    QVERIFY(table.empty());
}

void TestNameProtocol::cutOffAnswerKeepsCompleteRecords()
{
    NameExchangeResult result;
    result.httpStatus = 200;
    result.cutOff = true;
    result.body = sjis(QStringLiteral("12302,JR,山手,新宿:12304,JR,山手,渋"));
    NameRefreshTable table;
    const QString text = readNameExchangeResult(result, shownFlags(0), table);
    QVERIFY2(text.contains(QStringLiteral("cut off")), qPrintable(text));
    QCOMPARE(rowsOf(table), QStringList{QStringLiteral("123: 新宿||JR|山手|新宿||||")});

    result.body = "12302,JR,Y,S";
    NameRefreshTable none;
    QVERIFY(!readNameExchangeResult(result, {}, none).isEmpty());
    QVERIFY(none.empty());
}

QTEST_GUILESS_MAIN(TestNameProtocol)
#include "test_nameprotocol.moc"
