// The server over loopback: answers in code page 932, refused requests, concurrent clients,
// broken connections, and the command line of ridelog-nameserver.
#include "httpservice.h"
#include "namedata/cp932.h"
#include "namedata/namedatabase.h"
#include "namedata/request.h"
#include "test_nameserver.h"
#include "testpaths.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <arpa/inet.h>
#include <atomic>
#include <httplib.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ridelog;
using namespace ridelog::nameserver;

namespace {

const std::string kShinjukuBody = "a=12302%2c0%2c37%2c10%3a&p=ap&";
const char* kFormType = "application/x-www-form-urlencoded";

NameDirectory smallDirectory()
{
    NameDirectory names;
    names.addRail({0, 0x25, 0x0A}, {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
                                    QStringLiteral("新宿")});
    names.addRail({0, 0x25, 0x07}, {QStringLiteral("東日本旅客鉄道"), QStringLiteral("山手"),
                                    QStringLiteral("渋谷")});
    names.addBus({0x14, 0xFB},
                 {QStringLiteral("広島電鉄"), QStringLiteral("大学病院南門"), QString()});
    return names;
}

QByteArray shinjukuAnswer()
{
    return QByteArray("12302,") + cp932::encode(QStringLiteral("東日本旅客鉄道,山手,新宿:"));
}

// A server on a free loopback port, serving on its own thread for the life of the object.
class RunningService
{
public:
    explicit RunningService(int threads = 8,
                            std::chrono::milliseconds deadline = std::chrono::seconds(5))
        : service_(smallDirectory(),
                   ServiceOptions{"127.0.0.1", 0, threads, QStringLiteral("t"), deadline})
    {
        port_ = service_.bind();
        if (port_ > 0)
            thread_ = std::thread([this] { served_ = service_.serve(); });
    }
    ~RunningService() { stop(); }

    void stop()
    {
        service_.stop();
        if (thread_.joinable())
            thread_.join();
    }

    int port() const { return port_; }
    bool served() const { return served_; }
    httplib::Client client() const
    {
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(5);
        client.set_read_timeout(10);
        return client;
    }

private:
    NameService service_;
    int port_ = -1;
    std::thread thread_;
    std::atomic<bool> served_ = false;
};

QByteArray bodyOf(const httplib::Result& result)
{
    return result ? QByteArray::fromStdString(result->body) : QByteArray();
}

QString serverExecutable()
{
    return QStringLiteral(RIDELOG_BINARY_DIR "/server/ridelog-nameserver");
}

} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void answersShinjukuInCodePage932();
    void answersTheRequestOfRidelog();
    void missingItemListIs400();
    void oversizeBodyIs413();
    void bodyOfExactlyTheLimitIsServed();
    void oversizeChunkedBodyIs413();
    void unknownStationIsNoData();
    void statusPageShowsCounts();
    void otherPathsAreNotFound();
    void concurrentClients();
    void garbageBytesDoNotHurt();
    void clientLeavingMidBodyDoesNotHurt();
    void busyPortIsReported();
    void commandLineImportAndServe();
    void importStopsOnMissingTable();
    void serveWithoutDatabaseFails();
    void usageOnBadArguments();
    void slowClientsCannotStarveThePool();
    void importKeepsFilesThatAreNotNamesFiles();
    void helpAndVersion();
};

void TestHttp::answersShinjukuInCodePage932()
{
    RunningService server;
    QVERIFY(server.port() > 0);
    httplib::Client client = server.client();
    const httplib::Result result = client.Post("/trfc/", kShinjukuBody, kFormType);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(QByteArray::fromStdString(result->get_header_value("Content-Type")),
             QByteArray("text/plain; charset=Shift_JIS"));
    QCOMPARE(bodyOf(result), shinjukuAnswer());
    QVERIFY(bodyOf(result).contains("\x90\x56\x8F\x68")); // 新宿
}

void TestHttp::answersTheRequestOfRidelog()
{
    RunningService server;
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/trfc/").arg(server.port())));
    request.setRawHeader("Content-type", kFormType);
    request.setRawHeader("Accept", "text/*");
    request.setRawHeader("User-Agent", "Hotaru RLG1.2 (Station: ) Agent");
    QNetworkReply* reply = network.post(
        request, QByteArray("a=12302%2c0%2c37%2c10%3a12304%2c0%2c37%2c7%3a7720%2c20%2c251%2c0%3a"
                            "12304%2c0%2c37%2c25%3a&p=ap&"));
    QVERIFY(QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000));
    QCOMPARE(reply->error(), QNetworkReply::NoError);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QString answer = cp932::decode(reply->readAll());
    QCOMPARE(answer, QStringLiteral("12302,東日本旅客鉄道,山手,新宿:12304,東日本旅客鉄道,山手,渋谷:"
                                    "7720,広島電鉄,大学病院南門, :"));
    reply->deleteLater();
}

void TestHttp::missingItemListIs400()
{
    RunningService server;
    httplib::Client client = server.client();
    for (const std::string body : {"", "p=ap&", "a=%zz&p=ap&"}) {
        const httplib::Result result = client.Post("/trfc/", body, kFormType);
        QVERIFY(result);
        QCOMPARE(result->status, 400);
    }
}

void TestHttp::oversizeBodyIs413()
{
    RunningService server;
    // A body announced longer than the limit is refused before it is read: only its start is
    // sent, so the answer cannot race a client still writing into a closed connection.
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST /trfc/ HTTP/1.1\r\nHost: x\r\nContent-Type: "
                 "application/x-www-form-urlencoded\r\nContent-Length: " +
                 QByteArray::number(qulonglong(kShinjukuBody.size() + kMaxRequestBodyBytes)) +
                 "\r\n\r\n" + QByteArray::fromStdString(kShinjukuBody));
    QVERIFY(QTest::qWaitFor(
        [&socket] {
            socket.waitForReadyRead(100);
            return socket.bytesAvailable() >= 12;
        },
        10000));
    QVERIFY(socket.readAll().startsWith("HTTP/1.1 413"));
    // The server still answers afterwards.
    httplib::Client next = server.client();
    QCOMPARE(bodyOf(next.Post("/trfc/", kShinjukuBody, kFormType)), shinjukuAnswer());
}

void TestHttp::bodyOfExactlyTheLimitIsServed()
{
    RunningService server;
    httplib::Client client = server.client();
    std::string body = kShinjukuBody + "pad=";
    body.resize(kMaxRequestBodyBytes, 'x');
    const httplib::Result result = client.Post("/trfc/", body, kFormType);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(bodyOf(result), shinjukuAnswer());
}

void TestHttp::oversizeChunkedBodyIs413()
{
    RunningService server;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
    QVERIFY(socket.waitForConnected(5000));
    const QByteArray chunk = "a=" + QByteArray(int(kMaxRequestBodyBytes), '1');
    socket.write("POST /trfc/ HTTP/1.1\r\nHost: x\r\nContent-Type: "
                 "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n" +
                 QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n0\r\n\r\n");
    QVERIFY(QTest::qWaitFor(
        [&socket] {
            socket.waitForReadyRead(100);
            return socket.bytesAvailable() >= 12;
        },
        10000));
    QVERIFY(socket.readAll().startsWith("HTTP/1.1 413"));
}

void TestHttp::unknownStationIsNoData()
{
    RunningService server;
    httplib::Client client = server.client();
    const httplib::Result result =
        client.Post("/trfc/", "a=12302%2c0%2c37%2c25%3agarbage%3a&p=ap&", kFormType);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(bodyOf(result), QByteArray("No data"));
}

void TestHttp::statusPageShowsCounts()
{
    RunningService server;
    httplib::Client client = server.client();
    const httplib::Result result = client.Get("/");
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    const QString page = QString::fromUtf8(bodyOf(result));
    QVERIFY(page.contains(u"<td>Rail stations</td><td>2</td>"));
    QVERIFY(page.contains(u"<td>Bus stops</td><td>1</td>"));
    QVERIFY(page.contains(u"<td>Shops</td><td>0</td>"));
    QVERIFY(page.contains(u"<a href=\""));
}

void TestHttp::otherPathsAreNotFound()
{
    RunningService server;
    httplib::Client client = server.client();
    QCOMPARE(client.Get("/trfc/")->status, 404);
    QCOMPARE(client.Post("/other/", kShinjukuBody, kFormType)->status, 404);
}

void TestHttp::concurrentClients()
{
    RunningService server(4);
    constexpr int kClients = 8;
    constexpr int kRequestsEach = 50;
    std::atomic<int> correct = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&server, &correct] {
            httplib::Client client = server.client();
            for (int i = 0; i < kRequestsEach; ++i)
                if (bodyOf(client.Post("/trfc/", kShinjukuBody, kFormType)) == shinjukuAnswer())
                    ++correct;
        });
    for (std::thread& client : clients)
        client.join();
    QCOMPARE(correct.load(), kClients * kRequestsEach);
}

void TestHttp::garbageBytesDoNotHurt()
{
    RunningService server;
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 131 + 7) & 0xFF));
    for (const QByteArray& bytes :
         {garbage, garbage + "\r\n\r\n",
          QByteArray("POST /trfc/ HTTP/1.1\r\nContent-Length: -5\r\n\r\n"),
          QByteArray("POST /trfc/ HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"),
          QByteArray("GET / HTTP/1.1\r\nHost: ") + QByteArray(100000, 'h') + "\r\n\r\n"}) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
        socket.waitForReadyRead(2000);
        socket.abort();
    }
    httplib::Client client = server.client();
    QCOMPARE(bodyOf(client.Post("/trfc/", kShinjukuBody, kFormType)), shinjukuAnswer());
}

void TestHttp::clientLeavingMidBodyDoesNotHurt()
{
    RunningService server(2);
    for (int i = 0; i < 4; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("POST /trfc/ HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\na=123");
        socket.waitForBytesWritten(5000);
        socket.abort();
    }
    httplib::Client client = server.client();
    QCOMPARE(bodyOf(client.Post("/trfc/", kShinjukuBody, kFormType)), shinjukuAnswer());
}

void TestHttp::busyPortIsReported()
{
    RunningService first;
    NameService second(smallDirectory(),
                       ServiceOptions{"127.0.0.1", first.port(), 2, QStringLiteral("t")});
    QCOMPARE(second.bind(), -1);
}

void TestHttp::commandLineImportAndServe()
{
    QTemporaryDir folder;
    const QString database = folder.filePath(QStringLiteral("names.sqlite"));
    QProcess import;
    import.start(serverExecutable(),
                 {QStringLiteral("import"), QStringLiteral("--db"), database,
                  fixturePath("stations-current.csv"), fixturePath("all-sheets.csv")});
    QVERIFY(import.waitForFinished(30000));
    const QString report = QString::fromLocal8Bit(import.readAllStandardOutput());
    QCOMPARE(import.exitCode(), 0);
    QVERIFY2(report.contains(u"1 duplicate rows"), qPrintable(report));
    QVERIFY(report.contains(u"4 unreadable rows"));
    QVERIFY(report.contains(u"8 stations, 2 bus stops, 3 shops"));

    QProcess serve;
    serve.start(serverExecutable(), {QStringLiteral("serve"), QStringLiteral("--db"), database,
                                     QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY(serve.waitForStarted(10000));
    QVERIFY(QTest::qWaitFor([&serve] { return serve.canReadLine(); }, 10000));
    const QString line = QString::fromLocal8Bit(serve.readLine());
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("http://127\\.0\\.0\\.1:(\\d+)/trfc/")).match(line);
    QVERIFY2(match.hasMatch(), qPrintable(line));
    httplib::Client client("127.0.0.1", match.captured(1).toInt());
    QCOMPARE(bodyOf(client.Post("/trfc/", kShinjukuBody, kFormType)), shinjukuAnswer());

    serve.terminate();
    QVERIFY(serve.waitForFinished(10000));
    QCOMPARE(serve.exitStatus(), QProcess::NormalExit);
    QCOMPARE(serve.exitCode(), 0);
}

void TestHttp::importStopsOnMissingTable()
{
    QTemporaryDir folder;
    const QString database = folder.filePath(QStringLiteral("names.sqlite"));
    QProcess import;
    import.start(serverExecutable(),
                 {QStringLiteral("import"), QStringLiteral("--db"), database,
                  fixturePath("stations-current.csv"), fixturePath("no-such-table.csv")});
    QVERIFY(import.waitForFinished(30000));
    QCOMPARE(import.exitCode(), 1);
    QVERIFY(!QFile::exists(database));
}

void TestHttp::serveWithoutDatabaseFails()
{
    QTemporaryDir folder;
    QProcess serve;
    serve.start(serverExecutable(), {QStringLiteral("serve"), QStringLiteral("--db"),
                                     folder.filePath(QStringLiteral("missing.sqlite")),
                                     QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")});
    QVERIFY(serve.waitForFinished(10000));
    QCOMPARE(serve.exitCode(), 1);
    QVERIFY(serve.readAllStandardError().contains("no such file"));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("missing.sqlite"))));
}

void TestHttp::usageOnBadArguments()
{
    for (const QStringList& arguments :
         {QStringList{}, QStringList{QStringLiteral("serve")},
          QStringList{QStringLiteral("fly"), QStringLiteral("--db"), QStringLiteral("x")},
          QStringList{QStringLiteral("serve"), QStringLiteral("--db"), QStringLiteral("x"),
                      QStringLiteral("--listen"), QStringLiteral("127.0.0.1:99999")},
          QStringList{QStringLiteral("import"), QStringLiteral("--db"), QStringLiteral("x")}}) {
        QProcess process;
        process.start(serverExecutable(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("usage"));
    }
}

namespace {

// A client that sends a request a byte at a time; true when the server closed on it before
// the whole request was sent.
bool dripRequest(int port, std::chrono::milliseconds pause)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return false;
    }
    const std::string request = "POST /trfc/ HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                "application/x-www-form-urlencoded\r\nContent-Length: 30\r\n\r\n" +
                                kShinjukuBody;
    bool closed = false;
    for (const char c : request) {
        if (::send(socket, &c, 1, MSG_NOSIGNAL) != 1) {
            closed = true;
            break;
        }
        std::this_thread::sleep_for(pause);
        char byte = 0;
        if (::recv(socket, &byte, 1, MSG_DONTWAIT) == 0) {
            closed = true;
            break;
        }
    }
    ::close(socket);
    return closed;
}

} // namespace

void TestHttp::slowClientsCannotStarveThePool()
{
    // More slow clients than threads: without a deadline for the whole request they would
    // hold every thread for the 15 s they take to send their requests.
    constexpr int kThreads = 2;
    constexpr int kSlowClients = 5;
    RunningService server(kThreads, std::chrono::milliseconds(500));
    std::atomic<int> closedOnTime = 0;
    std::vector<std::thread> slow;
    for (int i = 0; i < kSlowClients; ++i)
        slow.emplace_back([&server, &closedOnTime] {
            if (dripRequest(server.port(), std::chrono::milliseconds(100)))
                ++closedOnTime;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QElapsedTimer clock;
    clock.start();
    httplib::Client client = server.client();
    QCOMPARE(bodyOf(client.Post("/trfc/", kShinjukuBody, kFormType)), shinjukuAnswer());
    const qint64 waited = clock.elapsed();
    for (std::thread& thread : slow)
        thread.join();
    qInfo("answered after %lld ms beside %d slow clients", waited, kSlowClients);
    QVERIFY2(waited < 5000, qPrintable(QString::number(waited)));
    QCOMPARE(closedOnTime.load(), kSlowClients);
}

void TestHttp::importKeepsFilesThatAreNotNamesFiles()
{
    QTemporaryDir folder;
    const QString table = fixturePath("stations-current.csv");
    // A card history as the program keeps it, the input table itself, an empty file.
    const QString history = folder.filePath(QStringLiteral("ridelog.sqlite"));
    {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(history).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TABLE \"2012E44A0B1C2D3E4\"(seq INTEGER, b1 INTEGER);"
                              "INSERT INTO \"2012E44A0B1C2D3E4\" VALUES(1, 2);",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    }
    const QString tableCopy = folder.filePath(QStringLiteral("table.csv"));
    QVERIFY(QFile::copy(table, tableCopy));
    const QString empty = folder.filePath(QStringLiteral("empty"));
    QFile(empty).open(QIODevice::WriteOnly);

    const auto import = [&](const QString& database, const QString& input) {
        QProcess process;
        process.start(serverExecutable(),
                      {QStringLiteral("import"), QStringLiteral("--db"), database, input});
        process.waitForFinished(30000);
        return std::make_pair(process.exitCode(), process.readAllStandardError());
    };
    for (const QString& foreign : {history, tableCopy, empty}) {
        QFile file(foreign);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        const auto [exitCode, error] = import(foreign, foreign == tableCopy ? tableCopy : table);
        QCOMPARE(exitCode, 1);
        QVERIFY2(error.contains("not a names file"), error.constData());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
    // A names file made by import is replaced as before.
    const QString names = folder.filePath(QStringLiteral("names.sqlite"));
    QCOMPARE(import(names, table).first, 0);
    QCOMPARE(import(names, table).first, 0);
    QString error;
    QVERIFY(readNameDatabase(names, &error).has_value());
}

void TestHttp::helpAndVersion()
{
    QProcess help;
    help.start(serverExecutable(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("usage: ridelog-nameserver import"));
    QVERIFY(help.readAllStandardError().isEmpty());

    QProcess version;
    version.start(serverExecutable(), {QStringLiteral("--version")});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitCode(), 0);
    QCOMPARE(version.readAllStandardOutput().trimmed(), QByteArray("ridelog-nameserver 1.2.0"));
}

static RegisterTest<TestHttp> registerHttp;

#include "test_http.moc"
