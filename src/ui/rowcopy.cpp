#include "ui/rowcopy.h"

#include "store/listexport.h"
#include "store/missedhistory.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <algorithm>

namespace ridelog {

QString selectedRowsText(const QAbstractItemView& view)
{
    const QAbstractItemModel* model = view.model();
    const QItemSelectionModel* selection = view.selectionModel();
    if (model == nullptr || selection == nullptr)
        return QString();
    QList<int> rows;
    for (const QModelIndex& index : selection->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QString text;
    for (const int row : rows) {
        // The marker of missed history is an empty line, as in the text export.
        if (model->index(row, 0).data(MissedHistoryMarkerRole).toBool()) {
            text += QLatin1Char('\n');
            continue;
        }
        QStringList cells;
        // The columns of the text export: the user's notes stay out, as they do there.
        const int columns = std::min(model->columnCount(), kListExportColumns);
        for (int column = 0; column < columns; ++column)
            cells.append(model->index(row, column).data(Qt::DisplayRole).toString());
        text += exportLine(cells, ExportFormat::Text) + QLatin1Char('\n');
    }
    return text;
}

bool copySelectedRows(const QAbstractItemView& view)
{
    const QString text = selectedRowsText(view);
    if (text.isEmpty())
        return false;
    QGuiApplication::clipboard()->setText(text);
    return true;
}

} // namespace ridelog
