// Which source names a read card: the server, the program's built-in names in its place when
// no server can be reached, or neither; and the status text that tells the user which it was.
#include "namerefreshfixture.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

Q_DECLARE_METATYPE(FakeNameServer::Responder)

namespace {

const QString kFellBack = QStringLiteral("内蔵の駅名を使用 (駅名サーバー不通)");

// Refreshes fillCard()'s records against server with the built-in names at hand; the status
// text, or "<no status>".
QString refreshWithBuiltinNames(RefreshDesk& desk, const QUrl& server, const NameTimeouts& timeouts)
{
    desk.fillCard();
    WatchedRefresher watched(server, timeouts);
    watched.refresher.setBuiltinNames(std::make_shared<BuiltinNames>(kBuiltinNamesFile));
    watched.start(desk);
    if (!watched.finished.wait(10000) || watched.status.size() != 1)
        return QStringLiteral("<no status>");
    qInfo("tooltip: %s", qPrintable(watched.statusText(1)));
    return watched.statusText();
}

} // namespace

class TestNameSources : public QObject
{
    Q_OBJECT

private slots:
    void nameSources_data();
    void nameSources();
    void unreachableServerFallsBack_data();
    void unreachableServerFallsBack();
    void noNetworkAtAll();

private:
    const UnansweredListener blackHole_;
};

void TestNameSources::nameSources_data()
{
    QTest::addColumn<FakeNameServer::Responder>("server"); // none: nobody listens
    QTest::addColumn<bool>("builtinOnly");
    QTest::addColumn<bool>("namesFile");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("entryName"); // column 4 of the unnamed rail journey
    QTest::addColumn<int>("requests");

    const QString c4 = QStringLiteral("c4");
    const FakeNameServer::Responder names = answering(kFullAnswer);
    const FakeNameServer::Responder none;
    QTest::newRow("builtin alone opens no socket")
        << names << true << true << QStringLiteral("ok") << kBuiltinShinjuku << 0;
    QTest::newRow("unreachable server: built-in names")
        << none << false << true << kFellBack << kBuiltinShinjuku << 0;
    QTest::newRow("unreachable server, no names file")
        << none << false << false << QStringLiteral("駅名サーバーに接続できません") << c4 << 0;
    QTest::newRow("builtin alone, no names file")
        << names << true << false << QStringLiteral("内蔵の駅名データを読めません") << c4 << 0;
    QTest::newRow("HTTP error: no stand-in")
        << answering(kFullAnswer, 500) << false << true
        << QStringLiteral("駅名サーバーのエラー (Error 500)") << c4 << 1;
    QTest::newRow("malformed answer: no stand-in")
        << answering(QStringLiteral("\x01\x02<html>not names</html>")) << false << true
        << QStringLiteral("ok") << c4 << 1;
    QTest::newRow("server answers")
        << names << false << true << QStringLiteral("ok") << kShinjuku << 1;
}

void TestNameSources::nameSources()
{
    QFETCH(FakeNameServer::Responder, server);
    QFETCH(bool, builtinOnly);
    QFETCH(bool, namesFile);
    QFETCH(QString, status);
    QFETCH(QString, entryName);
    QFETCH(int, requests);

    RefreshDesk desk;
    desk.fillCard();
    auto fake = std::make_unique<FakeNameServer>();
    const QUrl url = fake->url();
    if (server)
        fake->respondWith(server);
    else
        fake.reset();

    WatchedRefresher watched(url);
    watched.refresher.setBuiltinOnly(builtinOnly);
    watched.refresher.setBuiltinNames(std::make_shared<BuiltinNames>(
        namesFile ? kBuiltinNamesFile : QStringLiteral(RIDELOG_BINARY_DIR "/no-such.sqlite")));
    watched.start(desk);
    QVERIFY(watched.finished.wait(10000));
    QCOMPARE(watched.status.size(), 1);
    QCOMPARE(watched.statusText(), kIdm + u' ' + status);
    const QString toolTip = watched.statusText(1);
    QVERIFY2(!toolTip.isEmpty(), qPrintable(toolTip));
    QVERIFY2(toolTip.contains(QStringLiteral("内蔵")) == (builtinOnly || !server),
             qPrintable(toolTip));
    QCOMPARE(desk.text(3, 4), entryName);
    // The exit station of the journey is in no table: the built-in names leave it a code.
    if (entryName == kBuiltinShinjuku)
        QCOMPARE(desk.text(3, 5), QStringLiteral("c5"));
    if (fake)
        QCOMPARE(fake->requests().size(), requests);
    if (entryName != QStringLiteral("c4")) {
        // Names of either source land in the caches the same way.
        QCOMPARE(desk.caches.stations.EntryFor({0, 37, 10}).nm, entryName);
        return;
    }
    // Without names nothing changes: no cell of the list, record, cache or table row.
    for (int row = 0; row < desk.list.rowCount(); ++row)
        QCOMPARE(desk.text(row, 4) + desk.text(row, 5), QStringLiteral("c4c5"));
    QVERIFY(desk.records.find(123)->entryName.isEmpty());
    QVERIFY(desk.caches.stations.empty() && desk.caches.busStops.empty());
    QVERIFY(desk.caches.shops.empty());
    for (const auto& [key, row] : desk.table)
        QCOMPARE(row, NameRefreshRow());
    if (status.contains(QStringLiteral("Error 500")))
        QVERIFY2(toolTip.contains(QStringLiteral("Error 500")), qPrintable(toolTip));
}

void TestNameSources::unreachableServerFallsBack_data()
{
    QTest::addColumn<QUrl>("server");
    QTest::addColumn<QUrl>("proxy"); // the system's, when not empty
    const QUrl names(QStringLiteral("http://names.example.com/"));
    // (A refused connection is a row of nameSources.) A host not found: either the resolver
    // says so at once, or it takes longer than the time-out.
    QTest::newRow("host not found")
        << QUrl(QStringLiteral("http://ridelog-no-such-host.invalid/")) << QUrl();
    QTest::newRow("proxy cannot be reached") << names << closedLoopbackUrl();
    QTest::newRow("no connection within the time-out") << blackHole_.url() << QUrl();
}

// Whatever the reason no server could be reached, the built-in names answer and the status
// says so.
void TestNameSources::unreachableServerFallsBack()
{
    QFETCH(QUrl, server);
    QFETCH(QUrl, proxy);
    QVERIFY(!server.isEmpty());
    const auto cleanUp = qScopeGuard([] {
        qunsetenv("http_proxy");
        qunsetenv("no_proxy");
    });
    if (!proxy.isEmpty()) {
        qputenv("http_proxy", proxy.toString().toLatin1());
        qputenv("no_proxy", "");
    }
    RefreshDesk desk;
    QCOMPARE(refreshWithBuiltinNames(desk, server, {500ms, 2000ms}), kIdm + u' ' + kFellBack);
    QCOMPARE(desk.text(3, 4), kBuiltinShinjuku);
}

// No network at all, not even loopback (a network namespace of its own): the default server
// cannot be reached, and the built-in names answer. The test runs itself in such a namespace
// where the system allows one.
void TestNameSources::noNetworkAtAll()
{
    if (qEnvironmentVariableIsSet("RIDELOG_TEST_NO_NETWORK")) {
        // Not even loopback: connecting there fails at once, before any port is tried.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, 80);
        QVERIFY(!probe.waitForConnected(2000));
        QCOMPARE(probe.error(), QAbstractSocket::NetworkError);
        RefreshDesk desk;
        QCOMPARE(refreshWithBuiltinNames(desk, defaultNameServerUrl(), kShortTimeouts),
                 kIdm + u' ' + kFellBack);
        QCOMPARE(desk.text(3, 4), kBuiltinShinjuku);
        return;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("RIDELOG_TEST_NO_NETWORK"), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QStringList self{QCoreApplication::applicationFilePath(),
                           QStringLiteral("noNetworkAtAll")};
    // Unprivileged through a user namespace where allowed, else as root.
    for (const QString& options : {QStringLiteral("-rn"), QStringLiteral("-n")}) {
        child.start(QStringLiteral("unshare"), QStringList{options} + self);
        if (!child.waitForStarted())
            QSKIP("no unshare on this system");
        if (!child.waitForFinished(30000))
            QFAIL("the test in its own network namespace did not end");
        if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
            return;
        const QByteArray output = child.readAll();
        if (output.contains("Start testing"))
            QFAIL(output.constData());
    }
    QSKIP("this system allows no network namespace of our own (unshare)");
}

QTEST_GUILESS_MAIN(TestNameSources)
#include "test_namesources.moc"
