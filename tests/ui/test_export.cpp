// The command "ファイルに保存(&S)": the save dialog and what lands in the file.
#include "namedata/namecache.h"
#include "support/smallfilesystem.h"
#include "testfiles.h"
#include "ui/historyexport.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ridelog;

using ridelog::test::fileBytes;
using ridelog::test::SmallFileSystem;

namespace {

const QString kIdm = QStringLiteral("0114A1B2C3D4E5F6");

void appendRow(QStandardItemModel& model, const QStringList& texts)
{
    QList<QStandardItem*> items;
    for (const QString& text : texts)
        items.append(new QStandardItem(text));
    model.appendRow(items);
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void saveRequest();
    void fileDialogSetup();
    void fileDialogSuffixFollowsFilter();
    void fileDialogAsksBeforeOverwriting();

    void separatorByExtension_data();
    void separatorByExtension();
    void nameWithoutExtensionGetsFilterExtension();
    void otherExtensionWrittenInSelectedFormat();
    void cancelWritesNothing();
    void readOnlyTargetIsReported();
    void fullDiskIsReported_data();
    void fullDiskIsReported();
    void expenseFormatsFollowTheFilter_data();
    void expenseFormatsFollowTheFilter();

private:
    void exportAs(const QString& name, int filterIndex);

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<QStandardItemModel> list_;
};

void TestExport::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    list_ = std::make_unique<QStandardItemModel>(0, 7);
    appendRow(*list_, {QStringLiteral("13"), QStringLiteral("2008-3-6"), QStringLiteral("改札機"),
                       QStringLiteral("運賃支払"), QStringLiteral("渋谷"), QStringLiteral("新宿"),
                       QStringLiteral("-160")});
    appendRow(*list_, {QStringLiteral("12"), QStringLiteral("2008-3-5"), QStringLiteral("物販端末"),
                       QStringLiteral("物販"), QStringLiteral(" "), QStringLiteral("12:16"),
                       QStringLiteral("(1520)")});
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
    SaveFileDialog::setScripted(true);
}

void TestExport::cleanup()
{
    SaveFileDialog::setScripted(false);
    MessageBox::setCapturing(false);
    list_.reset();
    dir_.reset();
}

void TestExport::exportAs(const QString& name, int filterIndex)
{
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(name), filterIndex});
    exportHistoryList(nullptr, *list_, kIdm);
}

void TestExport::saveRequest()
{
    const SaveFileRequest request = exportSaveRequest(kIdm);
    QCOMPARE(request.initialName, kIdm);
    QCOMPARE(request.filters, (QStringList{QStringLiteral("CSV (カンマ区切り) (*csv)"),
                                           QStringLiteral("テキスト形式(*.txt)"),
                                           QStringLiteral("CSV UTF-8 見出し付き (*.csv)"),
                                           QStringLiteral("JSON (*.json)")}));
    QCOMPARE(request.suffixes, (QStringList{QStringLiteral("csv"), QStringLiteral("txt"),
                                            QStringLiteral("csv"), QStringLiteral("json")}));
    QCOMPARE(request.selectedFilter, 0);

    exportHistoryList(nullptr, *list_, kIdm); // scripted without an answer: a cancel
    QVERIFY(SaveFileDialog::lastRequest().has_value());
    QCOMPARE(SaveFileDialog::lastRequest()->filters, request.filters);
    QCOMPARE(SaveFileDialog::lastRequest()->initialName, kIdm);
}

void TestExport::fileDialogSetup()
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDirectory(dir_->path());
    SaveFileDialog::configure(dialog, exportSaveRequest(kIdm));
    QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(!dialog.testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(dialog.nameFilters(), exportSaveRequest(kIdm).filters);
    QCOMPARE(dialog.selectedNameFilter(), QStringLiteral("CSV (カンマ区切り) (*csv)"));
    QCOMPARE(dialog.defaultSuffix(), QStringLiteral("csv"));
    // The card's id is the name offered; accepted as it is, it gets the filter's extension.
    auto* nameEdit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(nameEdit);
    QCOMPARE(nameEdit->text(), kIdm);
    QVERIFY(!dialog.selectedFiles().isEmpty());
    QCOMPARE(QFileInfo(dialog.selectedFiles().constFirst()).fileName(),
             kIdm + QStringLiteral(".csv"));
}

void TestExport::fileDialogSuffixFollowsFilter()
{
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    SaveFileDialog::configure(dialog, exportSaveRequest(QString()));
    dialog.selectNameFilter(QStringLiteral("テキスト形式(*.txt)"));
    emit dialog.filterSelected(QStringLiteral("テキスト形式(*.txt)"));
    QCOMPARE(dialog.defaultSuffix(), QStringLiteral("txt"));
    emit dialog.filterSelected(QStringLiteral("CSV (カンマ区切り) (*csv)"));
    QCOMPARE(dialog.defaultSuffix(), QStringLiteral("csv"));
}

void TestExport::fileDialogAsksBeforeOverwriting()
{
    SaveFileDialog::setScripted(false);
    const QString existing = dir_->filePath(QStringLiteral("history.csv"));
    {
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QString question;
    // Type the name without extension, accept, and say yes to the question that follows.
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(dir_->filePath(QStringLiteral("history")));
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            question = box->text();
            box->button(QMessageBox::Yes)->click();
        });
        QMetaObject::invokeMethod(dialog, "accept");
    });
    const auto answer = SaveFileDialog::ask(nullptr, exportSaveRequest(kIdm));
    QVERIFY(!question.isEmpty());
    QVERIFY(question.contains(QStringLiteral("history.csv")));
    QVERIFY(answer.has_value());
    QCOMPARE(answer->path, existing);
    QCOMPARE(answer->filterIndex, 0);
}

void TestExport::separatorByExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray csv("13,2008-3-6,\x89\xfc\x8e\x44\x8b\x40,\x89\x5e\x92\xc0\x8e\x78\x95\xa5,"
                         "\x8f\x61\x92\x4a,\x90\x56\x8f\x68,-160\r\n"
                         "12,2008-3-5,\x95\xa8\x94\xcc\x92\x5b\x96\x96,\x95\xa8\x94\xcc, ,"
                         "12:16,(1520)\r\n");
    QByteArray txt = csv;
    txt.replace(',', ' ');
    QTest::newRow("history.CSV") << QStringLiteral("history.CSV") << 0 << csv;
    QTest::newRow("history.CSV, text filter") << QStringLiteral("history.CSV") << 1 << csv;
    QTest::newRow("history.TxT") << QStringLiteral("history.TxT") << 1 << txt;
    QTest::newRow("history.TxT, csv filter") << QStringLiteral("history.TxT") << 0 << txt;
}

void TestExport::separatorByExtension()
{
    QFETCH(QString, name);
    QFETCH(int, filter);
    QFETCH(QByteArray, bytes);
    exportAs(name, filter);
    QCOMPARE(fileBytes(dir_->filePath(name)), bytes);
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestExport::nameWithoutExtensionGetsFilterExtension()
{
    exportAs(kIdm, 1);
    QVERIFY(!QFile::exists(dir_->filePath(kIdm)));
    const QByteArray bytes = fileBytes(dir_->filePath(kIdm + QStringLiteral(".txt")));
    QVERIFY(bytes.startsWith("13 2008-3-6 "));
    QCOMPARE(bytes.count("\r\n"), 2);

    exportAs(kIdm, 0);
    QVERIFY(fileBytes(dir_->filePath(kIdm + QStringLiteral(".csv"))).startsWith("13,2008-3-6,"));
}

void TestExport::otherExtensionWrittenInSelectedFormat()
{
    exportAs(QStringLiteral("history.dat"), 0);
    const QByteArray bytes = fileBytes(dir_->filePath(QStringLiteral("history.dat")));
    QVERIFY(bytes.startsWith("13,2008-3-6,"));
    QVERIFY(bytes.endsWith("12:16,(1520)\r\n"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestExport::cancelWritesNothing()
{
    SaveFileDialog::setNextAnswer(std::nullopt);
    exportHistoryList(nullptr, *list_, kIdm);
    QVERIFY(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

void TestExport::readOnlyTargetIsReported()
{
    const QString path = dir_->filePath(QStringLiteral("history.csv"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old\r\n");
    }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    exportAs(QStringLiteral("history.csv"), 0);
    QCOMPARE(
        MessageBox::capturedMessages(),
        QStringList{QStringLiteral("ファイルを作成できません。\r\n書き込む権限がありません。\r\n") +
                    path});
    QCOMPARE(fileBytes(path), QByteArray("old\r\n"));

    MessageBox::clearCaptured();
    exportAs(QStringLiteral("missing/history.csv"), 0);
    QCOMPARE(
        MessageBox::capturedMessages(),
        QStringList{QStringLiteral("ファイルを作成できません。\r\nフォルダがありません。\r\n") +
                    dir_->filePath(QStringLiteral("missing/history.csv"))});
}

void TestExport::fullDiskIsReported_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<qint64>("leftFree");
    for (const auto& [name, filter] : {std::pair{"list csv", 0}, std::pair{"list text", 1},
                                       std::pair{"utf-8 csv", 2}, std::pair{"json", 3}}) {
        QTest::addRow("%s, 100 %% full", name) << filter << qint64(0);
        QTest::addRow("%s, 8 KiB left", name) << filter << qint64(8 * 1024);
    }
}

// An export that does not fit is never taken for saved: the box says why and where, and the
// previous file is left as it was.
void TestExport::fullDiskIsReported()
{
    QFETCH(int, filter);
    QFETCH(qint64, leftFree);
    SmallFileSystem disk(256 * 1024);
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.whyNotMounted()));
    NameCaches caches;
    HistoryRecordSet records;
    list_->removeRows(0, list_->rowCount());
    for (int serial = 400; serial >= 1; --serial) {
        appendRow(*list_,
                  {QString::number(serial), QStringLiteral("2008-3-5"), QStringLiteral("改札機"),
                   QStringLiteral("運賃支払"), QStringLiteral("ＪＲ東 山手 渋谷"),
                   QStringLiteral("ＪＲ東 山手 新宿"), QStringLiteral("-160")});
        HistoryBlock block{};
        block[0] = 22;
        block[1] = 1;
        block[13] = std::uint8_t(serial >> 8);
        block[14] = std::uint8_t(serial);
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    }
    const QString path = disk.filePath(kIdm + QStringLiteral(".out"));
    const QByteArray old("the export of last month\r\n");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    QVERIFY(disk.fillLeaving(leftFree));

    SaveFileDialog::setNextAnswer(SaveFileAnswer{path, filter});
    exportHistoryList(nullptr, *list_, kIdm, {&records, &caches, std::nullopt});

    QCOMPARE(MessageBox::capturedMessages(),
             QStringList{QStringLiteral("ファイルに書き込めませんでした。\r\n"
                                        "ディスクの空き容量が足りません。\r\n") +
                         path});
    QCOMPARE(fileBytes(path), old);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{kIdm + QStringLiteral(".out"), QStringLiteral("filler")}));
}

void TestExport::expenseFormatsFollowTheFilter_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QByteArray>("start");
    const QByteArray bom("\xEF\xBB\xBFserial,date,");
    QTest::newRow("utf-8 csv") << QStringLiteral("a.csv") << 2 << QStringLiteral("a.csv") << bom;
    QTest::newRow("utf-8 csv, .txt")
        << QStringLiteral("a.txt") << 2 << QStringLiteral("a.txt") << bom;
    QTest::newRow("utf-8 csv, no extension") << kIdm << 2 << kIdm + QStringLiteral(".csv") << bom;
    QTest::newRow("json") << kIdm << 3 << kIdm + QStringLiteral(".json")
                          << QByteArray("{\"card\":{\"idm\":\"0114A1B2C3D4E5F6\",\"entries\":2,");
}

// The new forms take the records behind the rows, in the list's order, and only those rows.
void TestExport::expenseFormatsFollowTheFilter()
{
    QFETCH(QString, name);
    QFETCH(int, filter);
    QFETCH(QString, written);
    QFETCH(QByteArray, start);
    NameCaches caches;
    HistoryRecordSet records;
    for (const std::uint32_t serial : {11u, 12u, 13u}) {
        HistoryBlock block{};
        block[0] = 22;
        block[1] = 1;
        block[10] = std::uint8_t(0xFF - serial);
        block[14] = std::uint8_t(serial);
        records.insert(decodeHistoryBlock(block, caches.stations, caches.busStops, caches.shops));
    }
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(name), filter});
    exportHistoryList(nullptr, *list_, kIdm, {&records, &caches, std::nullopt});
    const QByteArray bytes = fileBytes(dir_->filePath(written));
    QVERIFY2(bytes.startsWith(start), bytes.left(80).constData());
    QVERIFY(bytes.indexOf("13") < bytes.lastIndexOf("12"));
    QVERIFY(!bytes.contains("\n11,") && !bytes.contains("\"serial\":11"));
    QVERIFY(MessageBox::capturedMessages().isEmpty());
}

QTEST_MAIN(TestExport)
#include "test_export.moc"
