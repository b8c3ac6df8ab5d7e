// Writing the rows of the history list to a comma- or blank-separated file.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

class QAbstractItemModel;

namespace ridelog {

// The columns a row of the list's own formats holds: 0 to 6 of the history list.
constexpr int kListExportColumns = 7;

enum class ExportFormat
{
    Csv,
    Text
};

// "csv" and "txt" in any letter case; anything else has no format.
std::optional<ExportFormat> exportFormatOfSuffix(const QString& suffix);
QString exportSuffix(ExportFormat format);

// A chosen name without an extension gets the one of the selected format.
QString exportPathWithSuffix(const QString& chosenPath, ExportFormat selected);
// The extension decides the format; an unknown extension is written in the selected one.
ExportFormat exportFormatOfPath(const QString& path, ExportFormat selected);

// One line without its line end. CSV fields that hold a comma, a double quote, CR or LF are
// quoted (RFC 4180); every other text, and every text of the blank-separated form, is kept as is.
QString exportLine(const QStringList& texts, ExportFormat format);

// Every row of the model as shown (display role, row 0 first), code page 932, CR LF line ends.
QByteArray exportBytes(const QAbstractItemModel& model, ExportFormat format);
// The same bytes for rows given as their texts, row 0 first.
QByteArray exportBytes(const QList<QStringList>& rows, ExportFormat format);

} // namespace ridelog
