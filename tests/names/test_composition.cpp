#include "namedata/cp932.h"
#include "names/composition.h"

#include <QTest>

using namespace ridelog;

class TestComposition : public QObject
{
    Q_OBJECT

private slots:
    void composedNames_data();
    void composedNames();
    void cp932Texts_data();
    void cp932Texts();
};

namespace {

enum class Kind
{
    Rail,
    Bus,
    BusAscii,
    Shop
};

// The parts shown, one bit each in the order of the kind's flags: rail company, line; bus
// company, route; shop information, company, shop name, register.
DisplayFlags shownFlags(Kind kind, int bits)
{
    DisplayFlags flags;
    if (kind == Kind::Rail) {
        flags.railCompanyShown = bits & 2;
        flags.railLineShown = bits & 1;
    } else if (kind == Kind::Shop) {
        flags.shopInfoShown = bits & 8;
        flags.shopCompanyShown = bits & 4;
        flags.shopNameShown = bits & 2;
        flags.shopRegisterShown = bits & 1;
    } else {
        flags.busCompanyShown = bits & 2;
        flags.busRouteShown = bits & 1;
    }
    return flags;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

void TestComposition::composedNames_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("expected");
    const QStringList rail{QStringLiteral("JR"), QStringLiteral("山手"), QStringLiteral("新宿")};
    QTest::newRow("rail both") << Kind::Rail << rail << 0b11 << QStringLiteral("新宿(JR：山手線)");
    QTest::newRow("rail company") << Kind::Rail << rail << 0b10 << QStringLiteral("新宿(JR)");
    QTest::newRow("rail line") << Kind::Rail << rail << 0b01 << QStringLiteral("新宿(山手線)");
    QTest::newRow("rail neither") << Kind::Rail << rail << 0b00 << QStringLiteral("新宿");
    QTest::newRow("rail empty company kept")
        << Kind::Rail << QStringList{QString(), rail[1], rail[2]} << 0b10
        << QStringLiteral("新宿()");

    const QStringList bus{QStringLiteral("A社"), QStringLiteral("駅前"), QStringLiteral("X系統")};
    const QStringList noRoute{bus[0], bus[1], QString()};
    QTest::newRow("bus both") << Kind::Bus << bus << 0b11 << QStringLiteral("駅前(A社：X系統)");
    QTest::newRow("bus both ascii")
        << Kind::BusAscii << bus << 0b11 << QStringLiteral("駅前(A社:X系統)");
    QTest::newRow("bus both no route")
        << Kind::Bus << noRoute << 0b11 << QStringLiteral("駅前(A社)");
    QTest::newRow("bus company") << Kind::Bus << bus << 0b10 << QStringLiteral("駅前(A社)");
    QTest::newRow("bus route") << Kind::Bus << bus << 0b01 << QStringLiteral("駅前(X系統)");
    QTest::newRow("bus route empty") << Kind::Bus << noRoute << 0b01 << QStringLiteral("駅前");
    QTest::newRow("bus neither") << Kind::Bus << bus << 0b00 << QStringLiteral("駅前");

    const QStringList shop{QStringLiteral("K社"), QStringLiteral("売店"), QStringLiteral("R1")};
    QTest::newRow("shop off") << Kind::Shop << shop << 0b0111 << QStringLiteral(" ");
    QTest::newRow("shop all") << Kind::Shop << shop << 0b1111 << QStringLiteral("売店 R1(K社)");
    QTest::newRow("shop company shop")
        << Kind::Shop << shop << 0b1110 << QStringLiteral("売店(K社)");
    QTest::newRow("shop company register")
        << Kind::Shop << shop << 0b1101 << QStringLiteral("R1(K社)");
    QTest::newRow("shop company") << Kind::Shop << shop << 0b1100 << QStringLiteral("(K社)");
    QTest::newRow("shop shop register")
        << Kind::Shop << shop << 0b1011 << QStringLiteral("売店 R1");
    QTest::newRow("shop shop") << Kind::Shop << shop << 0b1010 << QStringLiteral("売店");
    QTest::newRow("shop register") << Kind::Shop << shop << 0b1001 << QStringLiteral("R1");
    QTest::newRow("shop nothing") << Kind::Shop << shop << 0b1000 << QStringLiteral(" ");
    // An empty shop name alone still shows one blank.
    QTest::newRow("shop empty name alone")
        << Kind::Shop << QStringList{QString(), QString(), QString()} << 0b1010
        << QStringLiteral(" ");
}

void TestComposition::composedNames()
{
    QFETCH(Kind, kind);
    QFETCH(QStringList, parts);
    QFETCH(int, shown);
    const DisplayFlags flags = shownFlags(kind, shown);
    QString name;
    if (kind == Kind::Rail)
        name = composeRailName(parts[0], parts[1], parts[2], flags);
    else if (kind == Kind::Shop)
        name = composeShopName(parts[0], parts[1], parts[2], flags);
    else
        name = composeBusName(parts[0], parts[1], parts[2], flags,
                              kind == Kind::Bus ? BusColon::FullWidth : BusColon::Ascii);
    QTEST(name, "expected");
}

void TestComposition::cp932Texts_data()
{
    QTest::addColumn<QString>("text"); // null: the bytes are only decoded
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("decoded");
    const QString names = QStringLiteral("新宿(JR：山手線),共通 ～");
    QTest::newRow("names and full-width signs")
        << names << QByteArray("\x90V\x8Fh(JR\x81\x46\x8ER\x8E\xE8\x90\xFC),\x8B\xA4\x92\xCA \x81`")
        << names;
    QTest::newRow("ASCII") << QStringLiteral("A") << QByteArray("A") << QStringLiteral("A");
    QTest::newRow("unencodable emoji")
        << QStringLiteral("駅😀前") << QByteArray("\x89w?\x91O") << QStringLiteral("駅?前");
    QTest::newRow("unencodable accent")
        << QStringLiteral("é") << QByteArray("?") << QStringLiteral("?");
    QTest::newRow("cut-off lead byte")
        << QString() << QByteArray("A\x81", 2) << QStringLiteral("A\uFFFD");
}

void TestComposition::cp932Texts()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    if (!text.isNull())
        QCOMPARE(cp932::encode(text), bytes);
    QTEST(cp932::decode(bytes), "decoded");
}

QTEST_GUILESS_MAIN(TestComposition)
#include "test_composition.moc"
