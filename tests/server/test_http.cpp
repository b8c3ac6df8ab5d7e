// The server over loopback: answers in code page 932, refused requests, concurrent clients,
// broken connections, and the command line of ridelog-nameserver.
#include "httpservice.h"
#include "namedata/cp932.h"
#include "namedata/namedatabase.h"
#include "namedata/request.h"
#include "runningservice.h"
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
#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace ridelog;
using namespace ridelog::nameserver;
using namespace ridelog::testsupport;

namespace {

QByteArray bodyOf(const std::optional<HttpReply>& reply)
{
    return reply ? QByteArray::fromStdString(reply->body) : QByteArray();
}

std::optional<HttpReply> post(const RunningService& server, const std::string& path,
                              const std::string& body)
{
    return exchange(server.port(), postRequest(path, body));
}

QString serverExecutable()
{
    return QStringLiteral(RIDELOG_BINARY_DIR "/server/ridelog-nameserver");
}

ServiceOptions withThreads(int threads)
{
    ServiceOptions options = loopbackOptions();
    options.threads = threads;
    return options;
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
    void importKeepsFilesThatAreNotNamesFiles();
    void helpAndVersion();
};

void TestHttp::answersShinjukuInCodePage932()
{
    RunningService server(loopbackOptions());
    QVERIFY(server.port() > 0);
    const auto result = post(server, "/trfc/", kShinjukuBody);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(QByteArray::fromStdString(result->header("Content-Type")),
             QByteArray("text/plain; charset=Shift_JIS"));
    QCOMPARE(bodyOf(result), shinjukuAnswer());
    QVERIFY(bodyOf(result).contains("\x90\x56\x8F\x68")); // 新宿
}

void TestHttp::answersTheRequestOfRidelog()
{
    RunningService server(loopbackOptions());
    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1/trfc/").arg(server.port())));
    request.setRawHeader("Content-type", "application/x-www-form-urlencoded");
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
    RunningService server(loopbackOptions());
    for (const std::string body : {"", "p=ap&", "a=%zz&p=ap&"}) {
        const auto result = post(server, "/trfc/", body);
        QVERIFY(result);
        QCOMPARE(result->status, 400);
    }
}

void TestHttp::oversizeBodyIs413()
{
    RunningService server(loopbackOptions());
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
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
}

void TestHttp::bodyOfExactlyTheLimitIsServed()
{
    RunningService server(loopbackOptions());
    std::string body = kShinjukuBody + "pad=";
    body.resize(kMaxRequestBodyBytes, 'x');
    const auto result = post(server, "/trfc/", body);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(bodyOf(result), shinjukuAnswer());
}

void TestHttp::oversizeChunkedBodyIs413()
{
    RunningService server(loopbackOptions());
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
    RunningService server(loopbackOptions());
    const auto result = post(server, "/trfc/", "a=12302%2c0%2c37%2c25%3agarbage%3a&p=ap&");
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(bodyOf(result), QByteArray("No data"));
}

void TestHttp::statusPageShowsCounts()
{
    RunningService server(loopbackOptions());
    const auto result = exchange(server.port(), getRequest("/"));
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
    RunningService server(loopbackOptions());
    const auto getLookUp = exchange(server.port(), getRequest("/trfc/"));
    QVERIFY(getLookUp);
    QCOMPARE(getLookUp->status, 404);
    const auto otherPath = post(server, "/other/", kShinjukuBody);
    QVERIFY(otherPath);
    QCOMPARE(otherPath->status, 404);
    // The query string is not part of the path.
    QCOMPARE(bodyOf(post(server, "/trfc/?from=test", kShinjukuBody)), shinjukuAnswer());
}

void TestHttp::concurrentClients()
{
    RunningService server(withThreads(2));
    constexpr int kClients = 8;
    constexpr int kRequestsEach = 50;
    std::atomic<int> correct = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&server, &correct] {
            LoopbackConnection connection(server.port()); // kept alive for all its requests
            for (int i = 0; i < kRequestsEach; ++i)
                if (connection.send(postRequest("/trfc/", kShinjukuBody)) &&
                    bodyOf(connection.read()) == shinjukuAnswer())
                    ++correct;
        });
    for (std::thread& client : clients)
        client.join();
    QCOMPARE(correct.load(), kClients * kRequestsEach);
}

void TestHttp::garbageBytesDoNotHurt()
{
    RunningService server(loopbackOptions());
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
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
}

void TestHttp::clientLeavingMidBodyDoesNotHurt()
{
    RunningService server(withThreads(1));
    for (int i = 0; i < 4; ++i) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("POST /trfc/ HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\na=123");
        socket.waitForBytesWritten(5000);
        socket.abort();
    }
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
}

void TestHttp::busyPortIsReported()
{
    RunningService first(loopbackOptions());
    ServiceOptions options = loopbackOptions();
    options.port = first.port();
    NameService second(smallDirectory(), options);
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
    QCOMPARE(bodyOf(exchange(match.captured(1).toInt(), postRequest("/trfc/", kShinjukuBody))),
             shinjukuAnswer());

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
          QStringList{QStringLiteral("serve"), QStringLiteral("--db"), QStringLiteral("x"),
                      QStringLiteral("--header-timeout"), QStringLiteral("soon")},
          QStringList{QStringLiteral("serve"), QStringLiteral("--db"), QStringLiteral("x"),
                      QStringLiteral("--max-connections")},
          QStringList{QStringLiteral("import"), QStringLiteral("--db"), QStringLiteral("x")}}) {
        QProcess process;
        process.start(serverExecutable(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().contains("usage"));
    }
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
    const QByteArray helpText = help.readAllStandardOutput();
    QVERIFY(helpText.contains("usage: ridelog-nameserver import"));
    for (const char* option : {"--threads N", "--idle-timeout S", "--busy-idle-timeout S",
                               "--header-timeout S", "--request-timeout S", "--max-connections N",
                               "--max-connections-per-address N", "--log-requests"})
        QVERIFY2(helpText.contains(option), option);
    QVERIFY(help.readAllStandardError().isEmpty());

    QProcess version;
    version.start(serverExecutable(), {QStringLiteral("--version")});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitCode(), 0);
    QCOMPARE(version.readAllStandardOutput().trimmed(), QByteArray("ridelog-nameserver 1.2.0"));
}

static RegisterTest<TestHttp> registerHttp;

#include "test_http.moc"
