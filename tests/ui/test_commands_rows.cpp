// The rows of the window's list under the file and list commands: the export of the list as
// shown, and hiding rows from the list, also while names are being fetched for them.
#include "../names/fakenameserver.h"
#include "commandfixture.h"
#include "namedata/cp932.h"
#include "store/cardlibrary.h"
#include "support/cardblocks.h"
#include "testfiles.h"
#include "ui/commandids.h"

#include <QStatusBar>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

namespace {

// A station-name server that holds every answer until it is told to send it.
class HeldNameServer
{
public:
    explicit HeldNameServer(QByteArray answer)
        : answer_(std::move(answer))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket] { requests_[socket] += socket->readAll(); });
            }
        });
    }
    bool listening() const { return server_.isListening(); }
    QUrl url() const { return QUrl(u"http://127.0.0.1:%1/"_s.arg(server_.serverPort())); }
    // Requests whose head has arrived and that wait for their answer.
    int waiting() const
    {
        int count = 0;
        for (const QByteArray& request : requests_)
            count += request.contains("\r\n\r\n");
        return count;
    }
    void release()
    {
        for (auto it = requests_.begin(); it != requests_.end(); ++it) {
            it.key()->write(FakeNameServer::response(200, answer_));
            it.key()->disconnectFromHost();
        }
        requests_.clear();
    }

private:
    QTcpServer server_;
    QByteArray answer_;
    QHash<QTcpSocket*, QByteArray> requests_;
};

QStringList numbers(std::initializer_list<int> values)
{
    QStringList texts;
    for (const int value : values)
        texts << QString::number(value);
    return texts;
}

} // namespace

class TestRowCommands : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void exportItemFollowsReads();
    void saveDialogTitleFolderAndName();
    void exportWritesListAsShown();
    void hidingRows_data();
    void hidingRows();
    void hidingRowsWhileRefreshRuns();
};

void TestRowCommands::exportItemFollowsReads()
{
    auto dlg = makeDialog();
    QAction* save = dlg->commandAction(ids::SaveToFile);
    QVERIFY(!save->isEnabled());
    QVERIFY(!dlg->triggerCommand(ids::SaveToFile));
    QVERIFY(!SaveFileDialog::lastRequest().has_value());
    // Cards without history blocks of a known terminal: nothing to save.
    for (const QList<HistoryBlock>& blocks : {QList<HistoryBlock>{}, {HistoryBlock{}}}) {
        putCard(blocks);
        dlg->readCard();
        QCOMPARE(inside(*dlg).historyModel()->rowCount(), 0);
        QCOMPARE(inside(*dlg).balanceField()->text(), u"0"_s);
        QCOMPARE(inside(*dlg).cardIdField()->text(), kCardIdm);
        QVERIFY(!save->isEnabled());
    }
    putCard({railBlock(1, 2370)});
    dlg->readCard();
    QVERIFY(save->isEnabled());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

// The save dialog has its title, proposes the card's name with its dates, opens where the last
// file went (kept apart from the integer values) and the status bar says where the file went.
void TestRowCommands::saveDialogTitleFolderAndName()
{
    putCard({railBlock(2, 2210), railBlock(1, 2370)});
    auto dlg = makeDialog();
    QVERIFY(CardLibrary(dlg->session().store().databasePath())
                .renameCard(kCardIdm, u"出張/経費: 3月"_s));
    const QString folder = dir_->filePath(u"exports"_s);
    QVERIFY(QDir().mkpath(folder));
    SaveFileDialog::setNextAnswer(SaveFileAnswer{folder + u"/march.csv"_s, 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    const SaveFileRequest first = *SaveFileDialog::lastRequest();
    QCOMPARE(first.title, u"ファイルに保存"_s);
    QCOMPARE(first.initialName, u"出張_経費_ 3月_2008-03-05_2008-03-05"_s);
    QVERIFY(inside(*dlg).statusBar()->currentMessage().contains(u"march.csv"_s));
    QTRY_VERIFY_WITH_TIMEOUT(inside(*dlg).statusBar()->currentMessage().isEmpty(), 8000);
    QVERIFY(!inside(*dlg).statusPane(0)->isHidden()); // the panes are back

    SaveFileDialog::setNextAnswer(std::nullopt); // a cancel keeps the folder
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QCOMPARE(SaveFileDialog::lastRequest()->directory, folder);
    QVERIFY(inside(*dlg).statusBar()->currentMessage().isEmpty());
    QVERIFY(inside(*dlg).settings().save());
    QCOMPARE(ini_->value(u"SaveDialog/folder"_s).toString(), folder);
    QVERIFY(!ini_->contains(u"Trfc/folder"_s));
}

void TestRowCommands::exportWritesListAsShown()
{
    putCard({shopBlock(5, 1880), busBlock(4, 2000), railBlock(3, 2210), railBlock(2, 2370, 0),
             railBlock(1, 2530)});
    auto dlg = makeDialog();
    knowNames(*dlg);
    // A name from the server with a comma in it.
    dlg->session().caches().stations.EntryFor(kExitStation).nm = u"新宿(JR東日本,山手線)"_s;
    dlg->readCard();
    // Row 3 (serial 2) goes from the list before the export.
    selectRows(*dlg, {3});
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(columnTexts(*dlg, 0), numbers({5, 4, 3, 1}));

    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(u"history.CSV"_s), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    QCOMPARE(SaveFileDialog::lastRequest()->initialName, kCardIdm + u"_2008-03-05_2008-03-05"_s);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
    const QByteArray csv = fileBytes(dir_->filePath(u"history.CSV"_s));
    const QList<QByteArray> lines = csv.split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < 4; ++i)
        QVERIFY(lines[i].endsWith('\r'));
    // Shop information off: one blank between commas.
    QVERIFY(lines[0].startsWith("5,2008-3-5,"));
    QCOMPARE(lines[0].split(',').at(4), QByteArray(" "));
    // The rail row, to the byte: 渋谷(東横線), the quoted name with its comma, the amount.
    QCOMPARE(lines[2],
             QByteArray("3,2008-3-5,\x89\xfc\x8e\x44\x8b\x40,\x89\x5e\x92\xc0\x8e\x78\x95\xa5,"
                        "\x8f\x61\x92\x4a(\x93\x8c\x89\xa1\x90\xfc),"
                        "\"\x90\x56\x8f\x68(JR\x93\x8c\x93\xfa\x96\x7b,\x8e\x52\x8e\xe8\x90\xfc)\","
                        "160\r"));
    // The oldest row shows its balance in parentheses.
    QVERIFY(lines[3].startsWith("1,"));
    QVERIFY(lines[3].endsWith(",(2530)\r"));
    QVERIFY(!csv.contains("\n2,"));

    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(u"history.TxT"_s), 0});
    QVERIFY(dlg->triggerCommand(ids::SaveToFile));
    const QByteArray txt = fileBytes(dir_->filePath(u"history.TxT"_s));
    QVERIFY(txt.startsWith("5 2008-3-5 "));
    QVERIFY(txt.contains(
        "\x90\x56\x8f\x68(JR\x93\x8c\x93\xfa\x96\x7b,\x8e\x52\x8e\xe8\x90\xfc) 160\r\n"));
    QCOMPARE(txt.count("\r\n"), 4);
    QCOMPARE(txt.count('\n'), 4);
}

// 一覧から隠す takes the selected rows (not the current one) from the list and says so; the
// stored history keeps them, and the next read shows them again.
void TestRowCommands::hidingRows_data()
{
    QTest::addColumn<int>("serials"); // the card holds serials 1 to this
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("three, current row not among them")
        << 8 << 0 << QList<int>{1, 4, 6} << numbers({8, 6, 5, 3, 1});
    QTest::newRow("first and last") << 3 << -1 << QList<int>{0, 2} << numbers({2});
    QTest::newRow("nothing selected") << 5 << 2 << QList<int>{} << numbers({5, 4, 3, 2, 1});
}

void TestRowCommands::hidingRows()
{
    QFETCH(int, serials);
    QFETCH(int, currentRow);
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, left);
    const std::vector<HistoryBlock> blocks = cardBlocks(1, std::uint32_t(serials));
    putCard(QList<HistoryBlock>(blocks.begin(), blocks.end()));
    auto dlg = makeDialog();
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), serials);
    if (currentRow >= 0)
        inside(*dlg).historyList()->setCurrentIndex(
            inside(*dlg).historyModel()->index(currentRow, 0));
    selectRows(*dlg, selected);
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(columnTexts(*dlg, 0), left);
    const QString told = inside(*dlg).statusBar()->currentMessage();
    if (selected.isEmpty())
        QVERIFY2(!told.contains(u"隠しました"_s), qPrintable(told));
    else
        QVERIFY2(told.startsWith(u"%1 行を一覧から隠しました"_s.arg(selected.size())),
                 qPrintable(told));
    QCOMPARE(dlg->session().records().size(), std::size_t(serials));
    QCOMPARE(tableRows(*dlg, CardTableName(kCardIdm)), serials);
    dlg->readCard();
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), serials);
}

void TestRowCommands::hidingRowsWhileRefreshRuns()
{
    HeldNameServer server(
        cp932::encode(QStringLiteral("302,東急,東横,渋谷:304,JR東日本,山手,新宿:"
                                     "202,東急,東横,渋谷:204,JR東日本,山手,新宿:"
                                     "102,東急,東横,渋谷:104,JR東日本,山手,新宿:")));
    QVERIFY(server.listening());
    putCard({railBlock(3, 2050), railBlock(2, 2210), railBlock(1, 2370)});
    ini_->setValue(u"Trfc/nameServer"_s, server.url().toString());
    auto dlg = makeDialog();
    // The reader's own read at start-up, whose refresh waits for the answer.
    QTRY_COMPARE(server.waiting(), 1);
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 3);
    QCOMPARE(cell(*dlg, 1, 4), u"(0, 37, 12)"_s);
    // The middle row goes before the answer is in.
    selectRows(*dlg, {1});
    QVERIFY(dlg->triggerCommand(ids::DeleteRows));
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 2);
    server.release();
    QTRY_COMPARE(cell(*dlg, 0, 4), u"渋谷(東横線)"_s);
    QCOMPARE(columnTexts(*dlg, 0), numbers({3, 1}));
    QCOMPARE(cell(*dlg, 1, 4), u"渋谷(東横線)"_s);
    QCOMPARE(cell(*dlg, 1, 5), u"新宿(山手線)"_s);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

QTEST_MAIN(TestRowCommands)
#include "test_commands_rows.moc"
