#include "ui/bpndetaildlg.h"

#include "card/history.h"
#include "namedata/namecache.h"
#include "ui/controlid.h"
#include "ui/detailform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace ridelog {

using namespace detailform;

namespace {

constexpr auto kRight = Qt::AlignRight | Qt::AlignVCenter;

void addHeadRow(QGridLayout* grid, int row, const QString& labelText, QWidget* value,
                const QString& unit = QString())
{
    grid->addWidget(label(labelText), row, 0);
    grid->addWidget(value, row, 1);
    if (!unit.isEmpty())
        grid->addWidget(label(unit), row, 2);
}

} // namespace

QString CBpnDetailDlg::noteText()
{
    return tr("注意：\r\n店舗情報は、必ずしも正確ではありません。");
}

CBpnDetailDlg::CBpnDetailDlg(const HistoryRecord& record, ShopNameCache& shops, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("店舗 詳細"));
    buildControls();
    showHead(record);
    showShop(record, shops);
}

void CBpnDetailDlg::buildControls()
{
    auto* layout = new QVBoxLayout(this);

    auto* head = new QGridLayout;
    head->addWidget(label(QStringLiteral("#"), IdSerial), 0, 0, 1, 2);
    addHeadRow(head, 1, tr("日付："), field(IdDate, Qt::AlignCenter));
    addHeadRow(head, 2, tr("時刻："), field(IdTime, Qt::AlignCenter));
    addHeadRow(head, 3, tr("端末："), field(IdTerminal));
    addHeadRow(head, 4, tr("処理："), field(IdProcess));
    addHeadRow(head, 5, tr("支払額:"), field(IdAmount, kRight), tr("円"));
    addHeadRow(head, 6, tr("残額："), field(IdBalance, kRight), tr("円"));
    layout->addLayout(head);

    auto* shopRow = new QHBoxLayout;
    FramedPart shop(tr("店舗情報:"), IdShopFrame);
    shop.addRow(0, label(tr("コード：")), field(IdShopCode));
    shop.addRow(1, label(tr("会社名：")), field(IdCompany));
    shop.addRow(2, label(tr("店舗名：")), field(IdShopName));
    shop.addRow(3, label(tr("レジ名：")), field(IdRegister));
    shop.finish(4);
    shopRow->addWidget(shop.widget(), 1);
    QString note = noteText();
    note.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    auto* noteLabel = label(note);
    noteLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    noteLabel->setWordWrap(true);
    shopRow->addWidget(noteLabel);
    layout->addLayout(shopRow);

    layout->addLayout(closeButtons(this));
}

void CBpnDetailDlg::showHead(const HistoryRecord& record)
{
    setControlText(this, IdSerial, QStringLiteral("#: %1").arg(record.serial));
    setControlText(this, IdDate, record.dateText);
    setControlText(this, IdTerminal, terminalTypeName(record.terminalType));
    setControlText(this, IdProcess, processTypeName(record.processType));
    setControlText(this, IdTime, timeOfDayText(record.raw));
    setControlText(this, IdAmount, QString::number(record.amount));
    setControlText(this, IdBalance, QString::number(record.balance));
}

void CBpnDetailDlg::showShop(const HistoryRecord& record, ShopNameCache& shops)
{
    const ShopKey& key = record.shopKey;
    if (key.ac == 0 && key.lc == 0) {
        disableControls(this, {IdShopFrame, IdShopCode, IdCompany, IdShopName, IdRegister});
        return;
    }
    setControlText(this, IdShopCode,
                   QStringLiteral("(%1, %2, %3)").arg(key.ac).arg(key.lc).arg(key.sc));
    const ShopNameEntry& names = shops.EntryFor(key);
    setControlText(this, IdCompany, names.an);
    setControlText(this, IdShopName, names.ln);
    setControlText(this, IdRegister, names.sn);
}

} // namespace ridelog
