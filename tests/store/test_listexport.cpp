// The export file: its name and format, separators, quoting and bytes.
#include "store/listexport.h"

#include <QStandardItemModel>
#include <QTest>

using namespace ridelog;

Q_DECLARE_METATYPE(ridelog::ExportFormat)
Q_DECLARE_METATYPE(QList<QStringList>)

class TestListExport : public QObject
{
    Q_OBJECT

private slots:
    void nameAndFormatOfTheFile_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<ExportFormat>("selected");
        QTest::addColumn<QString>("path");
        QTest::addColumn<ExportFormat>("format");
        const auto csv = ExportFormat::Csv, text = ExportFormat::Text;
        // A name without an extension gets the selected one; "csv" and "txt" in any letter case
        // decide the format, any other extension leaves it to the selected one.
        QTest::newRow("bare name, csv") << QStringLiteral("/home/u/0114A1B2C3D4E5F6") << csv
                                        << QStringLiteral("/home/u/0114A1B2C3D4E5F6.csv") << csv;
        QTest::newRow("bare name, txt") << QStringLiteral("/home/u/history") << text
                                        << QStringLiteral("/home/u/history.txt") << text;
        QTest::newRow("dotted folder") << QStringLiteral("/home/u/my.dir/history") << csv
                                       << QStringLiteral("/home/u/my.dir/history.csv") << csv;
        QTest::newRow("csv under txt filter")
            << QStringLiteral("/x/h.csv") << text << QStringLiteral("/x/h.csv") << csv;
        QTest::newRow("CSV under txt filter")
            << QStringLiteral("/x/h.CSV") << text << QStringLiteral("/x/h.CSV") << csv;
        QTest::newRow("cSv under txt filter")
            << QStringLiteral("/x/h.cSv") << text << QStringLiteral("/x/h.cSv") << csv;
        QTest::newRow("txt under csv filter")
            << QStringLiteral("/x/h.txt") << csv << QStringLiteral("/x/h.txt") << text;
        QTest::newRow("TxT under csv filter")
            << QStringLiteral("/x/h.TxT") << csv << QStringLiteral("/x/h.TxT") << text;
        QTest::newRow("dat under csv filter")
            << QStringLiteral("/x/h.dat") << csv << QStringLiteral("/x/h.dat") << csv;
        QTest::newRow("dat under txt filter")
            << QStringLiteral("/x/h.dat") << text << QStringLiteral("/x/h.dat") << text;
        QTest::newRow("csvx under txt filter")
            << QStringLiteral("/x/h.csvx") << text << QStringLiteral("/x/h.csvx") << text;
        QTest::newRow("empty extension")
            << QStringLiteral("/x/h.") << text << QStringLiteral("/x/h.") << text;
    }

    void nameAndFormatOfTheFile()
    {
        QFETCH(QString, chosen);
        QFETCH(ExportFormat, selected);
        QFETCH(QString, path);
        QCOMPARE(exportPathWithSuffix(chosen, selected), path);
        QTEST(exportFormatOfPath(path, selected), "format");
    }

    void line_data()
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

        // The rail row with one column's text replaced.
        const auto railWith = [&rail](int column, const QString& text) {
            QStringList texts = rail;
            texts[column] = text;
            return texts;
        };
        const QStringList comma = railWith(4, QStringLiteral("渋谷(東京急行電鉄,東急：東横線)"));
        QTest::newRow("csv comma quoted")
            << comma << ExportFormat::Csv
            << QStringLiteral(
                   "12,2008-3-5,改札機,運賃支払,\"渋谷(東京急行電鉄,東急：東横線)\",新宿,-160");
        QTest::newRow("txt comma as is")
            << comma << ExportFormat::Text
            << QStringLiteral(
                   "12 2008-3-5 改札機 運賃支払 渋谷(東京急行電鉄,東急：東横線) 新宿 -160");
        QTest::newRow("csv quote doubled")
            << railWith(5, QStringLiteral("新\"宿\"")) << ExportFormat::Csv
            << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,\"新\"\"宿\"\"\",-160");
        QTest::newRow("csv line break quoted")
            << railWith(4, QStringLiteral("渋\r\n谷")) << ExportFormat::Csv
            << QStringLiteral("12,2008-3-5,改札機,運賃支払,\"渋\r\n谷\",新宿,-160");
        QTest::newRow("balance in parentheses not quoted")
            << railWith(6, QStringLiteral("(1520)")) << ExportFormat::Csv
            << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,新宿,(1520)");
        QTest::newRow("empty exit") << railWith(5, QString()) << ExportFormat::Csv
                                    << QStringLiteral("12,2008-3-5,改札機,運賃支払,渋谷,,-160");
    }

    void line()
    {
        QFETCH(QStringList, texts);
        QFETCH(ExportFormat, format);
        QFETCH(QString, line);
        QCOMPARE(exportLine(texts, format), line);
    }

    void bytesOfTheList_data()
    {
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<ExportFormat>("format");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("code page 932, CR LF")
            << QList<QStringList>{{QStringLiteral("12"), QStringLiteral("2008-3-5"),
                                   QStringLiteral("改札機"), QStringLiteral("運賃支払"),
                                   QStringLiteral("渋谷"), QStringLiteral("新宿"),
                                   QStringLiteral("-160")}}
            << ExportFormat::Csv
            << QByteArray::fromHex("31 32 2c 32 30 30 38 2d 33 2d 35 2c 89 fc 8e 44 8b 40 2c 89 "
                                   "5e 92 c0 8e 78 95 a5 2c 8f 61 92 4a 2c 90 56 8f 68 2c 2d 31 "
                                   "36 30 0d 0a");
        const QList<QStringList> threeRows{
            {QStringLiteral("13"), QStringLiteral("a"), QString(), QString(), QString(), QString(),
             QStringLiteral("-1960")},
            {QStringLiteral("11"), QStringLiteral("b"), QString(), QString(), QString(), QString(),
             QStringLiteral("160")},
            {QStringLiteral("10"), QStringLiteral("c"), QString(), QString(), QString(), QString(),
             QStringLiteral("(1000)")}};
        QTest::newRow("list order, blanks")
            << threeRows << ExportFormat::Text
            << QByteArray("13 a     -1960\r\n11 b     160\r\n10 c     (1000)\r\n");
        QTest::newRow("list order, commas")
            << threeRows << ExportFormat::Csv
            << QByteArray("13,a,,,,,-1960\r\n11,b,,,,,160\r\n10,c,,,,,(1000)\r\n");
        QTest::newRow("unencodable character becomes ?")
            << QList<QStringList>{{QStringLiteral("1"), QStringLiteral("2008-3-5"), QString(),
                                   QString(), QStringLiteral("서울역"), QStringLiteral("駅"),
                                   QStringLiteral("0")}}
            << ExportFormat::Csv << QByteArray("1,2008-3-5,,,???,\x89\x77,0\r\n");
        QTest::newRow("empty list") << QList<QStringList>{} << ExportFormat::Csv << QByteArray();
    }

    // The list as shown and the rows as texts give the same bytes.
    void bytesOfTheList()
    {
        QFETCH(QList<QStringList>, rows);
        QFETCH(ExportFormat, format);
        QStandardItemModel model(0, kListExportColumns);
        for (const QStringList& texts : rows) {
            QList<QStandardItem*> items;
            for (const QString& text : texts)
                items.append(new QStandardItem(text));
            model.appendRow(items);
        }
        QTEST(exportBytes(model, format), "bytes");
        QTEST(exportBytes(rows, format), "bytes");
    }
};

QTEST_GUILESS_MAIN(TestListExport)
#include "test_listexport.moc"
