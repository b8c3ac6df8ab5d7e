// Detail of one shop record.
#pragma once

#include <QDialog>

namespace ridelog {

struct HistoryRecord;
class ShopNameCache;

// Shows a shop record with the company, shop and register names of its shop key. Everything is
// read while the dialog is built; afterwards it holds only the texts of its controls.
class CBpnDetailDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kTemplateId = 140;

    enum ControlId
    {
        IdClose = 1,
        IdCancel = 2,
        IdDate = 1062,
        IdTerminal = 1063,
        IdProcess = 1064,
        IdAmount = 1065,
        IdBalance = 1066,
        IdShopFrame = 1067,
        IdTime = 1068,
        IdShopCode = 1069,
        IdCompany = 1070,
        IdShopName = 1071,
        IdRegister = 1072,
        IdSerial = 1073,
    };

    // The fixed note beside the shop part, as the dialog template holds it.
    static QString noteText();

    CBpnDetailDlg(const HistoryRecord& record, ShopNameCache& shops, QWidget* parent = nullptr);

private:
    void buildControls();
    void showHead(const HistoryRecord& record);
    void showShop(const HistoryRecord& record, ShopNameCache& shops);
};

} // namespace ridelog
