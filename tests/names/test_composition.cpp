#include "namedata/cp932.h"
#include "names/composition.h"

#include <QTest>

using namespace ridelog;

class TestComposition : public QObject
{
    Q_OBJECT

private slots:
    void railName_data();
    void railName();
    void busName_data();
    void busName();
    void shopName_data();
    void shopName();
    void cp932RoundTrip();
    void cp932Unencodable();
    void cp932BadBytes();
};

namespace {
const QString an = QStringLiteral("JR");
const QString ln = QStringLiteral("山手");
const QString sn = QStringLiteral("新宿");
} // namespace

void TestComposition::railName_data()
{
    QTest::addColumn<bool>("company");
    QTest::addColumn<bool>("line");
    QTest::addColumn<QString>("company_");
    QTest::addColumn<QString>("expected");
    QTest::newRow("both") << true << true << an << QStringLiteral("新宿(JR：山手線)");
    QTest::newRow("company") << true << false << an << QStringLiteral("新宿(JR)");
    QTest::newRow("line") << false << true << an << QStringLiteral("新宿(山手線)");
    QTest::newRow("neither") << false << false << an << QStringLiteral("新宿");
    QTest::newRow("empty company kept") << true << false << QString() << QStringLiteral("新宿()");
}

void TestComposition::railName()
{
    QFETCH(bool, company);
    QFETCH(bool, line);
    QFETCH(QString, company_);
    QFETCH(QString, expected);
    DisplayFlags flags;
    flags.railCompanyShown = company;
    flags.railLineShown = line;
    QCOMPARE(composeRailName(company_, ln, sn, flags), expected);
}

void TestComposition::busName_data()
{
    QTest::addColumn<bool>("company");
    QTest::addColumn<bool>("route");
    QTest::addColumn<QString>("routeName");
    QTest::addColumn<int>("colon");
    QTest::addColumn<QString>("expected");
    const int full = int(BusColon::FullWidth), ascii = int(BusColon::Ascii);
    const QString route = QStringLiteral("X系統");
    QTest::newRow("both") << true << true << route << full << QStringLiteral("駅前(A社：X系統)");
    QTest::newRow("both ascii") << true << true << route << ascii
                                << QStringLiteral("駅前(A社:X系統)");
    QTest::newRow("both no route")
        << true << true << QString() << full << QStringLiteral("駅前(A社)");
    QTest::newRow("company") << true << false << route << full << QStringLiteral("駅前(A社)");
    QTest::newRow("route") << false << true << route << full << QStringLiteral("駅前(X系統)");
    QTest::newRow("route empty") << false << true << QString() << full << QStringLiteral("駅前");
    QTest::newRow("neither") << false << false << route << full << QStringLiteral("駅前");
}

void TestComposition::busName()
{
    QFETCH(bool, company);
    QFETCH(bool, route);
    QFETCH(QString, routeName);
    QFETCH(int, colon);
    QFETCH(QString, expected);
    DisplayFlags flags;
    flags.busCompanyShown = company;
    flags.busRouteShown = route;
    QCOMPARE(composeBusName(QStringLiteral("A社"), QStringLiteral("駅前"), routeName, flags,
                            BusColon(colon)),
             expected);
}

void TestComposition::shopName_data()
{
    QTest::addColumn<int>("bits"); // show, company, shop, register
    QTest::addColumn<QString>("expected");
    QTest::newRow("off") << 0b0111 << QStringLiteral(" ");
    QTest::newRow("all") << 0b1111 << QStringLiteral("売店 R1(K社)");
    QTest::newRow("company shop") << 0b1110 << QStringLiteral("売店(K社)");
    QTest::newRow("company register") << 0b1101 << QStringLiteral("R1(K社)");
    QTest::newRow("company") << 0b1100 << QStringLiteral("(K社)");
    QTest::newRow("shop register") << 0b1011 << QStringLiteral("売店 R1");
    QTest::newRow("shop") << 0b1010 << QStringLiteral("売店");
    QTest::newRow("register") << 0b1001 << QStringLiteral("R1");
    QTest::newRow("nothing") << 0b1000 << QStringLiteral(" ");
}

void TestComposition::shopName()
{
    QFETCH(int, bits);
    QFETCH(QString, expected);
    DisplayFlags flags;
    flags.shopInfoShown = bits & 8;
    flags.shopCompanyShown = bits & 4;
    flags.shopNameShown = bits & 2;
    flags.shopRegisterShown = bits & 1;
    QCOMPARE(
        composeShopName(QStringLiteral("K社"), QStringLiteral("売店"), QStringLiteral("R1"), flags),
        expected);
    // An empty shop name alone still shows one blank.
    flags.shopCompanyShown = false;
    flags.shopRegisterShown = false;
    QCOMPARE(composeShopName(QString(), QString(), QString(), flags), QStringLiteral(" "));
}

void TestComposition::cp932RoundTrip()
{
    const QString text = QStringLiteral("新宿(JR：山手線),共通 ～");
    const QByteArray bytes = cp932::encode(text);
    QCOMPARE(bytes.left(4), QByteArray("\x90\x56\x8F\x68"));
    QCOMPARE(cp932::decode(bytes), text);
    QCOMPARE(cp932::encode(QStringLiteral("A")), QByteArray("A"));
}

void TestComposition::cp932Unencodable()
{
    QCOMPARE(cp932::encode(QStringLiteral("駅😀前")), cp932::encode(QStringLiteral("駅?前")));
    QCOMPARE(cp932::encode(QStringLiteral("é")), QByteArray("?"));
}

void TestComposition::cp932BadBytes()
{
    const QString decoded = cp932::decode(QByteArray("A\x81", 2));
    QCOMPARE(decoded.left(1), QStringLiteral("A"));
    QVERIFY(decoded.size() == 2);
}

QTEST_GUILESS_MAIN(TestComposition)
#include "test_composition.moc"
