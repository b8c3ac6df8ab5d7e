// The server over loopback: answers in code page 932, refused requests, concurrent clients,
// broken connections, and the command line of ridelog-nameserver.
#include "httpservice.h"
#include "namedata/cp932.h"
#include "namedata/request.h"
#include "runningservice.h"
#include "test_nameserver.h"
#include "testfiles.h"
#include "testpaths.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <sqlite3.h>
#include <thread>

using namespace ridelog;
using namespace ridelog::nameserver;
using namespace ridelog::testsupport;

namespace {

QByteArray bodyOf(const std::optional<HttpReply>& reply)
{
    return reply ? QByteArray::fromStdString(reply->body) : QByteArray();
}

QString serverExecutable()
{
    return QStringLiteral(RIDELOG_BINARY_DIR "/server/ridelog-nameserver");
}

struct Finished
{
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
};

// Runs ridelog-nameserver to its end.
Finished runServer(const QStringList& arguments)
{
    QProcess process;
    process.start(serverExecutable(), arguments);
    if (!process.waitForFinished(30000))
        process.kill();
    process.waitForFinished();
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

ServiceOptions withThreads(int threads)
{
    ServiceOptions options = loopbackOptions();
    options.threads = threads;
    return options;
}

std::unique_ptr<QTcpSocket> connectedSocket(int port)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    socket->waitForConnected(5000);
    return socket;
}

} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void answers_data();
    void answers();
    void answersTheRequestOfRidelog();
    void oversizeBodiesAre413_data();
    void oversizeBodiesAre413();
    void statusPageShowsCounts();
    void concurrentClients();
    void brokenClientsDoNotHurt_data();
    void brokenClientsDoNotHurt();
    void busyPortIsReported();
    void commandLineImportAndServe();
    void commandLineFailures_data();
    void commandLineFailures();
    void helpAndVersion();
};

void TestHttp::answers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer"); // for look-ups answered
    const auto post = [](const std::string& path, const std::string& body) {
        return QByteArray::fromStdString(postRequest(path, body));
    };
    std::string atTheLimit = kShinjukuBody + "pad=";
    atTheLimit.resize(kMaxRequestBodyBytes, 'x');
    QTest::newRow("Shinjuku") << post("/trfc/", kShinjukuBody) << 200 << shinjukuAnswer();
    QTest::newRow("a body of exactly the limit")
        << post("/trfc/", atTheLimit) << 200 << shinjukuAnswer();
    QTest::newRow("the query string is not part of the path")
        << post("/trfc/?from=test", kShinjukuBody) << 200 << shinjukuAnswer();
    QTest::newRow("unknown station") << post("/trfc/", "a=12302%2c0%2c37%2c25%3agarbage%3a&p=ap&")
                                     << 200 << QByteArray("No data");
    QTest::newRow("no body") << post("/trfc/", "") << 400 << QByteArray();
    QTest::newRow("bad escape") << post("/trfc/", "a=%zz&p=ap&") << 400 << QByteArray();
    QTest::newRow("look-up by GET")
        << QByteArray::fromStdString(getRequest("/trfc/")) << 404 << QByteArray();
    QTest::newRow("other path") << post("/other/", kShinjukuBody) << 404 << QByteArray();
}

void TestHttp::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    RunningService server(loopbackOptions());
    QVERIFY(server.port() > 0);
    const auto reply = exchange(server.port(), request.toStdString());
    QVERIFY(reply);
    QCOMPARE(reply->status, status);
    if (status != 200)
        return;
    QCOMPARE(QByteArray::fromStdString(reply->header("Content-Type")),
             QByteArray("text/plain; charset=Shift_JIS"));
    QCOMPARE(bodyOf(reply), answer);
    if (answer == shinjukuAnswer())
        QVERIFY(bodyOf(reply).contains("\x90\x56\x8F\x68")); // 新宿
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

void TestHttp::oversizeBodiesAre413_data()
{
    QTest::addColumn<QByteArray>("request");
    const QByteArray head = "POST /trfc/ HTTP/1.1\r\nHost: x\r\nContent-Type: "
                            "application/x-www-form-urlencoded\r\n";
    // A body announced longer than the limit is refused before it is read: only its start is
    // sent, so the answer cannot race a client still writing into a closed connection.
    QTest::newRow("announced") << head + "Content-Length: " +
                                      QByteArray::number(
                                          qulonglong(kShinjukuBody.size() + kMaxRequestBodyBytes)) +
                                      "\r\n\r\n" + QByteArray::fromStdString(kShinjukuBody);
    const QByteArray chunk = "a=" + QByteArray(int(kMaxRequestBodyBytes), '1');
    QTest::newRow("chunked") << head + "Transfer-Encoding: chunked\r\n\r\n" +
                                    QByteArray::number(chunk.size(), 16) + "\r\n" + chunk +
                                    "\r\n0\r\n\r\n";
}

void TestHttp::oversizeBodiesAre413()
{
    QFETCH(QByteArray, request);
    RunningService server(loopbackOptions());
    const auto socket = connectedSocket(server.port());
    socket->write(request);
    QVERIFY(QTest::qWaitFor(
        [&socket] {
            socket->waitForReadyRead(100);
            return socket->bytesAvailable() >= 12;
        },
        10000));
    QVERIFY(socket->readAll().startsWith("HTTP/1.1 413"));
    QCOMPARE(server.askShinjuku(), shinjukuAnswer());
}

void TestHttp::statusPageShowsCounts()
{
    RunningService server(loopbackOptions());
    const auto reply = exchange(server.port(), getRequest("/"));
    QVERIFY(reply);
    QCOMPARE(reply->status, 200);
    const QString page = QString::fromUtf8(bodyOf(reply));
    QVERIFY(page.contains(u"<td>Rail stations</td><td>2</td>"));
    QVERIFY(page.contains(u"<td>Bus stops</td><td>1</td>"));
    QVERIFY(page.contains(u"<td>Shops</td><td>0</td>"));
    QVERIFY(page.contains(u"<a href=\""));
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

void TestHttp::brokenClientsDoNotHurt_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 131 + 7) & 0xFF));
    QTest::newRow("garbage") << garbage;
    QTest::newRow("garbage, then an empty line") << garbage + "\r\n\r\n";
    QTest::newRow("negative length")
        << QByteArray("POST /trfc/ HTTP/1.1\r\nContent-Length: -5\r\n\r\n");
    QTest::newRow("length past 64 bits")
        << QByteArray("POST /trfc/ HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n");
    QTest::newRow("host of 100 kB")
        << QByteArray("GET / HTTP/1.1\r\nHost: ") + QByteArray(100000, 'h') + "\r\n\r\n";
    QTest::newRow("left mid-body")
        << QByteArray("POST /trfc/ HTTP/1.1\r\nHost: x\r\nContent-Length: 1000\r\n\r\na=123");
}

// Four clients at once send the bytes and go; the one event thread still answers.
void TestHttp::brokenClientsDoNotHurt()
{
    QFETCH(QByteArray, bytes);
    RunningService server(withThreads(1));
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < 4; ++i) {
        sockets.push_back(connectedSocket(server.port()));
        QCOMPARE(sockets.back()->state(), QAbstractSocket::ConnectedState);
        sockets.back()->write(bytes);
        sockets.back()->waitForBytesWritten(5000);
    }
    // Some are never answered: the wait ends at its time, and either way the clients go.
    static_cast<void>(QTest::qWaitFor(
        [&sockets] {
            return std::all_of(sockets.begin(), sockets.end(), [](const auto& socket) {
                return socket->bytesAvailable() > 0 ||
                       socket->state() != QAbstractSocket::ConnectedState;
            });
        },
        2000));
    for (const auto& socket : sockets)
        socket->abort();
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
    const QStringList arguments{QStringLiteral("import"), QStringLiteral("--db"), database,
                                fixturePath("stations-current.csv"), fixturePath("all-sheets.csv")};
    // A names file made by import is replaced by the next.
    QCOMPARE(runServer(arguments).exitCode, 0);
    const Finished import = runServer(arguments);
    const QString report = QString::fromLocal8Bit(import.output);
    QCOMPARE(import.exitCode, 0);
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

void TestHttp::commandLineFailures_data()
{
    // "DB" stands for the names file: absent, or a file that is not one, which stays as it was.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("existing");
    const QString db = QStringLiteral("DB");
    const QString table = fixturePath("stations-current.csv");
    const QString import = QStringLiteral("import");
    const QString serve = QStringLiteral("serve");
    const QString dbOption = QStringLiteral("--db");
    const auto usage = [](const char* name, const QStringList& arguments) {
        QTest::newRow(name) << arguments << 2 << QByteArray("usage") << QString();
    };
    usage("no arguments", {});
    usage("serve alone", {serve});
    usage("unknown command", {QStringLiteral("fly"), dbOption, db});
    usage("port too large",
          {serve, dbOption, db, QStringLiteral("--listen"), QStringLiteral("127.0.0.1:99999")});
    usage("timeout not a number",
          {serve, dbOption, db, QStringLiteral("--header-timeout"), QStringLiteral("soon")});
    usage("cap without value", {serve, dbOption, db, QStringLiteral("--max-connections")});
    usage("import without tables", {import, dbOption, db});
    QTest::newRow("serve without names file")
        << QStringList{serve, dbOption, db, QStringLiteral("--listen"),
                       QStringLiteral("127.0.0.1:0")}
        << 1 << QByteArray("no such file") << QString();
    QTest::newRow("import of a missing table")
        << QStringList{import, dbOption, db, table, fixturePath("no-such-table.csv")} << 1
        << QByteArray("import stopped") << QString();
    const QByteArray notNames = "not a names file";
    QTest::newRow("import over a card history")
        << QStringList{import, dbOption, db, table} << 1 << notNames << QStringLiteral("history");
    QTest::newRow("import over its own table")
        << QStringList{import, dbOption, db, db} << 1 << notNames << QStringLiteral("table");
    QTest::newRow("import over an empty file")
        << QStringList{import, dbOption, db, table} << 1 << notNames << QStringLiteral("empty");
}

void TestHttp::commandLineFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QFETCH(QString, existing);
    QTemporaryDir folder;
    const QString database = folder.filePath(QStringLiteral("names.sqlite"));
    if (existing == u"history") { // a card history as the program keeps it
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(QFile::encodeName(database).constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db,
                              "CREATE TABLE \"2012E44A0B1C2D3E4\"(seq INTEGER, b1 INTEGER);"
                              "INSERT INTO \"2012E44A0B1C2D3E4\" VALUES(1, 2);",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (existing == u"table") {
        QVERIFY(QFile::copy(fixturePath("stations-current.csv"), database));
    } else if (existing == u"empty") {
        QVERIFY(QFile(database).open(QIODevice::WriteOnly));
    }
    const QByteArray before = existing.isEmpty() ? QByteArray() : test::fileBytes(database);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^DB$")), database);
    const Finished run = runServer(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errors.contains(message), run.errors.constData());
    QCOMPARE(QFile::exists(database), !existing.isEmpty());
    if (!existing.isEmpty())
        QCOMPARE(test::fileBytes(database), before);
}

void TestHttp::helpAndVersion()
{
    const Finished help = runServer({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.output.contains("usage: ridelog-nameserver import"));
    for (const char* option : {"--threads N", "--idle-timeout S", "--busy-idle-timeout S",
                               "--header-timeout S", "--request-timeout S", "--max-connections N",
                               "--max-connections-per-address N", "--log-requests"})
        QVERIFY2(help.output.contains(option), option);
    QVERIFY(help.errors.isEmpty());

    const Finished version = runServer({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.output.trimmed(), QByteArray("ridelog-nameserver 1.2.0"));
}

static RegisterTest<TestHttp> registerHttp;

#include "test_http.moc"
