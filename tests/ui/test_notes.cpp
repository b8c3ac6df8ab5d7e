// Purposes and claim marks in the window: the 用途 column, its editing, the search, the exports
// and the claim form dialog.
#include "store/notestore.h"
#include "support/cardblocks.h"
#include "support/gatehistory.h"
#include "support/pdftext.h"
#include "support/windowaccess.h"
#include "ui/claimformdlg.h"
#include "ui/commandids.h"
#include "ui/historyexport.h"
#include "ui/historylist.h"
#include "ui/historysearchbar.h"
#include "ui/journeynotes.h"
#include "ui/messagebox.h"
#include "ui/notedlg.h"
#include "ui/savefiledialog.h"
#include "windowfixture.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRadioButton>
#include <QTest>

using namespace ridelog;
using namespace ridelog::test;

namespace {

// Twelve rides of a commuter between two named stations, a bus and a charge, newest first.
QList<HistoryBlock> commuterCard()
{
    QList<HistoryBlock> blocks;
    int balance = 3000;
    for (std::uint32_t serial = 40; serial > 26; --serial) {
        if (serial == 30)
            blocks.append(typedBlock(8, 2, serial, balance, 0x25, 0x0C, 0, 0)); // チャージ
        else if (serial == 35)
            blocks.append(busBlock(serial, balance));
        else
            blocks.append(railBlock(serial, balance));
        balance += serial == 30 ? -2000 : 200;
    }
    return blocks;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestNotes : public QObject, public WindowFixture
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void purposeFollowsTheEntryThroughReadsSortingAndRestart();
    void editingAppliesToEverySelectedRow();
    void checkBoxAndMarkCommandStoreTheMark();
    void searchFindsPurposesAndMarkedRows();
    void listFormatsStayAsTheyWere();
    void columnWidthAndVisibilityKeptApart();
    void damagedNotesTableIsLeftAlone();
    void claimFormDialogMakesPdfAndTellsFailures();
    void gateTimesInTheTimeColumnTheExportAndTheClaimForm();

private:
    std::unique_ptr<CRidelogDlg> readWindow();
    void selectSerials(CRidelogDlg& dlg, const std::set<std::uint32_t>& serials);
    // The text of a column in the row of a serial, "-" when the serial shows no row.
    QString cellOf(const CRidelogDlg& dlg, std::uint32_t serial, int column);
    QString purposeOf(const CRidelogDlg& dlg, std::uint32_t serial)
    {
        return cellOf(dlg, serial, PurposeColumn);
    }
    void waitForWrites(CRidelogDlg& dlg);
};

void TestNotes::init()
{
    setUpWindow();
    MessageBox::setCapturing(true);
    MessageBox::clearCaptured();
    SaveFileDialog::setScripted(true);
}

void TestNotes::cleanup()
{
    SaveFileDialog::setScripted(false);
    MessageBox::setCapturing(false);
    tearDownWindow();
}

std::unique_ptr<CRidelogDlg> TestNotes::readWindow()
{
    putCard(commuterCard());
    auto dlg = makeWindow();
    dlg->readCard();
    return dlg;
}

void TestNotes::selectSerials(CRidelogDlg& dlg, const std::set<std::uint32_t>& serials)
{
    QItemSelectionModel* selection = test::inside(dlg).historyList()->selectionModel();
    selection->clearSelection();
    const QAbstractItemModel* model = test::inside(dlg).historyModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (serials.contains(serialOfRow(*model, row)))
            selection->select(model->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QString TestNotes::cellOf(const CRidelogDlg& dlg, std::uint32_t serial, int column)
{
    const QAbstractItemModel* model = test::inside(dlg).historyModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        if (serialOfRow(*model, row) == serial)
            return model->index(row, column).data().toString();
    }
    return QStringLiteral("-");
}

void TestNotes::waitForWrites(CRidelogDlg& dlg)
{
    QVERIFY(QTest::qWaitFor([&] { return !test::inside(dlg).journeyNotes()->isWriting(); }, 5000));
}

void TestNotes::purposeFollowsTheEntryThroughReadsSortingAndRestart()
{
    {
        auto dlg = readWindow();
        QCOMPARE(
            test::inside(*dlg).historyModel()->headerData(PurposeColumn, Qt::Horizontal).toString(),
            QStringLiteral("用途"));
        selectSerials(*dlg, {33});
        QVERIFY(
            test::inside(*dlg).applyNoteToSelection(NoteChange{QStringLiteral("A社打合せ"), true}));
        // Shown at once, before it is stored.
        QCOMPARE(purposeOf(*dlg, 33), QStringLiteral("A社打合せ"));
        waitForWrites(*dlg);
        QVERIFY(MessageBox::capturedMessages().isEmpty());
        test::inside(*dlg).historyList()->header()->sectionClicked(AmountColumn);
        QCOMPARE(purposeOf(*dlg, 33), QStringLiteral("A社打合せ"));
        QCOMPARE(purposeOf(*dlg, 34), QString());
        dlg->readCard();
        QCOMPARE(purposeOf(*dlg, 33), QStringLiteral("A社打合せ"));
    }
    // Stored: a new window shows it, and so does the card library's view of the card.
    auto dlg = readWindow();
    QCOMPARE(purposeOf(*dlg, 33), QStringLiteral("A社打合せ"));
    QVERIFY(dlg->showStoredCard(kCardIdm));
    QCOMPARE(purposeOf(*dlg, 33), QStringLiteral("A社打合せ"));
    const NoteStore store(dlg->session().store().databasePath());
    QVERIFY(store.notesOf(kCardIdm).notes.at(33).claimed);
}

void TestNotes::editingAppliesToEverySelectedRow()
{
    auto dlg = readWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    selectSerials(*dlg, {31, 32, 36});
    // F2 opens the dialog for the selection.
    test::inside(*dlg).historyList()->setFocus();
    QTest::keyClick(test::inside(*dlg).historyList(), Qt::Key_F2);
    auto* note = dlg->findChild<CNoteDlg*>();
    QVERIFY(note != nullptr);
    QVERIFY(note->isVisible());
    note->purposeField()->setText(QStringLiteral("  研修\t(本社)  "));
    note->claimBox()->setChecked(true);
    note->accept();
    waitForWrites(*dlg);
    for (const std::uint32_t serial : {31u, 32u, 36u})
        QCOMPARE(purposeOf(*dlg, serial), QStringLiteral("研修 (本社)"));
    QCOMPARE(purposeOf(*dlg, 33), QString());

    // Mixed purposes: the field starts empty and the purposes stay as they are when it is
    // left so; the mark then applies to all.
    selectSerials(*dlg, {33});
    QVERIFY(test::inside(*dlg).applyNoteToSelection(NoteChange{QStringLiteral("客先"), false}));
    selectSerials(*dlg, {32, 33});
    QVERIFY(dlg->triggerCommand(ids::EditPurpose));
    note = dlg->findChild<CNoteDlg*>();
    QVERIFY(note != nullptr);
    QCOMPARE(note->purposeField()->text(), QString());
    QCOMPARE(note->claimBox()->checkState(), Qt::PartiallyChecked);
    note->claimBox()->click();
    note->accept();
    waitForWrites(*dlg);
    QCOMPARE(purposeOf(*dlg, 32), QStringLiteral("研修 (本社)"));
    QCOMPARE(purposeOf(*dlg, 33), QStringLiteral("客先"));
    const CardNotes stored =
        NoteStore(dlg->session().store().databasePath()).notesOf(kCardIdm).notes;
    QCOMPARE(stored.at(32).claimed, stored.at(33).claimed);

    // A double-click on the purpose edits it; elsewhere it opens the details.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dlg->findChild<CNoteDlg*>() == nullptr);
    const QAbstractItemModel* model = test::inside(*dlg).historyModel();
    test::inside(*dlg).historyList()->scrollTo(model->index(2, PurposeColumn));
    const QRect purposeCell =
        test::inside(*dlg).historyList()->visualRect(model->index(2, PurposeColumn));
    // As a mouse sends it: a click, then the second press as a double-click.
    QTest::mouseClick(test::inside(*dlg).historyList()->viewport(), Qt::LeftButton, {},
                      purposeCell.center());
    QTest::mouseDClick(test::inside(*dlg).historyList()->viewport(), Qt::LeftButton, {},
                       purposeCell.center());
    QVERIFY(QTest::qWaitFor([&] { return dlg->findChild<CNoteDlg*>() != nullptr; }, 2000));
    dlg->findChild<CNoteDlg*>()->reject();
    dlg->reject();
}

void TestNotes::checkBoxAndMarkCommandStoreTheMark()
{
    auto dlg = readWindow();
    QAbstractItemModel* model = test::inside(*dlg).historyModel();
    const QModelIndex top = model->index(0, PurposeColumn);
    QVERIFY(model->flags(top) & Qt::ItemIsUserCheckable);
    QCOMPARE(top.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Unchecked);
    QVERIFY(model->setData(top, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(top.data(Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    waitForWrites(*dlg);
    const NoteStore store(dlg->session().store().databasePath());
    QVERIFY(store.notesOf(kCardIdm).notes.at(40).claimed);

    // 精算にチェック marks a selection, and unmarks it once all of it is marked.
    selectSerials(*dlg, {40, 39, 38});
    QVERIFY(dlg->triggerCommand(ids::ToggleClaim));
    waitForWrites(*dlg);
    QCOMPARE(store.noteCount(kCardIdm), 3);
    QVERIFY(dlg->triggerCommand(ids::ToggleClaim));
    waitForWrites(*dlg);
    QCOMPARE(store.noteCount(kCardIdm), 0);
}

void TestNotes::searchFindsPurposesAndMarkedRows()
{
    auto dlg = readWindow();
    selectSerials(*dlg, {31, 35});
    QVERIFY(test::inside(*dlg).applyNoteToSelection(
        NoteChange{QStringLiteral("B社 納品"), std::nullopt}));
    selectSerials(*dlg, {35, 37});
    QVERIFY(test::inside(*dlg).applyNoteToSelection(NoteChange{std::nullopt, true}));
    waitForWrites(*dlg);
    QVERIFY(dlg->triggerCommand(ids::Search));
    HistorySearchBar* bar = test::inside(*dlg).searchBar();
    bar->textField()->setText(QStringLiteral("b社"));
    bar->applyNow();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    bar->claimedOnlyBox()->setChecked(true);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 1);
    QCOMPARE(serialOfRow(*test::inside(*dlg).historyModel(), 0), 35u);
    bar->textField()->clear();
    bar->applyNow();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 2);
    bar->dismiss();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 14);
}

void TestNotes::listFormatsStayAsTheyWere()
{
    auto dlg = readWindow();
    const auto exportAs = [&](const QString& name, ExportFilter filter) {
        SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(name), int(filter)});
        dlg->triggerCommand(ids::SaveToFile);
        return fileBytes(dir_->filePath(name));
    };
    const QByteArray csvBefore = exportAs(QStringLiteral("before.csv"), ExportFilter::ListCsv);
    const QByteArray txtBefore = exportAs(QStringLiteral("before.txt"), ExportFilter::ListText);
    selectSerials(*dlg, {36});
    QVERIFY(test::inside(*dlg).applyNoteToSelection(
        NoteChange{QStringLiteral("会議, \"定例\""), true}));
    waitForWrites(*dlg);
    QCOMPARE(exportAs(QStringLiteral("after.csv"), ExportFilter::ListCsv), csvBefore);
    QCOMPARE(exportAs(QStringLiteral("after.txt"), ExportFilter::ListText), txtBefore);
    QCOMPARE(csvBefore.count('\n'), 14);
    const QByteArray utf8 = exportAs(QStringLiteral("utf8.csv"), ExportFilter::Utf8Csv);
    QVERIFY(utf8.contains(",012E44A0B1C2D3E4,\"会議, \"\"定例\"\"\",true,,\r\n"));
    QCOMPARE(utf8.count(",012E44A0B1C2D3E4,,false,"), 13);
    const QByteArray json = exportAs(QStringLiteral("all.json"), ExportFilter::Json);
    QVERIFY(json.contains("\"purpose\":\"会議, "
                          "\\\"定例\\\"\",\"claim\":true,\"entry_time\":null,\"exit_time\":null}"));
}

void TestNotes::columnWidthAndVisibilityKeptApart()
{
    {
        auto dlg = readWindow();
        QVERIFY(!test::inside(*dlg).historyList()->isColumnHidden(PurposeColumn));
        test::inside(*dlg).historyList()->header()->resizeSection(PurposeColumn, 211);
        dlg->close();
    }
    ini_->sync();
    QCOMPARE(ini_->value(QStringLiteral("Claims/purposeColumnWidth")).toInt(), 211);
    QVERIFY(!ini_->contains(QStringLiteral("Trfc/col7")));
    {
        auto dlg = makeWindow();
        QCOMPARE(test::inside(*dlg).historyList()->header()->sectionSize(PurposeColumn), 211);
        QVERIFY(dlg->triggerCommand(ids::PurposeColumnView));
        QVERIFY(test::inside(*dlg).historyList()->isColumnHidden(PurposeColumn));
        dlg->close();
    }
    ini_->sync();
    QCOMPARE(ini_->value(QStringLiteral("Claims/purposeColumnShown")).toInt(), 0);
    QCOMPARE(ini_->value(QStringLiteral("Claims/purposeColumnWidth")).toInt(), 211);
    auto dlg = makeWindow();
    QVERIFY(test::inside(*dlg).historyList()->isColumnHidden(PurposeColumn));
    QVERIFY(!dlg->commandAction(ids::PurposeColumnView)->isChecked());
}

void TestNotes::damagedNotesTableIsLeftAlone()
{
    {
        auto dlg = readWindow(); // the card's history is stored
    }
    const QString path = HistoryStore::dataFolderPath() + HistoryStore::databaseFileName();
    {
        Database database = Database::open(path, Database::OpenMode::ExistingFile, 1000);
        database.execute(QStringLiteral("CREATE TABLE notes (idm TEXT, memo TEXT)"));
    }
    auto dlg = readWindow();
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 14);
    const QModelIndex top = test::inside(*dlg).historyModel()->index(0, PurposeColumn);
    QVERIFY(!(test::inside(*dlg).historyModel()->flags(top) & Qt::ItemIsUserCheckable));
    QVERIFY(!top.data(Qt::CheckStateRole).isValid());
    selectSerials(*dlg, {40});
    QVERIFY(dlg->triggerCommand(ids::EditPurpose));
    QCOMPARE(MessageBox::capturedMessages().size(), 1);
    QVERIFY(MessageBox::capturedMessages().front().contains(QStringLiteral("notes")));
    QVERIFY(dlg->findChild<CNoteDlg*>() == nullptr);
    QCOMPARE(test::inside(*dlg).historyModel()->rowCount(), 14);
}

void TestNotes::claimFormDialogMakesPdfAndTellsFailures()
{
    auto dlg = readWindow();
    selectSerials(*dlg, {33, 34});
    QVERIFY(test::inside(*dlg).applyNoteToSelection(NoteChange{QStringLiteral("C社訪問"), true}));
    waitForWrites(*dlg);
    QVERIFY(dlg->triggerCommand(ids::MakeClaimForm));
    auto* form = dlg->findChild<CClaimFormDlg*>();
    QVERIFY(form != nullptr);
    QVERIFY(form->claimedOnlyButton()->isChecked());
    form->nameField()->setText(QStringLiteral("山田 花子"));
    const ClaimForm claimed = form->form();
    QCOMPARE(claimed.lineCount, 2);
    QCOMPARE(claimed.total, 400);
    form->allEntriesButton()->setChecked(true);
    QCOMPARE(form->form().lineCount, 13); // no charge

    form->claimedOnlyButton()->setChecked(true);
    SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("claim")), 0});
    form->choosePdfAndSave();
    const QString text = pdfText(dir_->filePath(QStringLiteral("claim.pdf")));
    QVERIFY2(text.contains(QStringLiteral("C社訪問")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("400円")));
    QVERIFY2(MessageBox::capturedMessages().isEmpty(),
             qPrintable(MessageBox::capturedMessages().join(u'|')));
    // The name is kept for the next form.
    QCOMPARE(ini_->value(QStringLiteral("Claims/claimant")).toString(),
             QStringLiteral("山田 花子"));

    QVERIFY(!form->saveFormAsPdf(dir_->filePath(QStringLiteral("none/claim.pdf"))));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir_->filePath(QStringLiteral("none/printed.pdf")));
    QVERIFY(!form->printForm(printer));
    QCOMPARE(MessageBox::capturedMessages(),
             (QStringList{QStringLiteral("PDF ファイルを作成できません。"),
                          QStringLiteral("精算書を印刷できませんでした。プリンターの状態を確かめ"
                                         "てください。")}));

    QPrintPreviewDialog* preview = form->openPreview();
    QVERIFY(preview->isVisible());
    preview->close();
}

// The commuter's card with the last three gate passages of its day: the newest ride gets both
// times, the one before it its exit, the others none.
void TestNotes::gateTimesInTheTimeColumnTheExportAndTheClaimForm()
{
    using namespace ridelog::testing;
    const QDate day(2008, 3, 5);
    const std::uint16_t from = 0x250C;
    const std::uint16_t to = 0x2510;
    putCard(commuterCard(), kCardIdm,
            {gateBlock(0x20, to, day, 18, 40, 200), gateBlock(0xA0, from, day, 18, 5),
             gateBlock(0x20, to, day, 8, 31, 200)});
    {
        auto dlg = makeWindow();
        dlg->readCard();
        auto* list = test::inside(*dlg).historyList();
        QVERIFY(list->isColumnHidden(TimeColumn));
        QVERIFY(!dlg->commandAction(ids::TimeColumnView)->isChecked());
        QCOMPARE(cellOf(*dlg, 40, TimeColumn), QStringLiteral("18:05–18:40"));
        QVERIFY(dlg->triggerCommand(ids::TimeColumnView));
        QVERIFY(!list->isColumnHidden(TimeColumn));
        list->header()->resizeSection(TimeColumn, 97);

        SaveFileDialog::setNextAnswer(SaveFileAnswer{dir_->filePath(QStringLiteral("times.csv")),
                                                     int(ExportFilter::Utf8Csv)});
        QVERIFY(dlg->triggerCommand(ids::SaveToFile));
        const QByteArray csv = fileBytes(dir_->filePath(QStringLiteral("times.csv")));
        QVERIFY2(csv.contains(",false,18:05,18:40\r\n"), csv.constData());
        QVERIFY(csv.contains(",false,,08:31\r\n"));
        QCOMPARE(csv.count(",false,,\r\n"), 12);

        QVERIFY(dlg->triggerCommand(ids::MakeClaimForm));
        auto* form = dlg->findChild<CClaimFormDlg*>();
        QVERIFY(form != nullptr);
        form->allEntriesButton()->setChecked(true);
        const ClaimForm claim = form->form();
        const ClaimLine& newest = claim.months.back().lines.back();
        QCOMPARE(newest.serial, 40u);
        QCOMPARE(newest.entryTime, (TapTime{18, 5}));
        QCOMPARE(newest.exitTime, (TapTime{18, 40}));
        dlg->close();
    }
    ini_->sync();
    QCOMPARE(ini_->value(QStringLiteral("GateTimes/timeColumnWidth")).toInt(), 97);
    QCOMPARE(ini_->value(QStringLiteral("GateTimes/timeColumnShown")).toInt(), 1);
    for (const char* key : {"Trfc/col7", "Trfc/col8"})
        QVERIFY2(!ini_->contains(QString::fromLatin1(key)), key);
    auto dlg = makeWindow();
    QVERIFY(!test::inside(*dlg).historyList()->isColumnHidden(TimeColumn));
    QCOMPARE(test::inside(*dlg).historyList()->header()->sectionSize(TimeColumn), 97);
    QVERIFY(dlg->commandAction(ids::TimeColumnView)->isChecked());
}

QTEST_MAIN(TestNotes)
#include "test_notes.moc"
