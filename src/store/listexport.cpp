#include "store/listexport.h"

#include "namedata/cp932.h"
#include "store/missedhistory.h"

#include <QAbstractItemModel>
#include <QFileInfo>

namespace ridelog {

namespace {

QChar separatorOf(ExportFormat format)
{
    return format == ExportFormat::Csv ? QLatin1Char(',') : QLatin1Char(' ');
}

bool needsCsvQuoting(const QString& text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char('"') || c == QLatin1Char('\r') ||
            c == QLatin1Char('\n')) {
            return true;
        }
    }
    return false;
}

QString csvField(const QString& text)
{
    if (!needsCsvQuoting(text))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QStringList rowTexts(const QAbstractItemModel& model, int row)
{
    QStringList texts;
    // Columns beyond the seven of the format (the user's notes) are not written.
    const int columns = std::min(model.columnCount(), kListExportColumns);
    texts.reserve(columns);
    for (int column = 0; column < columns; ++column)
        texts.append(model.data(model.index(row, column), Qt::DisplayRole).toString());
    return texts;
}

void appendExportLine(QByteArray& bytes, const QStringList& texts, ExportFormat format)
{
    bytes += cp932::encode(exportLine(texts, format));
    bytes += "\r\n";
}

} // namespace

std::optional<ExportFormat> exportFormatOfSuffix(const QString& suffix)
{
    if (suffix.compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0)
        return ExportFormat::Csv;
    if (suffix.compare(QStringLiteral("txt"), Qt::CaseInsensitive) == 0)
        return ExportFormat::Text;
    return std::nullopt;
}

QString exportSuffix(ExportFormat format)
{
    return format == ExportFormat::Csv ? QStringLiteral("csv") : QStringLiteral("txt");
}

QString exportPathWithSuffix(const QString& chosenPath, ExportFormat selected)
{
    const QFileInfo info(chosenPath);
    if (!info.fileName().contains(QLatin1Char('.')))
        return chosenPath + QLatin1Char('.') + exportSuffix(selected);
    return chosenPath;
}

ExportFormat exportFormatOfPath(const QString& path, ExportFormat selected)
{
    return exportFormatOfSuffix(QFileInfo(path).suffix()).value_or(selected);
}

QString exportLine(const QStringList& texts, ExportFormat format)
{
    QString line;
    for (qsizetype i = 0; i < texts.size(); ++i) {
        if (i > 0)
            line += separatorOf(format);
        line += format == ExportFormat::Csv ? csvField(texts[i]) : texts[i];
    }
    return line;
}

QByteArray exportBytes(const QAbstractItemModel& model, ExportFormat format)
{
    QByteArray bytes;
    const int rows = model.rowCount();
    for (int row = 0; row < rows; ++row) {
        // The marker of missed history is an empty line in the blank-separated form; the CSV
        // keeps its texts, so a spreadsheet shows the note in its row.
        const bool marker = model.data(model.index(row, 0), MissedHistoryMarkerRole).toBool();
        if (marker && format == ExportFormat::Text)
            bytes += "\r\n";
        else
            appendExportLine(bytes, rowTexts(model, row), format);
    }
    return bytes;
}

QByteArray exportBytes(const QList<QStringList>& rows, ExportFormat format)
{
    QByteArray bytes;
    for (const QStringList& texts : rows)
        appendExportLine(bytes, texts, format);
    return bytes;
}

} // namespace ridelog
