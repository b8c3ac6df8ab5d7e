// The export file: separators, quoting, bytes and safe writing.
#include "store/listexport.h"

#include <QStandardItemModel>
#include <QTest>

using namespace ridelog;

Q_DECLARE_METATYPE(ridelog::ExportFormat)
Q_DECLARE_METATYPE(std::optional<ridelog::ExportFormat>)

namespace {

QStandardItemModel* listModel(const QList<QStringList>& rows, QObject* parent)
{
    auto* model = new QStandardItemModel(0, 7, parent);
    for (const QStringList& texts : rows) {
        QList<QStandardItem*> items;
        for (const QString& text : texts)
            items.append(new QStandardItem(text));
        model->appendRow(items);
    }
    return model;
}

} // namespace

class TestListExport : public QObject
{
    Q_OBJECT

private slots:
    // Formats and file names
    void formatOfSuffix_data();
    void formatOfSuffix();
    void pathWithSuffix_data();
    void pathWithSuffix();
    void formatOfPath_data();
    void formatOfPath();

    // Lines
    void line_data();
    void line();
    void bytesAreCodePage932WithCrLf();
    void rowsAreWrittenInListOrder();
    void unencodableCharacterBecomesQuestionMark();
    void emptyListGivesEmptyFile();

    // Writing
};

void TestListExport::formatOfSuffix_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<std::optional<ExportFormat>>("format");
    QTest::newRow("csv") << QStringLiteral("csv") << std::optional(ExportFormat::Csv);
    QTest::newRow("CSV") << QStringLiteral("CSV") << std::optional(ExportFormat::Csv);
    QTest::newRow("cSv") << QStringLiteral("cSv") << std::optional(ExportFormat::Csv);
    QTest::newRow("txt") << QStringLiteral("txt") << std::optional(ExportFormat::Text);
    QTest::newRow("TxT") << QStringLiteral("TxT") << std::optional(ExportFormat::Text);
    QTest::newRow("dat") << QStringLiteral("dat") << std::optional<ExportFormat>();
    QTest::newRow("csvx") << QStringLiteral("csvx") << std::optional<ExportFormat>();
    QTest::newRow("empty") << QString() << std::optional<ExportFormat>();
}

void TestListExport::formatOfSuffix()
{
    QFETCH(QString, suffix);
    QFETCH(std::optional<ExportFormat>, format);
    QCOMPARE(exportFormatOfSuffix(suffix), format);
}

void TestListExport::pathWithSuffix_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<ExportFormat>("selected");
    QTest::addColumn<QString>("path");
    QTest::newRow("bare name, csv")
        << QStringLiteral("/home/u/0114A1B2C3D4E5F6") << ExportFormat::Csv
        << QStringLiteral("/home/u/0114A1B2C3D4E5F6.csv");
    QTest::newRow("bare name, txt") << QStringLiteral("/home/u/history") << ExportFormat::Text
                                    << QStringLiteral("/home/u/history.txt");
    QTest::newRow("dotted folder") << QStringLiteral("/home/u/my.dir/history") << ExportFormat::Csv
                                   << QStringLiteral("/home/u/my.dir/history.csv");
    QTest::newRow("other case kept") << QStringLiteral("/home/u/history.CSV") << ExportFormat::Text
                                     << QStringLiteral("/home/u/history.CSV");
    QTest::newRow("other extension kept")
        << QStringLiteral("/home/u/history.dat") << ExportFormat::Csv
        << QStringLiteral("/home/u/history.dat");
}

void TestListExport::pathWithSuffix()
{
    QFETCH(QString, chosen);
    QFETCH(ExportFormat, selected);
    QFETCH(QString, path);
    QCOMPARE(exportPathWithSuffix(chosen, selected), path);
}

void TestListExport::formatOfPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<ExportFormat>("selected");
    QTest::addColumn<ExportFormat>("format");
    QTest::newRow("CSV under txt filter")
        << QStringLiteral("/x/history.CSV") << ExportFormat::Text << ExportFormat::Csv;
    QTest::newRow("TxT under csv filter")
        << QStringLiteral("/x/history.TxT") << ExportFormat::Csv << ExportFormat::Text;
    QTest::newRow("dat under csv filter")
        << QStringLiteral("/x/history.dat") << ExportFormat::Csv << ExportFormat::Csv;
    QTest::newRow("dat under txt filter")
        << QStringLiteral("/x/history.dat") << ExportFormat::Text << ExportFormat::Text;
}

void TestListExport::formatOfPath()
{
    QFETCH(QString, path);
    QFETCH(ExportFormat, selected);
    QFETCH(ExportFormat, format);
    QCOMPARE(exportFormatOfPath(path, selected), format);
}

void TestListExport::line_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<ExportFormat>("format");
    QTest::addColumn<QString>("line");

    const QStringList rail{QStringLiteral("12"),     QStringLiteral("2008-3-5"),
                           QStringLiteral("改札機"), QStringLiteral("運賃支払"),
                           QStringLiteral("渋谷"),   QStringLiteral("新宿"),
                           QStringLiteral("-160")};
    QTest::newRow("csv plain") << rail << ExportFormat::Csv
                               << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,新宿,-160");
    QTest::newRow("txt plain") << rail << ExportFormat::Text
                               << QStringLiteral("12 2008-3-5 改札機 運賃支払 渋谷 新宿 -160");

    const QStringList shopHidden{QStringLiteral("14"),       QStringLiteral("2008-3-6"),
                                 QStringLiteral("物販端末"), QStringLiteral("物販"),
                                 QStringLiteral(" "),        QStringLiteral("12:30"),
                                 QStringLiteral("-120")};
    QTest::newRow("shop column of one blank")
        << shopHidden << ExportFormat::Csv
        << QStringLiteral("14,2008-3-6,物販端末,物販, ,12:30,-120");

    QStringList comma = rail;
    comma[4] = QStringLiteral("渋谷(東京急行電鉄,東急：東横線)");
    QTest::newRow("csv comma quoted")
        << comma << ExportFormat::Csv
        << QStringLiteral(
               "12,2008-3-5,改札機,運賃支払,\"渋谷(東京急行電鉄,東急：東横線)\",新宿,-160");
    QTest::newRow("txt comma as is")
        << comma << ExportFormat::Text
        << QStringLiteral("12 2008-3-5 改札機 運賃支払 渋谷(東京急行電鉄,東急：東横線) 新宿 -160");

    QStringList quote = rail;
    quote[5] = QStringLiteral("新\"宿\"");
    QTest::newRow("csv quote doubled")
        << quote << ExportFormat::Csv
        << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,\"新\"\"宿\"\"\",-160");

    QStringList lineBreak = rail;
    lineBreak[4] = QStringLiteral("渋\r\n谷");
    QTest::newRow("csv line break quoted")
        << lineBreak << ExportFormat::Csv
        << QStringLiteral("12,2008-3-5,改札機,運賃支払,\"渋\r\n谷\",新宿,-160");

    QStringList oldest = rail;
    oldest[6] = QStringLiteral("(1520)");
    QTest::newRow("balance in parentheses not quoted")
        << oldest << ExportFormat::Csv
        << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,新宿,(1520)");

    QStringList empties = rail;
    empties[5] = QString();
    QTest::newRow("empty exit") << empties << ExportFormat::Csv
                                << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,,-160");
}

void TestListExport::line()
{
    QFETCH(QStringList, texts);
    QFETCH(ExportFormat, format);
    QFETCH(QString, line);
    QCOMPARE(exportLine(texts, format), line);
}

void TestListExport::bytesAreCodePage932WithCrLf()
{
    QObject owner;
    auto* model =
        listModel({{QStringLiteral("12"), QStringLiteral("2008-3-5"), QStringLiteral("改札機"),
                    QStringLiteral("運賃支払"), QStringLiteral("渋谷"), QStringLiteral("新宿"),
                    QStringLiteral("-160")}},
                  &owner);
    const QByteArray expected = QByteArray::fromHex(
        "31 32 2c 32 30 30 38 2d 33 2d 35 2c 89 fc 8e 44 8b 40 2c 89 5e 92 c0 8e 78 95 a5 2c 8f "
        "61 92 4a 2c 90 56 8f 68 2c 2d 31 36 30 0d 0a");
    QCOMPARE(expected.size(), 44);
    QCOMPARE(exportBytes(*model, ExportFormat::Csv), expected);
}

void TestListExport::rowsAreWrittenInListOrder()
{
    QObject owner;
    auto* model = listModel({{QStringLiteral("13"), QStringLiteral("a"), QString(), QString(),
                              QString(), QString(), QStringLiteral("-1960")},
                             {QStringLiteral("11"), QStringLiteral("b"), QString(), QString(),
                              QString(), QString(), QStringLiteral("160")},
                             {QStringLiteral("10"), QStringLiteral("c"), QString(), QString(),
                              QString(), QString(), QStringLiteral("(1000)")}},
                            &owner);
    QCOMPARE(exportBytes(*model, ExportFormat::Text),
             QByteArray("13 a     -1960\r\n11 b     160\r\n10 c     (1000)\r\n"));
    QCOMPARE(exportBytes(*model, ExportFormat::Csv),
             QByteArray("13,a,,,,,-1960\r\n11,b,,,,,160\r\n10,c,,,,,(1000)\r\n"));
}

void TestListExport::unencodableCharacterBecomesQuestionMark()
{
    QObject owner;
    auto* model = listModel({{QStringLiteral("1"), QStringLiteral("2008-3-5"), QString(), QString(),
                              QStringLiteral("서울역"), QStringLiteral("駅"), QStringLiteral("0")}},
                            &owner);
    QCOMPARE(exportBytes(*model, ExportFormat::Csv), QByteArray("1,2008-3-5,,,???,\x89\x77,0\r\n"));
}

void TestListExport::emptyListGivesEmptyFile()
{
    QObject owner;
    auto* model = listModel({}, &owner);
    QVERIFY(exportBytes(*model, ExportFormat::Csv).isEmpty());
}

QTEST_GUILESS_MAIN(TestListExport)
#include "test_listexport.moc"
