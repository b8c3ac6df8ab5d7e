// The context-menu commands on the list: the detail dialog chosen by the record's kind, and the
// deletion of the selected rows.
#include "card/history.h"
#include "dialogcontrols.h"
#include "namedata/namecache.h"
#include "support/cardblocks.h"
#include "ui/listcommands.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QTest>
#include <optional>

using namespace ridelog;
using namespace ridelog::test;
using namespace Qt::StringLiterals;

class TestListCommands : public QObject
{
    Q_OBJECT

private slots:
    void detailChoosesDialogByKind_data();
    void detailChoosesDialogByKind();
    void deleteSelectedRows_data();
    void deleteSelectedRows();
};

// The dialog of the record's kind; none without a record or for a record of no kind, and then
// no name is looked up either.
void TestListCommands::detailChoosesDialogByKind_data()
{
    QTest::addColumn<int>("process"); // -1: no record at all; 0: a record of no kind
    QTest::addColumn<QString>("dialogClass");
    QTest::addColumn<QString>("title");
    QTest::newRow("rail") << 1 << u"ridelog::CIpnDetailDlg"_s << u"鉄道・地下鉄駅 詳細"_s;
    QTest::newRow("bus") << 13 << u"ridelog::CIpnDetailDlg"_s << u"バス停留所 詳細"_s;
    QTest::newRow("shop") << 70 << u"ridelog::CBpnDetailDlg"_s << u"店舗 詳細"_s;
    QTest::newRow("no record") << -1 << QString() << QString();
    QTest::newRow("record of no kind") << 0 << QString() << QString();
}

void TestListCommands::detailChoosesDialogByKind()
{
    QFETCH(int, process);
    QFETCH(QString, dialogClass);
    QFETCH(QString, title);
    NameCaches caches;
    std::optional<HistoryRecord> record;
    if (process > 0)
        record = decodeHistoryBlock(typedBlock(199, std::uint8_t(process), 3, 100, 1, 2, 3, 4),
                                    caches.stations, caches.busStops, caches.shops);
    else if (process == 0)
        record.emplace().kind = RecordKind::None;
    bool looked = false;
    QString openedClass;
    QString openedTitle;
    onNextModal([&](QWidget* modal) {
        looked = true;
        if (modal) {
            openedClass = QString::fromLatin1(modal->metaObject()->className());
            openedTitle = modal->windowTitle();
        }
    });
    showRecordDetail(nullptr, record ? &*record : nullptr, caches.stations, caches.busStops,
                     caches.shops);
    // A dialog is looked at from inside its own event loop; without one, once the loop runs.
    QTRY_VERIFY(looked);
    QCOMPARE(openedClass, dialogClass);
    QCOMPARE(openedTitle, title);
    if (dialogClass.isEmpty())
        QVERIFY(caches.stations.empty() && caches.busStops.empty());
}

void TestListCommands::deleteSelectedRows_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("currentRow");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("left");
    // The rows are numbered 100, 99, ... from the top.
    QTest::newRow("three, out of order")
        << 8 << -1 << QList<int>{6, 1, 3}
        << QStringList{u"100"_s, u"98"_s, u"96"_s, u"95"_s, u"93"_s};
    QTest::newRow("one, not the current row")
        << 4 << 0 << QList<int>{2} << QStringList{u"100"_s, u"99"_s, u"97"_s};
    QTest::newRow("nothing selected, only a current row")
        << 3 << 1 << QList<int>{} << QStringList{u"100"_s, u"99"_s, u"98"_s};
}

void TestListCommands::deleteSelectedRows()
{
    QFETCH(int, rows);
    QFETCH(int, currentRow);
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, left);
    QStandardItemModel model(0, 7);
    for (int row = 0; row < rows; ++row)
        model.appendRow(new QStandardItem(QString::number(100 - row)));
    QItemSelectionModel selection(&model);
    if (currentRow >= 0)
        selection.setCurrentIndex(model.index(currentRow, 0), QItemSelectionModel::NoUpdate);
    for (const int row : selected)
        selection.select(model.index(row, 0),
                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QCOMPARE(ridelog::deleteSelectedRows(model, selection), int(selected.size()));
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, 0).data().toString());
    QCOMPARE(texts, left);
}

QTEST_MAIN(TestListCommands)
#include "test_listcommands.moc"
