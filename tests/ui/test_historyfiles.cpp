// Backups, restore and taking in other histories from the main window: the backup after a read,
// the sign of a failed one, the restore's question, and the list after the database changed.
#include "store/backups.h"
#include "support/historyfixture.h"
#include "support/windowaccess.h"
#include "testfiles.h"
#include "ui/commandids.h"
#include "ui/historyfilecommands.h"
#include "ui/messagebox.h"
#include "ui/openfiledialog.h"
#include "windowfixture.h"

#include <QLabel>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

namespace {

QList<HistoryBlock> onCard(std::uint32_t first, int count)
{
    QList<HistoryBlock> blocks;
    for (const HistoryBlock& block : historyEntries(first, count))
        blocks.prepend(block);
    return blocks;
}

} // namespace

class TestHistoryFiles : public QObject, public WindowFixture
{
    Q_OBJECT

    QString database() const
    {
        return HistoryStore::dataFolderPath() + HistoryStore::databaseFileName();
    }
    QString backups() const { return HistoryStore::dataFolderPath() + QStringLiteral("backups/"); }

    std::unique_ptr<CRidelogDlg> windowAfterRead(const QList<HistoryBlock>& blocks)
    {
        putCard(blocks);
        auto dlg = makeWindow();
        dlg->readCard();
        return dlg;
    }

private slots:
    void init()
    {
        setUpWindow();
        MessageBox::setCapturing(true);
        MessageBox::clearCaptured();
        OpenFileDialog::setScripted(true);
    }

    void cleanup()
    {
        OpenFileDialog::setScripted(false);
        MessageBox::setCapturing(false);
        tearDownWindow();
    }

    void aReadThatStoredSomethingIsBackedUpOncePerHour()
    {
        auto dlg = windowAfterRead(onCard(1, 20));
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 20);
        BackupScheduler& scheduler = test::inside(*dlg).historyFileCommands()->scheduler();
        QTRY_VERIFY(!scheduler.isRunning());
        QCOMPARE(listBackups(backups()).size(), std::size_t(1));
        QVERIFY(!test::inside(*dlg).historyFileCommands()->failureSign()->isVisibleTo(dlg.get()));
        putCard(onCard(5, 20));
        dlg->readCard();
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 24);
        QVERIFY(!scheduler.isRunning());
        QCOMPARE(listBackups(backups()).size(), std::size_t(1));
    }

    void aFailedBackupShowsItsSignAndTheReadGoesOn()
    {
        ini_->setValue(QStringLiteral("Backup/folder"), dir_->filePath(QStringLiteral("nas/gone")));
        auto dlg = windowAfterRead(onCard(1, 20));
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 20);
        QLabel* sign = test::inside(*dlg).historyFileCommands()->failureSign();
        QTRY_VERIFY(sign->isVisibleTo(dlg.get()));
        QCOMPARE(sign->text(), QStringLiteral("バックアップできません"));
        QVERIFY2(sign->toolTip().contains(QStringLiteral("does not exist")),
                 qPrintable(sign->toolTip()));
        QVERIFY(!QFileInfo::exists(dir_->filePath(QStringLiteral("nas"))));
        QCOMPARE(storedRowCount(database(), kCardIdm), qint64(20));
    }

    void restoreAsksNamingTheBackupAndReloadsTheList()
    {
        auto dlg = windowAfterRead(onCard(1, 20));
        QTRY_VERIFY(!test::inside(*dlg).historyFileCommands()->scheduler().isRunning());
        const QString backup = listBackups(backups()).front().path;
        putCard(onCard(11, 20));
        dlg->readCard();
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 30);

        OpenFileDialog::setNextAnswer({backup});
        MessageBox::setNextAnswers({false});
        QVERIFY(dlg->triggerCommand(ids::RestoreBackup));
        QCOMPARE(OpenFileDialog::lastRequest().folder, backups());
        QVERIFY2(MessageBox::capturedMessages().value(0).contains(
                     QStringLiteral("カード 1 枚、履歴 20 件")),
                 qPrintable(MessageBox::capturedMessages().value(0)));
        QCOMPARE(storedRowCount(database(), kCardIdm), qint64(30));

        MessageBox::clearCaptured();
        OpenFileDialog::setNextAnswer({backup});
        MessageBox::setNextAnswers({true});
        QVERIFY(dlg->triggerCommand(ids::RestoreBackup));
        QVERIFY(
            MessageBox::capturedMessages().value(1).startsWith(QStringLiteral("復元しました。")));
        QCOMPARE(storedRowCount(database(), kCardIdm), qint64(20));
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 20);
        QVERIFY(dlg->windowTitle().contains(QStringLiteral("保存された履歴")));
    }

    void restoreRefusesAFileThatIsNoHistory()
    {
        auto dlg = windowAfterRead(onCard(1, 20));
        const QString letter = dir_->filePath(QStringLiteral("letter.sqlite"));
        QVERIFY(writeFile(letter, "Dear Sir"));
        const QByteArray before = fileBytes(database());
        OpenFileDialog::setNextAnswer({letter});
        QVERIFY(dlg->triggerCommand(ids::RestoreBackup));
        QCOMPARE(MessageBox::capturedMessages().size(), 1);
        QVERIFY(MessageBox::capturedDetails().value(0).contains(QStringLiteral("not a database")));
        QCOMPARE(fileBytes(letter), QByteArray("Dear Sir"));
        QCOMPARE(fileBytes(database()), before);
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 20);
    }

    void takingInAHistoryAndADumpRefreshesTheList()
    {
        auto dlg = windowAfterRead(onCard(21, 20));
        const QString other = dir_->filePath(QStringLiteral("work-ekdb.sqlite"));
        HistoryFileWriter(other).card(kCardIdm, historyEntries(1, 25));
        const QString dump = dir_->filePath(QStringLiteral("student.nfc"));
        QVERIFY(writeFile(
            dump, flipperNfcFile(QStringLiteral("01010A10E41A9F02"), historyEntries(100, 5))));
        OpenFileDialog::setNextAnswer({other, dump});
        QVERIFY(dlg->triggerCommand(ids::TakeInHistory));
        QVERIFY(OpenFileDialog::lastRequest().manyFiles);
        QVERIFY2(MessageBox::capturedMessages().value(0).contains(QStringLiteral("履歴 25 件")),
                 qPrintable(MessageBox::capturedMessages().value(0)));
        QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 40);
        QCOMPARE(storedRowCount(database(), QStringLiteral("01010A10E41A9F02")), qint64(5));
    }
};

QTEST_MAIN(TestHistoryFiles)
#include "test_historyfiles.moc"
