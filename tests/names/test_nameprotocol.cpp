#include "namedata/cp932.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"
#include "store/settings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace ridelog;

class TestNameProtocol : public QObject
{
    Q_OBJECT

private slots:
    // Request side
    void items_data();
    void items();
    void railItemPair();
    void requestBodyAndHeaders();
    // Answer side
    void railRecord_data();
    void railRecord();
    void exitOnlyRecord();
    void busRecord_data();
    void busRecord();
    void shopRecord_data();
    void shopRecord();
    void missingMandatoryFieldStillCreatesRow_data();
    void missingMandatoryFieldStillCreatesRow();
    void emptyRecordsSkipped();
    void laterRecordOverwritesItsFields();
    void otherKindOnlyCreatesRow();
    void shortFirstFieldIgnored();
    void longRecordRead();
    void noData_data();
    void noData();
    void errorStatus_data();
    void errorStatus();
    void linesJoinedCarriageReturnKept();
    void garbageNeverFails();
    // Exchange outcome
    void failureTextBounded();
    void cutOffAnswerKeepsCompleteRecords();
    // Where the server is
    void serverUrl_data();
    void serverUrl();
    void requestUrlHasFixedPath();
};

namespace {

QByteArray sjis(const QString& text)
{
    return cp932::encode(text);
}

DisplayFlags railFlags(bool company, bool line)
{
    DisplayFlags flags;
    flags.railCompanyShown = company;
    flags.railLineShown = line;
    return flags;
}

NameRefreshTable parsed(const QString& answer, const DisplayFlags& flags = {})
{
    NameRefreshTable table;
    const QString result = readNameAnswer(200, sjis(answer), flags, table);
    if (!result.isEmpty())
        qWarning("unexpected result %s", qPrintable(result));
    return table;
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

void TestNameProtocol::railItemPair()
{
    const QString list = railEntryItem(123, {0, 37, 10}) + railExitItem(123, {0, 37, 25});
    QCOMPARE(QUrl::fromPercentEncoding(list.toLatin1()),
             QStringLiteral("12302,0,37,10:12304,0,37,25:"));
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

void TestNameProtocol::railRecord_data()
{
    QTest::addColumn<bool>("company");
    QTest::addColumn<bool>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both") << true << true << QStringLiteral("新宿(JR：山手線)");
    QTest::newRow("company") << true << false << QStringLiteral("新宿(JR)");
    QTest::newRow("line") << false << true << QStringLiteral("新宿(山手線)");
    QTest::newRow("neither") << false << false << QStringLiteral("新宿");
}

void TestNameProtocol::railRecord()
{
    QFETCH(bool, company);
    QFETCH(bool, line);
    QFETCH(QString, expected);
    const NameRefreshTable table =
        parsed(QStringLiteral("12302,JR,山手,新宿:"), railFlags(company, line));
    QCOMPARE(table.size(), std::size_t(1));
    const NameRefreshRow* row = table.find(QStringLiteral("123"));
    QVERIFY(row != nullptr);
    QCOMPARE(row->entryName, expected);
    QCOMPARE(row->an, QStringLiteral("JR"));
    QCOMPARE(row->ln, QStringLiteral("山手"));
    QCOMPARE(row->sn, QStringLiteral("新宿"));
    QVERIFY(row->exitName.isEmpty());
    QVERIFY(row->exitAn.isEmpty());
}

void TestNameProtocol::exitOnlyRecord()
{
    NameRefreshTable table;
    table.rowFor(QStringLiteral("123")).entryName = QStringLiteral("新宿");
    QCOMPARE(readNameAnswer(200, sjis(QStringLiteral("12304,JR,山手,渋谷")), railFlags(true, true),
                            table),
             QString());
    const NameRefreshRow& row = table.rowFor(QStringLiteral("123"));
    QCOMPARE(row.entryName, QStringLiteral("新宿"));
    QCOMPARE(row.exitName, QStringLiteral("渋谷(JR：山手線)"));
    QCOMPARE(row.exitAn, QStringLiteral("JR"));
    QCOMPARE(row.exitLn, QStringLiteral("山手"));
    QCOMPARE(row.exitSn, QStringLiteral("渋谷"));
    QVERIFY(row.an.isEmpty());
}

void TestNameProtocol::busRecord_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("company");
    QTest::addColumn<bool>("route");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("line");
    const QString common = QStringLiteral("共通");
    const QString station = QStringLiteral("駅前");
    const QString x = QStringLiteral("X系統");
    QTest::newRow("common stop") << QStringLiteral("520,A社, ,X系統:") << true << true
                                 << QStringLiteral("共通(A社:X系統)") << common << x;
    QTest::newRow("blank route") << QStringLiteral("520,A社,駅前, :") << true << true
                                 << QStringLiteral("駅前(A社)") << station << QString();
    QTest::newRow("route only") << QStringLiteral("520,A社,駅前,X系統") << false << true
                                << QStringLiteral("駅前(X系統)") << station << x;
    QTest::newRow("stop only") << QStringLiteral("520,A社,駅前,X系統") << false << false << station
                               << station << x;
    QTest::newRow("route missing") << QStringLiteral("520,A社,駅前") << true << true
                                   << QStringLiteral("駅前(A社)") << station << QString();
    QTest::newRow("second code char ignored")
        << QStringLiteral("529,A社,駅前,X系統") << true << false << QStringLiteral("駅前(A社)")
        << station << x;
}

void TestNameProtocol::busRecord()
{
    QFETCH(QString, answer);
    QFETCH(bool, company);
    QFETCH(bool, route);
    QFETCH(QString, name);
    QFETCH(QString, stop);
    QFETCH(QString, line);
    DisplayFlags flags;
    flags.busCompanyShown = company;
    flags.busRouteShown = route;
    NameRefreshTable table;
    NameRefreshRow& before = table.rowFor(QStringLiteral("5"));
    before.exitName = QStringLiteral("old");
    before.exitAn = QStringLiteral("old");
    QCOMPARE(readNameAnswer(200, sjis(answer), flags, table), QString());
    const NameRefreshRow& row = table.rowFor(QStringLiteral("5"));
    QCOMPARE(row.entryName, name);
    QCOMPARE(row.an, QStringLiteral("A社"));
    QCOMPARE(row.ln, stop);
    QCOMPARE(row.sn, line);
    QVERIFY(row.exitName.isEmpty());
    QVERIFY(row.exitAn.isEmpty());
}

void TestNameProtocol::shopRecord_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("bits"); // show, company, store, register
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cashRegister");
    QTest::addColumn<QString>("fourth");
    QTest::newRow("hidden") << QStringLiteral("4411,K社,売店, , :") << 0b0111 << QStringLiteral(" ")
                            << QString() << QString();
    QTest::newRow("blank register composed as received")
        << QStringLiteral("4411,K社,売店, ,F4:") << 0b1111 << QStringLiteral("売店  (K社)")
        << QString() << QStringLiteral("F4");
    QTest::newRow("all") << QStringLiteral("4411,K社,売店,R1,F4") << 0b1111
                         << QStringLiteral("売店 R1(K社)") << QStringLiteral("R1")
                         << QStringLiteral("F4");
    QTest::newRow("register and fourth missing")
        << QStringLiteral("4411,K社,売店") << 0b1110 << QStringLiteral("売店(K社)") << QString()
        << QString();
    QTest::newRow("nothing shown")
        << QStringLiteral("4411,K社,売店,R1,F4") << 0b1000 << QStringLiteral(" ")
        << QStringLiteral("R1") << QStringLiteral("F4");
}

void TestNameProtocol::shopRecord()
{
    QFETCH(QString, answer);
    QFETCH(int, bits);
    QFETCH(QString, name);
    QFETCH(QString, cashRegister);
    QFETCH(QString, fourth);
    DisplayFlags flags;
    flags.shopInfoShown = bits & 8;
    flags.shopCompanyShown = bits & 4;
    flags.shopNameShown = bits & 2;
    flags.shopRegisterShown = bits & 1;
    NameRefreshTable table;
    table.rowFor(QStringLiteral("44")).exitAn = QStringLiteral("kept");
    table.rowFor(QStringLiteral("44")).exitName = QStringLiteral("dropped");
    QCOMPARE(readNameAnswer(200, sjis(answer), flags, table), QString());
    const NameRefreshRow& row = table.rowFor(QStringLiteral("44"));
    QCOMPARE(row.entryName, name);
    QCOMPARE(row.an, QStringLiteral("K社"));
    QCOMPARE(row.ln, QStringLiteral("売店"));
    QCOMPARE(row.sn, cashRegister);
    QCOMPARE(row.ap, fourth);
    QVERIFY(row.exitName.isEmpty());
    QCOMPARE(row.exitAn, QStringLiteral("kept"));
}

void TestNameProtocol::missingMandatoryFieldStillCreatesRow_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("rail station") << QStringLiteral("12302,JR,山手");
    QTest::newRow("rail exit station") << QStringLiteral("12304,JR,山手:");
    QTest::newRow("shop store") << QStringLiteral("12311,K社");
    QTest::newRow("bus company") << QStringLiteral("12320:");
    QTest::newRow("rail nothing") << QStringLiteral("12302,,,");
}

void TestNameProtocol::missingMandatoryFieldStillCreatesRow()
{
    QFETCH(QString, answer);
    // The record after it still counts.
    const NameRefreshTable table = parsed(answer + QStringLiteral(":45602,JR,山手,新宿:"));
    QCOMPARE(table.size(), std::size_t(2));
    const NameRefreshRow* row = table.find(QStringLiteral("123"));
    QVERIFY(row != nullptr);
    QCOMPARE(*row, NameRefreshRow());
    QCOMPARE(table.find(QStringLiteral("456"))->sn, QStringLiteral("新宿"));
}

void TestNameProtocol::emptyRecordsSkipped()
{
    const NameRefreshTable table =
        parsed(QStringLiteral("::12302,JR,山手,新宿:::,,,:,,12304,,JR,,山手,渋谷,:"),
               railFlags(false, false));
    QCOMPARE(table.size(), std::size_t(1));
    const NameRefreshRow* row = table.find(QStringLiteral("123"));
    QVERIFY(row != nullptr);
    QCOMPARE(row->entryName, QStringLiteral("新宿"));
    QCOMPARE(row->exitName, QStringLiteral("渋谷"));
}

void TestNameProtocol::laterRecordOverwritesItsFields()
{
    const NameRefreshTable table =
        parsed(QStringLiteral("12302,JR,山手,新宿:12302,JR,中央,四ツ谷:12304,JR,山手,渋谷"),
               railFlags(false, false));
    const NameRefreshRow* row = table.find(QStringLiteral("123"));
    QVERIFY(row != nullptr);
    QCOMPARE(row->entryName, QStringLiteral("四ツ谷"));
    QCOMPARE(row->ln, QStringLiteral("中央"));
    QCOMPARE(row->exitName, QStringLiteral("渋谷"));
}

void TestNameProtocol::otherKindOnlyCreatesRow()
{
    const NameRefreshTable table = parsed(QStringLiteral("12392,JR,山手,新宿:12303,JR,山手,新宿"));
    QCOMPARE(table.size(), std::size_t(1));
    QCOMPARE(*table.find(QStringLiteral("123")), NameRefreshRow());
}

void TestNameProtocol::shortFirstFieldIgnored()
{
    const NameRefreshTable table = parsed(QStringLiteral("02,JR,山手,新宿:2,JR:x"));
    QVERIFY(table.empty());
}

void TestNameProtocol::longRecordRead()
{
    const QString station = QString(3000, u'駅');
    const QByteArray answer =
        sjis(QStringLiteral("12302,JR,山手,") + station + QStringLiteral(":45602,JR,山手,新宿"));
    QVERIFY(answer.size() > 6000);
    NameRefreshTable table;
    QCOMPARE(readNameAnswer(200, answer, railFlags(false, false), table), QString());
    // Read whole, kept at the width of the name tables' text columns.
    QCOMPARE(table.rowFor(QStringLiteral("123")).entryName, station.left(kMaxNamePartCharacters));
    QCOMPARE(table.rowFor(QStringLiteral("456")).entryName, QStringLiteral("新宿"));
}

void TestNameProtocol::noData_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("plain") << QByteArray("No data");
    QTest::newRow("upper case") << QByteArray("NO DATA");
    QTest::newRow("followed by records") << QByteArray("no dATa12302,JR,Y,S:");
    QTest::newRow("over lines") << QByteArray("No d\nata\n12302,JR,Y,S:");
}

void TestNameProtocol::noData()
{
    QFETCH(QByteArray, answer);
    NameRefreshTable table;
    QCOMPARE(readNameAnswer(200, answer, {}, table), QString());
    QVERIFY(table.empty());
    QVERIFY(isNoDataAnswer(joinAnswerLines(answer)));
    QVERIFY(!isNoDataAnswer("No dat"));
    QVERIFY(!isNoDataAnswer(" No data"));
}

void TestNameProtocol::errorStatus_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");
    QTest::newRow("404") << 404 << QStringLiteral("Error 404");
    QTest::newRow("500") << 500 << QStringLiteral("Error 500");
    QTest::newRow("302") << 302 << QStringLiteral("Error 302");
}

void TestNameProtocol::errorStatus()
{
    QFETCH(int, status);
    QFETCH(QString, expected);
    NameRefreshTable table;
    table.rowFor(QStringLiteral("1")).entryName = QStringLiteral("kept");
    const NameRefreshTable before = table;
    QCOMPARE(readNameAnswer(status, sjis(QStringLiteral("12302,JR,山手,新宿:")), {}, table),
             expected);
    QVERIFY(table == before);
}

void TestNameProtocol::linesJoinedCarriageReturnKept()
{
    QCOMPARE(joinAnswerLines("123\n02,JR\r\n,Y,S:\n"), QByteArray("12302,JR\r,Y,S:"));
    const NameRefreshTable table =
        parsed(QStringLiteral("123\n02,JR,山\n手,新宿\r\n:"), railFlags(true, true));
    // The joined text keeps the carriage return; the name part it ends up in does not.
    QCOMPARE(table.find(QStringLiteral("123"))->entryName, QStringLiteral("新宿(JR：山手線)"));
}

void TestNameProtocol::garbageNeverFails()
{
    QByteArray bytes;
    for (int i = 0; i < 4096; ++i)
        bytes.append(char((i * 37 + i / 7) & 0xFF));
    NameRefreshTable table;
    QCOMPARE(readNameAnswer(200, bytes, {}, table), QString());
    // Only keys that came with a code: every row key is shorter than its record.
    for (const auto& [key, row] : table)
        QVERIFY(!key.contains(u':') && !key.contains(u','));
    // Undecodable bytes become replacement characters, not lost separators.
    NameRefreshTable second;
    readNameAnswer(200, QByteArray("\x81:12302,\x82,L,S"), railFlags(false, false), second);
    QCOMPARE(second.rowFor(QStringLiteral("123")).entryName, QStringLiteral("S"));
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
    const QString text = readNameExchangeResult(result, railFlags(false, false), table);
    QVERIFY2(text.contains(QStringLiteral("cut off")), qPrintable(text));
    QCOMPARE(table.rowFor(QStringLiteral("123")).entryName, QStringLiteral("新宿"));
    QVERIFY(table.rowFor(QStringLiteral("123")).exitName.isEmpty());

    result.body = "12302,JR,Y,S";
    NameRefreshTable none;
    QVERIFY(!readNameExchangeResult(result, {}, none).isEmpty());
    QVERIFY(none.empty());
}

void TestNameProtocol::serverUrl_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("stored"); // "-" for none
    QTest::addColumn<QString>("expected");
    const QString def = QStringLiteral("http://localhost/trfc/");
    QTest::newRow("default") << QString() << QStringLiteral("-") << def;
    QTest::newRow("settings") << QString() << QStringLiteral("http://names.example:8780/")
                              << QStringLiteral("http://names.example:8780/");
    QTest::newRow("command line wins")
        << QStringLiteral("http://127.0.0.1:9000") << QStringLiteral("http://names.example/")
        << QStringLiteral("http://127.0.0.1:9000");
    QTest::newRow("unusable command line")
        << QStringLiteral("ftp://x/") << QStringLiteral("https://n.example/")
        << QStringLiteral("https://n.example/");
    QTest::newRow("unusable settings")
        << QStringLiteral("not a url") << QStringLiteral("::") << def;
}

void TestNameProtocol::serverUrl()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QSettings ini(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    if (stored != QStringLiteral("-"))
        ini.setValue(QStringLiteral("Trfc/nameServer"), stored);
    TrfcSettings settings(ini);
    QCOMPARE(nameServerUrl(commandLine, settings), QUrl(expected));
}

void TestNameProtocol::requestUrlHasFixedPath()
{
    QCOMPARE(nameRequestUrl(QUrl(QStringLiteral("http://127.0.0.1:8780/other?x=1#f"))),
             QUrl(QStringLiteral("http://127.0.0.1:8780/trfc/")));
    const QUrl standard = nameRequestUrl(defaultNameServerUrl());
    QCOMPARE(standard.toString(), QStringLiteral("http://localhost/trfc/"));
    QCOMPARE(standard.port(80), 80);
}

QTEST_GUILESS_MAIN(TestNameProtocol)
#include "test_nameprotocol.moc"
