// The name of the card reader in use, for the status bar and the About box.
#pragma once

#include <QString>

class QLabel;
class QStatusBar;

namespace ridelog {

// "ICカードリーダ: <name>"; empty without a reader.
QString readerCaption(const QString& readerName);

// Adds a permanent pane at the right end of bar that names the reader (object name
// "readerPane"). A long name is cut with "…" and shown whole in the tooltip; without a reader
// the pane stays hidden.
QLabel* addReaderPane(QStatusBar* bar, const QString& readerName);

} // namespace ridelog
