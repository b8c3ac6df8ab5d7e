// The selected rows of a list as text, line by line the way the blank-separated export writes
// them, for the clipboard.
#pragma once

#include <QString>

class QAbstractItemView;

namespace ridelog {

// The selected rows in the order the view shows them, each line ended by "\n"; empty when
// nothing is selected.
QString selectedRowsText(const QAbstractItemView& view);

// Puts selectedRowsText() on the clipboard; returns whether there was anything to copy.
bool copySelectedRows(const QAbstractItemView& view);

} // namespace ridelog
