// Names in the main window and what the status bar says of them: the display commands that
// render names anew, names from a server or the built-in data, status texts from any thread
// that fit their pane, the About box and the name of the reader.
#include "../names/fakenameserver.h"
#include "commandfixture.h"
#include "namedata/cp932.h"
#include "names/builtinnames.h"
#include "names/namestatus.h"
#include "support/cardblocks.h"
#include "support/namedhistory.h"
#include "ui/aboutdlg.h"
#include "ui/commandids.h"

#include <QDesktopServices>
#include <QPushButton>
#include <QTest>
#include <QThread>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

namespace {

// Takes the addresses the program asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl& url) { opened.append(url); }
};

FakeNameServer::Responder answer(int status, const QString& body = QString())
{
    return [status, bytes = cp932::encode(body)](const FakeNameServer::Request&) {
        return FakeNameServer::response(status, bytes);
    };
}

} // namespace

class TestMainWindowNames : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void railCommandsRenderNamesAnew();
    void shopCommandEnablesShopItems();
    void serverErrorIsToldThenNamesLandWhenAskedAgain();
    void builtinNamesOnEveryRowOfSeveralCards();
    void statusTextsFromAnyThreadFitTheirPane();
    void aboutBoxOpensWithLinks();
    void readerIsNamedInStatusBarAndAboutBox();
};

void TestMainWindowNames::railCommandsRenderNamesAnew()
{
    putCard({railBlock(1, 100)});
    auto dlg = makeDialog();
    dlg->session().caches().stations.EntryFor(kEntryStation) = {u"東急"_s, u"東横"_s, u"渋谷"_s,
                                                                u"渋谷(東横線)"_s};
    dlg->readCard();
    QCOMPARE(cell(*dlg, 0, 4), u"渋谷(東横線)"_s);
    QVERIFY(dlg->triggerCommand(ids::RailCompany));
    QCOMPARE(cell(*dlg, 0, 4), u"渋谷(東急：東横線)"_s);
    QVERIFY(dlg->triggerCommand(ids::RailLine));
    QCOMPARE(cell(*dlg, 0, 4), u"渋谷(東急)"_s);
    QCOMPARE(inside(*dlg).settings().integer(u"ipnComShow"_s, -1), 1);
    QCOMPARE(inside(*dlg).settings().integer(u"ipnLinShow"_s, -1), 0);
}

void TestMainWindowNames::shopCommandEnablesShopItems()
{
    auto dlg = makeDialog();
    QVERIFY(!dlg->triggerCommand(ids::ShopRegister));
    QVERIFY(dlg->triggerCommand(ids::ShopShow));
    QVERIFY(inside(*dlg).displayFlags().shopInfoShown);
    for (int id : {ids::ShopCompany, ids::ShopName, ids::ShopRegister})
        QVERIFY(dlg->commandAction(id)->isEnabled());
    QVERIFY(dlg->triggerCommand(ids::ShopRegister));
    QCOMPARE(inside(*dlg).settings().integer(u"bpnRegShow"_s, -1), 1);
    QVERIFY(dlg->triggerCommand(ids::ShopShow));
    QVERIFY(!dlg->commandAction(ids::ShopRegister)->isEnabled());
    QVERIFY(dlg->commandAction(ids::ShopRegister)->isChecked());
    QCOMPARE(inside(*dlg).settings().integer(u"bpnShow"_s, -1), 0);
}

// A server's error is told in the status bar and changes no name; asked again once the server
// answers, the names land in the list and the caches, and the status bar says so.
void TestMainWindowNames::serverErrorIsToldThenNamesLandWhenAskedAgain()
{
    FakeNameServer server;
    const QString url = server.url().toString();
    server.respondWith(answer(404));
    putCard({railBlock(1, 1000)});
    auto dlg = makeDialog();
    dlg->setNameServer(url);
    QVERIFY(dlg->triggerCommand(ids::AskNamesAgain)); // before any read: nothing to ask
    QCOMPARE(server.requests().size(), 0);
    dlg->readCard();
    QTRY_COMPARE(inside(*dlg).statusPaneText(0),
                 u"012E44A0B1C2D3E4 駅名サーバーのエラー (Error 404)"_s);
    // A server that answers is the user's choice: its error is not covered up by built-in names.
    QVERIFY(inside(*dlg).statusPaneToolTip(0).contains(url));
    QCOMPARE(cell(*dlg, 0, 4), u"(0, 37, 12)"_s);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    QCOMPARE(server.requests().size(), 1);
    QVERIFY(server.requests().first().body.contains("102%2c0%2c37%2c12%3a"));

    server.respondWith(answer(200, u"102,JR東日本,山手,新宿:104,JR東日本,山手,渋谷:"_s));
    QVERIFY(dlg->triggerCommand(ids::AskNamesAgain));
    QTRY_COMPARE(cell(*dlg, 0, 4), u"新宿(山手線)"_s);
    QCOMPARE(cell(*dlg, 0, 5), u"渋谷(山手線)"_s);
    QTRY_COMPARE(inside(*dlg).statusPaneText(0), u"012E44A0B1C2D3E4 ok"_s);
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(dlg->session().caches().stations.EntryFor(kEntryStation).nm, u"新宿(山手線)"_s);
}

// Without any server, cards read one after another in one window, the list sorted by the entry
// column and filtered by date: each station of the built-in tables is named in both columns of
// every row, and the status bar says where the names came from.
void TestMainWindowNames::builtinNamesOnEveryRowOfSeveralCards()
{
    auto dlg = makeDialog();
    inside(*dlg).nameRefresher().setBuiltinNames(std::make_shared<BuiltinNames>());
    dlg->setNameServer(u"builtin"_s);
    inside(*dlg).historyView()->sort(4, Qt::AscendingOrder);
    inside(*dlg).historyView()->setFilter({QString(), QDate(2026, 1, 10), QDate()});
    const StationKey kyoto{0, 1, 204};
    const StationKey osakaTokaido{0, 1, 232};
    const StationKey sannomiya{0, 1, 251};
    HistoryBuilder kanto;
    for (int day = 0; day < 9; ++day)
        kanto.journey(kIkebukuro, kShinjuku).journey(kShinjuku, kIkebukuro);
    kanto.bus(kStationFrontStop).journey(kShibuya, kShinjuku);
    HistoryBuilder kansai(500);
    for (int day = 0; day < 6; ++day)
        kansai.journey(kyoto, osakaTokaido, 580).journey(osakaTokaido, sannomiya, 420);
    kansai.journey(sannomiya, kyoto, 1110).charge();
    int card = 0;
    for (const HistoryBuilder* history : {&kanto, &kansai, &kanto}) {
        QList<HistoryBlock> newestFirst(history->blocks().rbegin(), history->blocks().rend());
        const QString idm = u"0101010101010%1"_s.arg(card++, 3, 10, QLatin1Char('0'));
        putCard(newestFirst.mid(0, 20), idm);
        dlg->readCard();
        // "ok" after the answer; "OK" when the reader's own read of the card came second and
        // found every name known.
        QTRY_VERIFY(inside(*dlg).statusPaneText(0) == idm + u" ok"_s ||
                    inside(*dlg).statusPaneText(0) == idm + u" OK"_s);
        const HistoryListModel* rows = inside(*dlg).historySource();
        QCOMPARE(rows->rowCount(), int(std::min<std::size_t>(20, history->blocks().size())));
        for (int row = 0; row < rows->rowCount(); ++row) {
            const HistoryRecord* record = rows->recordAt(row);
            if (record->kind != RecordKind::Rail || record->entryKey.isNone())
                continue;
            for (const auto& [column, key] :
                 {std::pair{4, record->entryKey}, std::pair{5, record->exitKey}}) {
                const QString name = dlg->session().caches().stations.EntryFor(key).nm;
                QVERIFY2(!name.isEmpty(), qPrintable(stationCodeText(key)));
                QCOMPARE(rows->cellText(row, column), name);
            }
        }
    }
    QTRY_VERIFY(inside(*dlg).statusPaneToolTip(0).contains(u"内蔵の駅名データ"_s));
    StationNameCache& stations = dlg->session().caches().stations;
    for (const auto& [key, name] :
         {std::pair{kShibuya, u"渋谷(山手線)"_s}, std::pair{kShinjuku, u"新宿(山手線)"_s},
          std::pair{osakaTokaido, u"大阪(東海道本線)"_s}})
        QCOMPARE(stations.EntryFor(key).nm, name);
    // The view shows the rows of the filter's dates, sorted by their entry names.
    QVERIFY(inside(*dlg).historyView()->rowCount() > 0);
    QVERIFY(inside(*dlg).historyView()->rowCount() < 20);
}

// A text set from another thread arrives as it was when set; every status text of a name
// refresh fits its pane at the default width.
void TestMainWindowNames::statusTextsFromAnyThreadFitTheirPane()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QString sent = u"駅名を 3 件取得しました"_s;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        dlg->setStatusText(sent);
        sent = u"changed by the sender afterwards"_s;
    }));
    thread->start();
    QVERIFY(thread->wait(5000));
    QTRY_COMPARE(inside(*dlg).statusPaneText(0), u"駅名を 3 件取得しました"_s);
    using Kind = NameOutcome::Kind;
    for (const Kind kind :
         {Kind::NothingToAsk, Kind::Answered, Kind::FellBack, Kind::Unreachable, Kind::NoAnswer,
          Kind::HttpError, Kind::CutOff, Kind::NetworkError, Kind::BuiltinUnavailable}) {
        NameOutcome outcome;
        outcome.kind = kind;
        outcome.technical = u"Error 500"_s;
        const QString text = nameStatusText(kCardIdm, outcome);
        dlg->setStatusText(text, u"details"_s);
        QCoreApplication::processEvents();
        const QLabel* pane = inside(*dlg).statusPane(0);
        QCOMPARE(pane->text(), text);
        QCOMPARE(pane->toolTip(), u"details"_s);
        const int needed = pane->fontMetrics().horizontalAdvance(text);
        QVERIFY2(
            pane->contentsRect().width() >= needed,
            qPrintable(u"%1: %2 < %3"_s.arg(text).arg(pane->contentsRect().width()).arg(needed)));
    }
}

void TestMainWindowNames::aboutBoxOpensWithLinks()
{
    auto dlg = makeDialog();
    dlg->setNameServer(u"http://names.example.net:8080/trfc/"_s);
    QVERIFY(dlg->triggerCommand(ids::About));
    auto* about = dlg->findChild<CAboutDlg*>();
    QVERIFY(about != nullptr);
    QCOMPARE(about->windowTitle(), u"バージョン情報 交通費履歴"_s);
    bool versionShown = false;
    for (const QLabel* label : about->findChildren<QLabel*>())
        versionShown = versionShown || label->text() == u"交通費履歴読出 バージョン 1.2.0"_s;
    QVERIFY(versionShown);
    // Both sources of the built-in names are credited, with the licence.
    const QLabel* credits = about->creditLabel();
    QVERIFY(credits != nullptr);
    for (const char* credited : {"suica-viewer", "ICCardManager", "MIT"})
        QVERIFY2(credits->text().contains(QLatin1String(credited)), credited);
    QCOMPARE(about->linkButton(1074)->text(), u"http://names.example.net:8080/"_s);
    QVERIFY(about->linkButton(1076)->text().startsWith(u"http"_s));
    QVERIFY(about->nameSourceText().contains(u"names.example.net"_s));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(u"http"_s, &catcher, "open");
    QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
    about->linkButton(1074)->click();
    about->linkButton(1076)->click();
    QDesktopServices::unsetUrlHandler(u"http"_s);
    QDesktopServices::unsetUrlHandler(u"https"_s);
    QCOMPARE(catcher.opened,
             (QList<QUrl>{QUrl(u"http://names.example.net:8080/"_s), CAboutDlg::projectPage()}));
    // Both links are reached with Tab; under --name-server=builtin the server is neither named
    // nor linked.
    for (int id : {1074, 1076})
        QCOMPARE(about->linkButton(id)->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    about->close();
    dlg->setNameServer(u"builtin"_s);
    QVERIFY(dlg->triggerCommand(ids::About));
    QTRY_VERIFY(dlg->findChildren<CAboutDlg*>().size() == 1);
    about = dlg->findChild<CAboutDlg*>();
    QCOMPARE(about->nameSourceText(), u"駅名: 内蔵の駅名データ"_s);
    QVERIFY(about->linkButton(1074)->isHidden());
    about->close();
}

void TestMainWindowNames::readerIsNamedInStatusBarAndAboutBox()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QString name =
        u"シミュレーションのカードリーダ（%1）"_s.arg(QDir::toNativeSeparators(cardsDir_));
    const QString caption = u"ICカードリーダ: "_s + name;
    auto* pane = inside(*dlg).statusBar()->findChild<QLabel*>(u"readerPane"_s);
    QVERIFY(pane != nullptr);
    QVERIFY(pane->isVisible());
    QCOMPARE(pane->toolTip(), caption);
    // A long name is cut at its end, so the card identifier and the balance keep their room.
    const QString shown = pane->text();
    QVERIFY2(shown == name || (shown.endsWith(QChar(0x2026)) && name.startsWith(shown.chopped(1))),
             qPrintable(shown));
    const QLabel* idPane = inside(*dlg).statusBar()->findChildren<QLabel*>().constFirst();
    QVERIFY2(idPane->width() >= 200, qPrintable(QString::number(idPane->width())));
    QVERIFY(inside(*dlg).statusBar()->rect().contains(pane->geometry()));

    QVERIFY(dlg->triggerCommand(ids::About));
    QCOMPARE(dlg->findChild<CAboutDlg*>()->readerText(), caption);
    dlg->findChild<CAboutDlg*>()->close();

    // Without a reader neither names one.
    CRidelogDlg bare(*ini_, nullptr, nullptr);
    QVERIFY(inside(bare).statusBar()->findChild<QLabel*>(u"readerPane"_s)->isHidden());
    CAboutDlg aboutBare(QUrl(u"http://localhost/trfc/"_s));
    aboutBare.setReaderName(QString());
    QVERIFY(aboutBare.readerText().isEmpty());
}

QTEST_MAIN(TestMainWindowNames)
#include "test_mainwindow_names.moc"
