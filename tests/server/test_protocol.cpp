// The look-up protocol without a socket: request bodies and items, and the answer bytes.
#include "httpservice.h"
#include "namedata/answer.h"
#include "namedata/cp932.h"
#include "namedata/request.h"
#include "test_nameserver.h"

#include <QTest>

using namespace ridelog;
using namespace ridelog::nameserver;

Q_DECLARE_METATYPE(ridelog::nameserver::RequestItem)

namespace {

RequestItem item(std::uint32_t serial, ItemCode code, std::uint16_t first, std::uint16_t second,
                 std::uint16_t third)
{
    return RequestItem{serial, code, first, second, third};
}

NameDirectory sampleDirectory()
{
    NameDirectory names;
    names.addRail({0, 0x25, 0x0A},
                  {QStringLiteral("JR東日本"), QStringLiteral("山手"), QStringLiteral("新宿")});
    names.addRail({0, 0x25, 0x07},
                  {QStringLiteral("JR東日本"), QStringLiteral("山手"), QStringLiteral("渋谷")});
    names.addRail({3, 0x10, 0x20},
                  {QStringLiteral("会社,甲"), QStringLiteral("線:乙"), QStringLiteral("駅")});
    names.addRail({0, 0x02, 0x01}, {QString(), QStringLiteral("  "), QStringLiteral("駅だけ")});
    names.addBus({0x14, 0xFB},
                 {QStringLiteral("広島電鉄"), QStringLiteral("大学病院南門"), QString()});
    names.addBus({0, 0}, {QStringLiteral("A社"), QString(), QStringLiteral("X系統")});
    names.addShop({1, 0xC7, 0x0D65}, {QStringLiteral("新星堂"), QStringLiteral("柏店"), QString(),
                                      QStringLiteral("1F")});
    names.addShop({0, 0xC8, 1}, {QStringLiteral("Co,Ltd."), QStringLiteral("1F\r\nCD"),
                                 QStringLiteral("a\tb"), QStringLiteral("   ")});
    return names;
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void items_data();
    void items();
    void wellFormedBodies_data();
    void wellFormedBodies();
    void badBodies_data();
    void badBodies();
    void answers_data();
    void answers();
    void longNamesKeepRecordsShort();
    void listenAddresses_data();
    void listenAddresses();
};

void TestProtocol::items_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<RequestItem>("expected");
    const RequestItem none;
    QTest::newRow("entry") << QStringLiteral("12302,0,37,10") << true
                           << item(123, ItemCode::RailEntry, 0, 37, 10);
    QTest::newRow("exit") << QStringLiteral("12304,0,37,25") << true
                          << item(123, ItemCode::RailExit, 0, 37, 25);
    QTest::newRow("shop") << QStringLiteral("55511,199,3429,0") << true
                          << item(555, ItemCode::Shop, 199, 3429, 0);
    QTest::newRow("bus") << QStringLiteral("7720,20,251,0") << true
                         << item(77, ItemCode::Bus, 20, 251, 0);
    QTest::newRow("bus 16-bit") << QStringLiteral("7720,65535,65535,0") << true
                                << item(77, ItemCode::Bus, 65535, 65535, 0);
    QTest::newRow("bus empty key")
        << QStringLiteral("9920,") << true << item(99, ItemCode::Bus, 0, 0, 0);
    QTest::newRow("bus no key") << QStringLiteral("9920") << true
                                << item(99, ItemCode::Bus, 0, 0, 0);
    QTest::newRow("largest serial") << QStringLiteral("1677721502,1,2,3") << true
                                    << item(0xFFFFFF, ItemCode::RailEntry, 1, 2, 3);
    QTest::newRow("serial 0") << QStringLiteral("002,1,2,3") << true
                              << item(0, ItemCode::RailEntry, 1, 2, 3);
    QTest::newRow("serial too large") << QStringLiteral("1677721602,1,2,3") << false << none;
    QTest::newRow("unknown code") << QStringLiteral("12303,0,37,10") << false << none;
    QTest::newRow("no serial") << QStringLiteral("02,0,37,10") << false << none;
    QTest::newRow("part missing") << QStringLiteral("12302,0,37") << false << none;
    QTest::newRow("part too many") << QStringLiteral("12302,0,37,10,1") << false << none;
    QTest::newRow("station above 255") << QStringLiteral("12302,0,37,256") << false << none;
    QTest::newRow("shop type above 255") << QStringLiteral("12311,256,1,0") << false << none;
    QTest::newRow("bus above 65535") << QStringLiteral("12320,65536,1,0") << false << none;
    QTest::newRow("negative") << QStringLiteral("12302,-1,37,10") << false << none;
    QTest::newRow("blank in part") << QStringLiteral("12302, 0,37,10") << false << none;
    QTest::newRow("empty part") << QStringLiteral("12302,0,,10") << false << none;
    QTest::newRow("letters") << QStringLiteral("abc02,0,37,10") << false << none;
    QTest::newRow("rail without key") << QStringLiteral("12302") << false << none;
    QTest::newRow("bus half key") << QStringLiteral("12320,1") << false << none;
    QTest::newRow("huge number") << QStringLiteral("12302,0,99999999999999999999,1") << false
                                 << none;
}

void TestProtocol::items()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(RequestItem, expected);
    const std::optional<RequestItem> parsed = parseRequestItem(text.toStdString());
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QVERIFY(*parsed == expected);
}

void TestProtocol::wellFormedBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QList<RequestItem>>("expected");
    QTest::addColumn<int>("skipped");
    QTest::newRow("two stations") << QByteArray(
                                         "a=12302%2c0%2c37%2c10%3a12304%2c0%2c37%2c25%3a&p=ap&")
                                  << QList{item(123, ItemCode::RailEntry, 0, 37, 10),
                                           item(123, ItemCode::RailExit, 0, 37, 25)}
                                  << 0;
    QTest::newRow("escapes in capitals") << QByteArray("a=12302%2C0%2C37%2C10%3A&p=ap&")
                                         << QList{item(123, ItemCode::RailEntry, 0, 37, 10)} << 0;
    QTest::newRow("fields in either order")
        << QByteArray("p=ap&a=9920%2c%3a") << QList{item(99, ItemCode::Bus, 0, 0, 0)} << 0;
    // Empty pieces between colons are not items.
    QTest::newRow("malformed items skipped")
        << QByteArray("a=12302%2c0%3a%3a%3axyz%3a12304%2c0%2c37%2c25%3a55511%2c199%2c3429%2c0%3a"
                      "&p=ap&")
        << QList{item(123, ItemCode::RailExit, 0, 37, 25), item(555, ItemCode::Shop, 199, 3429, 0)}
        << 2;
    QTest::newRow("no items") << QByteArray("a=&p=ap&") << QList<RequestItem>() << 0;
}

void TestProtocol::wellFormedBodies()
{
    QFETCH(QByteArray, body);
    QFETCH(QList<RequestItem>, expected);
    QFETCH(int, skipped);
    const ParsedRequest request = parseRequestBody(body.toStdString());
    QVERIFY(request.wellFormed);
    QVERIFY(request.items == std::vector<RequestItem>(expected.begin(), expected.end()));
    QCOMPARE(request.skippedItems, skipped);
}

void TestProtocol::badBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("no a field") << QByteArray("p=ap&");
    QTest::newRow("a without =") << QByteArray("a&p=ap");
    QTest::newRow("escape cut short") << QByteArray("a=12302%2");
    QTest::newRow("escape at end") << QByteArray("a=%");
    QTest::newRow("escape not hex") << QByteArray("a=12302%zz0");
    QTest::newRow("too large") << QByteArray(int(kMaxRequestBodyBytes) + 1, 'a');
}

void TestProtocol::badBodies()
{
    QFETCH(QByteArray, body);
    const ParsedRequest request = parseRequestBody(body.toStdString());
    QVERIFY(!request.wellFormed);
    QVERIFY(!request.error.empty());
    QVERIFY(request.items.empty());
}

void TestProtocol::answers_data()
{
    QTest::addColumn<QList<RequestItem>>("asked");
    QTest::addColumn<QString>("answer");
    QTest::newRow("entry") << QList{item(123, ItemCode::RailEntry, 0, 37, 10)}
                           << QStringLiteral("12302,JR東日本,山手,新宿:");
    QTest::newRow("entry and exit")
        << QList{item(123, ItemCode::RailEntry, 0, 37, 10), item(123, ItemCode::RailExit, 0, 37, 7)}
        << QStringLiteral("12302,JR東日本,山手,新宿:12304,JR東日本,山手,渋谷:");
    QTest::newRow("shop and buses")
        << QList{item(555, ItemCode::Shop, 0xC7, 0x0D65, 0), item(77, ItemCode::Bus, 0x14, 0xFB, 0),
                 item(99, ItemCode::Bus, 0, 0, 0)}
        << QStringLiteral("55511,新星堂,柏店, ,1F:7720,広島電鉄,大学病院南門, :9920,A社, ,X系統:");
    QTest::newRow("separators in names become full width")
        << QList{item(5, ItemCode::RailEntry, 3, 0x10, 0x20)}
        << QStringLiteral("502,会社，甲,線：乙,駅:");
    QTest::newRow("control characters become blanks")
        << QList{item(8, ItemCode::Shop, 0xC8, 1, 0)}
        << QStringLiteral("811,Co，Ltd.,1F  CD,a b, :");
    QTest::newRow("empty parts sent as blank")
        << QList{item(6, ItemCode::RailEntry, 0, 2, 1)} << QStringLiteral("602, , ,駅だけ:");
    QTest::newRow("unknown keys left out")
        << QList{item(1, ItemCode::RailEntry, 0, 37, 25), item(2, ItemCode::RailEntry, 0, 37, 10),
                 item(3, ItemCode::Shop, 0xC8, 0x0D65, 0), item(4, ItemCode::Bus, 0xFB, 0x14, 0)}
        << QStringLiteral("202,JR東日本,山手,新宿:");
    QTest::newRow("nothing found")
        << QList{item(1, ItemCode::RailEntry, 0, 37, 25)} << QStringLiteral("No data");
    QTest::newRow("nothing asked") << QList<RequestItem>() << QStringLiteral("No data");
}

// The answer in code page 932: ASCII stays as it is.
void TestProtocol::answers()
{
    QFETCH(QList<RequestItem>, asked);
    QFETCH(QString, answer);
    static const NameDirectory directory = sampleDirectory();
    QCOMPARE(QByteArray::fromStdString(
                 buildAnswer(std::vector<RequestItem>(asked.begin(), asked.end()), directory)),
             cp932::encode(answer));
}

void TestProtocol::longNamesKeepRecordsShort()
{
    NameDirectory names;
    const QString longName(5000, QChar(u'駅'));
    names.addShop({0, 1, 1}, {longName, longName, longName, longName});
    const std::string answer = buildAnswer({item(16777215, ItemCode::Shop, 1, 1, 0)}, names);
    QVERIFY(answer.size() < 999);
    QVERIFY(answer.size() > 900);
    QCOMPARE(answer.back(), ':');
}

void TestProtocol::listenAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("host and port")
        << QStringLiteral("127.0.0.1:8780") << true << QStringLiteral("127.0.0.1") << 8780;
    QTest::newRow("any port") << QStringLiteral("127.0.0.1:0") << true
                              << QStringLiteral("127.0.0.1") << 0;
    QTest::newRow("port only") << QStringLiteral("9000") << true << QStringLiteral("127.0.0.1")
                               << 9000;
    QTest::newRow("colon and port")
        << QStringLiteral(":9000") << true << QStringLiteral("127.0.0.1") << 9000;
    QTest::newRow("all interfaces")
        << QStringLiteral("0.0.0.0:80") << true << QStringLiteral("0.0.0.0") << 80;
    QTest::newRow("IPv6") << QStringLiteral("[::1]:8780") << true << QStringLiteral("::1") << 8780;
    QTest::newRow("port too large") << QStringLiteral("127.0.0.1:65536") << false << QString() << 0;
    QTest::newRow("negative port") << QStringLiteral("127.0.0.1:-1") << false << QString() << 0;
    QTest::newRow("not a number") << QStringLiteral("localhost:http") << false << QString() << 0;
    QTest::newRow("empty") << QString() << false << QString() << 0;
}

void TestProtocol::listenAddresses()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);
    std::string parsedHost;
    int parsedPort = -1;
    QCOMPARE(parseListenAddress(text, parsedHost, parsedPort), valid);
    if (valid) {
        QCOMPARE(QString::fromStdString(parsedHost), host);
        QCOMPARE(parsedPort, port);
    }
}

static RegisterTest<TestProtocol> registerProtocol;

#include "test_protocol.moc"
