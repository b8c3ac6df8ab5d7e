// Card reads in the main window: the rows newest first, stored history joining fresh blocks,
// a failed read, the card put on and taken off the reader, and the context menu over the rows.
#include "card/cardevents.h"
#include "commandfixture.h"
#include "support/cardblocks.h"
#include "testfiles.h"
#include "ui/commandids.h"

#include <QTest>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

using Reads = QList<QList<HistoryBlock>>;

class TestMainWindowReads : public QObject, CommandFixture
{
    Q_OBJECT

private slots:
    void init() { setUpCommands(); }
    void cleanup() { tearDownCommands(); }

    void readsJoinStoredHistory_data();
    void readsJoinStoredHistory();
    void failedReadKeepsRowsAndEmptiesSet();
    void cardOnAndOffTheReader();
    void contextMenuFollowsSelection_data();
    void contextMenuFollowsSelection();
};

// The amount of a row is the older balance less its own; the oldest row shows its balance.
void TestMainWindowReads::readsJoinStoredHistory_data()
{
    QTest::addColumn<Reads>("reads");  // the cards read one after another, newest block first
    QTest::addColumn<bool>("restart"); // the last read in a window of its own
    QTest::addColumn<QStringList>("serials");
    QTest::addColumn<QStringList>("amounts");
    const QList<HistoryBlock> first{railBlock(2, 500), railBlock(1, 700)};
    QTest::newRow("one read, an empty slot")
        << Reads{{railBlock(13, 2800), railBlock(11, 840), railBlock(10, 1000), HistoryBlock{}}}
        << false << QStringList{u"13"_s, u"11"_s, u"10"_s}
        << QStringList{u"-1960"_s, u"160"_s, u"(1000)"_s};
    QTest::newRow("same card twice") << Reads{first, first} << false << QStringList{u"2"_s, u"1"_s}
                                     << QStringList{u"200"_s, u"(700)"_s};
    // Serial 1 is gone from the card, 3 is new, and 2 comes back changed: the stored block wins.
    QTest::newRow("card moved on")
        << Reads{first, {railBlock(3, 300), railBlock(2, 999)}} << false
        << QStringList{u"3"_s, u"2"_s, u"1"_s} << QStringList{u"200"_s, u"200"_s, u"(700)"_s};
    QTest::newRow("after a restart") << Reads{first, {railBlock(4, 100), railBlock(3, 300)}} << true
                                     << QStringList{u"4"_s, u"3"_s, u"2"_s, u"1"_s}
                                     << QStringList{u"200"_s, u"200"_s, u"200"_s, u"(700)"_s};
}

void TestMainWindowReads::readsJoinStoredHistory()
{
    QFETCH(Reads, reads);
    QFETCH(bool, restart);
    QFETCH(QStringList, serials);
    QFETCH(QStringList, amounts);
    auto dlg = makeDialog();
    for (qsizetype i = 0; i < reads.size(); ++i) {
        if (restart && i == reads.size() - 1) {
            dlg.reset();
            dlg = makeDialog();
        }
        putCard(reads[i]);
        dlg->readCard();
    }
    QCOMPARE(columnTexts(*dlg, 0), serials);
    QCOMPARE(columnTexts(*dlg, 6), amounts);
    QCOMPARE(dlg->session().records().size(), std::size_t(serials.size()));
    const QString balance = QString::number(blockBalance(reads.last().first()));
    QCOMPARE(dlg->session().idmText(), kCardIdm);
    QCOMPARE(inside(*dlg).cardIdField()->text(), kCardIdm);
    QCOMPARE(inside(*dlg).statusPaneText(0), kCardIdm);
    QCOMPARE(inside(*dlg).balanceField()->text(), balance);
    QCOMPARE(inside(*dlg).statusPaneText(1), u"残額："_s);
    QCOMPARE(inside(*dlg).statusPaneText(2), balance + u"円"_s);
    QVERIFY(dlg->commandAction(ids::SaveToFile)->isEnabled());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestMainWindowReads::failedReadKeepsRowsAndEmptiesSet()
{
    putCard({railBlock(5, 100), railBlock(4, 200)});
    auto dlg = makeDialog();
    dlg->readCard();
    takeCardOff();
    dlg->readCard();
    QCOMPARE(MessageBox::capturedMessages(), QStringList{kReadFailed});
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 2);
    QVERIFY(dlg->session().records().empty());
    QCOMPARE(inside(*dlg).balanceField()->text(), u"100"_s);
    QCOMPARE(dlg->session().idmText(), kCardIdm);

    // The exports write the rows still shown, in every form.
    const struct
    {
        int filter;
        const char* name;
        QByteArrayList wanted;
    } forms[] = {{0, "list.csv", {"5,", "4,"}},
                 {2, "utf8.csv", {"\r\n5,", "\r\n4,"}},
                 {3, "rows.json", {"\"entries\":2", "\"serial\":5", "\"serial\":4"}}};
    for (const auto& form : forms) {
        const QString path = dir_->filePath(QString::fromLatin1(form.name));
        SaveFileDialog::setNextAnswer(SaveFileAnswer{path, form.filter});
        QVERIFY(dlg->triggerCommand(ids::SaveToFile));
        const QByteArray bytes = fileBytes(path);
        for (const QByteArray& wanted : form.wanted)
            QVERIFY2(bytes.contains(wanted), bytes.constData());
    }
}

// The reader reports the card put on and taken off; the card's data stays until the next read.
void TestMainWindowReads::cardOnAndOffTheReader()
{
    auto dlg = makeDialog();
    dlg->show();
    QVERIFY(dlg->cardEventsEnabled());
    QVERIFY(context_.pollingStarted);
    // A card taken off before any read changes nothing.
    const auto lose =
        QEvent::Type(card::registeredCardEventType(QString::fromLatin1(card::kCardLoseName)));
    QCoreApplication::postEvent(dlg.get(), new QEvent(lose));
    QCoreApplication::processEvents();
    QCOMPARE(inside(*dlg).cardIdField()->text(), QString());
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 0);
    putCard({railBlock(2, 300), railBlock(1, 100)});
    QTRY_COMPARE(inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(inside(*dlg).cardIdField()->text(), kCardIdm);
    takeCardOff();
    QTRY_COMPARE(inside(*dlg).cardIdField()->text(), QString());
    QCOMPARE(inside(*dlg).historyModel()->rowCount(), 2);
    QCOMPARE(inside(*dlg).balanceField()->text(), u"300"_s);
    QCOMPARE(inside(*dlg).statusPaneText(2), u"300円"_s);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

// The menu opens over a selection only; its detail item is there for one row and comes back
// after a menu over several; the record it is about is the one row's, until the next read.
void TestMainWindowReads::contextMenuFollowsSelection_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("detail");
    QTest::addColumn<int>("serial"); // of the record the menu is about; 0 for none
    QTest::newRow("nothing selected") << QList<int>{} << false << 0;
    QTest::newRow("two rows") << QList<int>{0, 2} << false << 0;
    QTest::newRow("one row") << QList<int>{1} << true << 2;
}

void TestMainWindowReads::contextMenuFollowsSelection()
{
    QFETCH(QList<int>, selected);
    QFETCH(bool, detail);
    QFETCH(int, serial);
    putCard({railBlock(3, 100), railBlock(2, 200), railBlock(1, 300)});
    auto dlg = makeDialog();
    dlg->show();
    dlg->readCard();
    QMenu* menu = inside(*dlg).historyContextMenu();
    selectRows(*dlg, {0, 1, 2});
    QVERIFY(inside(*dlg).showHistoryContextMenu(QPoint(100, 100)));
    QVERIFY(!dlg->commandAction(ids::ShowDetail)->isEnabled());
    menu->close();

    selectRows(*dlg, selected);
    const bool shown = inside(*dlg).showHistoryContextMenu(QPoint(100, 100));
    QCOMPARE(shown, !selected.isEmpty());
    QCOMPARE(menu->isVisible(), shown);
    if (shown) {
        QCOMPARE(dlg->commandAction(ids::ShowDetail)->isEnabled(), detail);
        QVERIFY(dlg->commandAction(ids::DeleteRows)->isEnabled());
    }
    const HistoryRecord* record = inside(*dlg).selectedRecord();
    QCOMPARE(record ? int(record->serial) : 0, serial);
    menu->close();
    dlg->readCard();
    QCOMPARE(inside(*dlg).selectedRecord(), nullptr);
}

QTEST_MAIN(TestMainWindowReads)
#include "test_mainwindow_reads.moc"
