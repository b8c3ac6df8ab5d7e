#include "ui/readerpane.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QStatusBar>

namespace ridelog {

namespace {

// Room for "Sony PaSoRi RC-S380/P (libusb, fir…" in the default window width, so that the
// card identifier and the balance keep theirs.
constexpr int readerPaneCharacters = 34;

} // namespace

QString readerCaption(const QString& readerName)
{
    if (readerName.isEmpty())
        return QString();
    return QCoreApplication::translate("ReaderPane", "ICカードリーダ: %1").arg(readerName);
}

QLabel* addReaderPane(QStatusBar* bar, const QString& readerName)
{
    auto* pane = new QLabel(bar);
    pane->setObjectName(QStringLiteral("readerPane"));
    const QFontMetrics metrics(pane->font());
    const int widest = metrics.averageCharWidth() * readerPaneCharacters;
    pane->setText(metrics.elidedText(readerName, Qt::ElideRight, widest));
    pane->setToolTip(readerCaption(readerName));
    pane->setVisible(!readerName.isEmpty());
    bar->addPermanentWidget(pane, 0);
    return pane;
}

} // namespace ridelog
