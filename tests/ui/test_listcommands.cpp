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

using namespace ridelog;
using namespace ridelog::test;

class TestListCommands : public QObject
{
    Q_OBJECT

private slots:
    void detailChoosesDialogByKind_data();
    void detailChoosesDialogByKind();
    void detailWithoutRecordOpensNothing();
    void deleteSelectedRows_data();
    void deleteSelectedRows();

private:
    NameCaches caches_;
};

void TestListCommands::detailChoosesDialogByKind_data()
{
    QTest::addColumn<int>("process");
    QTest::addColumn<QString>("dialogClass");
    QTest::addColumn<QString>("title");
    QTest::newRow("rail") << 1 << QStringLiteral("ridelog::CIpnDetailDlg")
                          << QStringLiteral("鉄道・地下鉄駅 詳細");
    QTest::newRow("bus") << 13 << QStringLiteral("ridelog::CIpnDetailDlg")
                         << QStringLiteral("バス停留所 詳細");
    QTest::newRow("shop") << 70 << QStringLiteral("ridelog::CBpnDetailDlg")
                          << QStringLiteral("店舗 詳細");
}

void TestListCommands::detailChoosesDialogByKind()
{
    QFETCH(int, process);
    QFETCH(QString, dialogClass);
    QFETCH(QString, title);
    const HistoryRecord record =
        decodeHistoryBlock(typedBlock(199, std::uint8_t(process), 3, 100, 1, 2, 3, 4),
                           caches_.stations, caches_.busStops, caches_.shops);
    QString openedClass;
    QString openedTitle;
    onNextModal([&](QWidget* modal) {
        if (modal) {
            openedClass = QString::fromLatin1(modal->metaObject()->className());
            openedTitle = modal->windowTitle();
        }
    });
    showRecordDetail(nullptr, &record, caches_.stations, caches_.busStops, caches_.shops);
    QCOMPARE(openedClass, dialogClass);
    QCOMPARE(openedTitle, title);
}

void TestListCommands::detailWithoutRecordOpensNothing()
{
    caches_ = NameCaches();
    bool looked = false;
    bool opened = false;
    onNextModal([&](QWidget* modal) {
        looked = true;
        opened = modal != nullptr;
    });
    showRecordDetail(nullptr, nullptr, caches_.stations, caches_.busStops, caches_.shops);
    HistoryRecord noKind;
    noKind.kind = RecordKind::None;
    showRecordDetail(nullptr, &noKind, caches_.stations, caches_.busStops, caches_.shops);
    // A dialog would have been looked at from inside its own event loop, before the return.
    QTRY_VERIFY(looked);
    QVERIFY(!opened);
    QVERIFY(caches_.stations.empty());
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
        << QStringList{QStringLiteral("100"), QStringLiteral("98"), QStringLiteral("96"),
                       QStringLiteral("95"), QStringLiteral("93")};
    QTest::newRow("one, not the current row")
        << 4 << 0 << QList<int>{2}
        << QStringList{QStringLiteral("100"), QStringLiteral("99"), QStringLiteral("97")};
    QTest::newRow("nothing selected, only a current row")
        << 3 << 1 << QList<int>{}
        << QStringList{QStringLiteral("100"), QStringLiteral("99"), QStringLiteral("98")};
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
