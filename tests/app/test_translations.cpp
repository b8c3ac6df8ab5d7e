// The language of the windows: which locale gives which language, and what a missing or broken
// translation file gives.
#include "app/translations.h"
#include "card/autoreaderbackend.h"
#include "card/cardkind.h"
#include "card/simulatedreader.h"
#include "support/cardblocks.h"
#include "support/windowaccess.h"
#include "ui/historylist.h"
#include "ui/historylistview.h"
#include "ui/ridelogdlg.h"
#include "ui/savefiledialog.h"
#include "ui/showdatasetupdlg.h"
#include "ui/windowfixture.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLibraryInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace ridelog;

namespace {

const QString kJapaneseTitle = QStringLiteral("交通費履歴読出");
const QString kEnglishTitle = QStringLiteral("Transit Fare History");

bool hasJapanese(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        return (c.unicode() >= 0x3000 && c.unicode() <= 0x9FFF) ||
               (c.unicode() >= 0xFF00 && c.unicode() <= 0xFFEF);
    });
}

// Every text of a menu and its sub-menus.
void collectTexts(const QMenu* menu, QStringList& texts)
{
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        texts << action->text();
        if (action->menu() != nullptr)
            collectTexts(action->menu(), texts);
    }
}

QStringList menuBarTitles(const CRidelogDlg& dlg)
{
    QStringList titles;
    for (const QAction* action : dlg.findChild<QMenuBar*>()->actions())
        titles << action->text();
    return titles;
}

bool qtJapaneseInstalled()
{
    return QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                         QStringLiteral("/qtbase_ja.qm"));
}

} // namespace

class TestTranslations : public QObject, ridelog::test::WindowFixture
{
    Q_OBJECT

private slots:
    void init() { setUpWindow(); }
    void cleanup() { tearDownWindow(); }

    void languageOfLocale_data();
    void languageOfLocale();
    void englishLocaleGivesEnglishWindow();
    void japaneseLocaleKeepsSourceTextsAndTranslatesQt();
    void readerTextsFollowTheLanguage_data();
    void headingsFitTheDefaultWindow_data();
    void headingsFitTheDefaultWindow();
    void readerTextsFollowTheLanguage();
    void unusableTranslationFallsBackToJapanese_data();
    void unusableTranslationFallsBackToJapanese();
};

void TestTranslations::languageOfLocale_data()
{
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<UiLanguage>("expected");
    using L = QStringList;
    QTest::newRow("ja_JP") << L{QStringLiteral("ja-JP"), QStringLiteral("ja")}
                           << UiLanguage::Japanese;
    QTest::newRow("en_US") << L{QStringLiteral("en-US")} << UiLanguage::English;
    QTest::newRow("de_DE") << L{QStringLiteral("de-DE")} << UiLanguage::English;
    QTest::newRow("C") << L{QStringLiteral("C")} << UiLanguage::English;
    QTest::newRow("unknown") << L{QStringLiteral("xx-YY")} << UiLanguage::English;
    QTest::newRow("none") << L{} << UiLanguage::English;
    QTest::newRow("French, then Japanese")
        << L{QStringLiteral("fr-FR"), QStringLiteral("ja-JP")} << UiLanguage::Japanese;
    QTest::newRow("English, then Japanese")
        << L{QStringLiteral("en-GB"), QStringLiteral("ja")} << UiLanguage::English;
}

void TestTranslations::languageOfLocale()
{
    QFETCH(QStringList, uiLanguages);
    QFETCH(UiLanguage, expected);
    QCOMPARE(uiLanguageFor(uiLanguages), expected);
}

void TestTranslations::englishLocaleGivesEnglishWindow()
{
    Translations translations;
    QCOMPARE(translations.install(UiLanguage::English), UiLanguage::English);
    QVERIFY(translations.ridelogTranslationLoaded());
    QVERIFY(!translations.qtTranslationLoaded());
    putCard({test::railBlock(2, 300), test::railBlock(1, 100)});
    auto dlg = makeWindow();
    QCOMPARE(dlg->windowTitle(), kEnglishTitle);
    QCOMPARE(CRidelogDlg::titleText(), kEnglishTitle);
    const QStringList titles = menuBarTitles(*dlg);
    QCOMPARE(titles.value(0), QStringLiteral("&File"));
    QVERIFY(titles.contains(QStringLiteral("&Help")));
    // No Japanese left in any menu, the context menu or the column headings.
    QStringList texts;
    for (const QAction* action : dlg->findChild<QMenuBar*>()->actions())
        collectTexts(action->menu(), texts);
    collectTexts(test::inside(*dlg).historyContextMenu(), texts);
    const QAbstractItemModel* list = test::inside(*dlg).historyModel();
    for (int column = 0; column < list->columnCount(); ++column)
        texts << list->headerData(column, Qt::Horizontal).toString();
    QVERIFY(texts.size() > 25);
    for (const QString& text : texts)
        QVERIFY2(!hasJapanese(text), qPrintable(text));
    // The status bar after a read; the rows keep the card's own Japanese texts.
    dlg->readCard();
    QCOMPARE(test::inside(*dlg).statusPaneText(2), QStringLiteral("300 yen"));
    QCOMPARE(list->data(list->index(0, 2)).toString(), QStringLiteral("改札機"));
    CShowDataSetupDlg setup(test::inside(*dlg).settings(), dlg.get());
    QCOMPARE(setup.windowTitle(), QStringLiteral("Display Settings"));
    // Qt's own texts stay English.
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"), QStringLiteral("Save As"));
}

// What the reader layer says to the user (its name in the status bar and the About box, why it
// did not open in the start-up box) comes in the window's language.
void TestTranslations::readerTextsFollowTheLanguage_data()
{
    QTest::addColumn<UiLanguage>("language");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("English") << UiLanguage::English
                             << QStringList{QStringLiteral("Simulated reader"),
                                            QStringLiteral("cannot be created"),
                                            QStringLiteral("No card reader backend is built in."),
                                            QStringLiteral("Unknown")};
    QTest::newRow("Japanese") << UiLanguage::Japanese
                              << QStringList{QStringLiteral("シミュレーションのカードリーダ"),
                                             QStringLiteral("を作れません"),
                                             QStringLiteral("カードリーダを扱う部分"),
                                             QStringLiteral("不明")};
}

void TestTranslations::readerTextsFollowTheLanguage()
{
    QFETCH(UiLanguage, language);
    QFETCH(QStringList, expected);
    Translations translations;
    QCOMPARE(translations.install(language), language);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A file where the card folder should be: the folder cannot be made.
    const QString notAFolder = dir.filePath(QStringLiteral("cards"));
    QFile file(notAFolder);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    card::SimulatedReaderBackend simulated(notAFolder);
    QString openError;
    QVERIFY(!simulated.open(&openError));
    card::AutoReaderBackend nothingBuiltIn({});
    QString autoError;
    QVERIFY(!nothingBuiltIn.open(&autoError));
    const QStringList texts{simulated.name(), openError, autoError,
                            card::cardKindShownName(card::CardKind::Unknown),
                            nothingBuiltIn.name()};
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(texts[i].contains(expected[i]), qPrintable(texts[i]));
    for (const QString& text : texts)
        QVERIFY2((language == UiLanguage::English) != hasJapanese(text), qPrintable(text));
}

void TestTranslations::headingsFitTheDefaultWindow_data()
{
    QTest::addColumn<UiLanguage>("language");
    QTest::newRow("English") << UiLanguage::English;
    QTest::newRow("Japanese") << UiLanguage::Japanese;
}

// In the window of the default size every heading shows its whole text, the sorted one with its
// sort mark, and the seven columns up to the amount lie in sight; each heading has a tooltip.
void TestTranslations::headingsFitTheDefaultWindow()
{
    QFETCH(UiLanguage, language);
    Translations translations;
    QCOMPARE(translations.install(language), language);
    auto dlg = makeWindow();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    const QAbstractItemView* list = test::inside(*dlg).historyList();
    const QHeaderView* header = test::inside(*dlg).historyList()->header();
    const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        const QString heading =
            test::inside(*dlg).historyModel()->headerData(column, Qt::Horizontal).toString();
        const int needed = column == header->sortIndicatorSection()
                               ? header->sectionSizeHint(column)
                               : header->fontMetrics().horizontalAdvance(heading) + 2 * margin;
        QVERIFY2(header->sectionSize(column) >= needed,
                 qPrintable(QStringLiteral("%1: %2 < %3")
                                .arg(heading)
                                .arg(header->sectionSize(column))
                                .arg(needed)));
        QVERIFY(!test::inside(*dlg)
                     .historyModel()
                     ->headerData(column, Qt::Horizontal, Qt::ToolTipRole)
                     .toString()
                     .isEmpty());
    }
    const int amountEnd =
        header->sectionViewportPosition(AmountColumn) + header->sectionSize(AmountColumn);
    QVERIFY2(amountEnd <= list->viewport()->width(),
             qPrintable(QStringLiteral("%1 > %2").arg(amountEnd).arg(list->viewport()->width())));
}

void TestTranslations::japaneseLocaleKeepsSourceTextsAndTranslatesQt()
{
    if (!qtJapaneseInstalled())
        QSKIP("Qt's Japanese translation (qt6-translations-l10n) is not installed");
    Translations translations;
    QCOMPARE(translations.install(UiLanguage::Japanese), UiLanguage::Japanese);
    QVERIFY(!translations.ridelogTranslationLoaded());
    QVERIFY(translations.qtTranslationLoaded());
    auto dlg = makeWindow();
    QCOMPARE(dlg->windowTitle(), kJapaneseTitle);
    QCOMPARE(menuBarTitles(*dlg).value(0), QStringLiteral("ファイル(&F)"));
    // The save dialog as the export shows it speaks Japanese.
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    SaveFileDialog::configure(dialog, SaveFileRequest{QStringLiteral("x"), {}, {}, 0});
    auto* box = dialog.findChild<QDialogButtonBox*>();
    QVERIFY(box != nullptr);
    QStringList buttons;
    for (const QAbstractButton* button : box->buttons())
        buttons << button->text();
    QVERIFY2(buttons.contains(QStringLiteral("保存(&S)")), qPrintable(buttons.join(u',')));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Save As"),
             QStringLiteral("名前を付けて保存"));
}

void TestTranslations::unusableTranslationFallsBackToJapanese_data()
{
    QTest::addColumn<QByteArray>("fileBytes");
    QTest::newRow("missing") << QByteArray();
    QTest::newRow("garbage") << QByteArray("this is no translation file\n");
}

void TestTranslations::unusableTranslationFallsBackToJapanese()
{
    QFETCH(QByteArray, fileBytes);
    QTemporaryDir dir;
    if (!fileBytes.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("ridelog_en.qm")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileBytes);
    }
    Translations translations;
    QCOMPARE(translations.install(UiLanguage::English, {dir.path(), QString()}),
             UiLanguage::Japanese);
    QVERIFY(!translations.ridelogTranslationLoaded());
    QCOMPARE(makeWindow()->windowTitle(), kJapaneseTitle);
}

QTEST_MAIN(TestTranslations)
#include "test_translations.moc"
