// The display settings dialog: all eight name settings in one place.
#pragma once

#include <QDialog>

class QCheckBox;

namespace ridelog {

class TrfcSettings;

// Its boxes are filled from the settings file, not from the main dialog's flags. All eight
// values are written back when the dialog ends, whichever way it was closed; the caller then
// reloads the display settings and re-renders the names.
class CShowDataSetupDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr int kTemplateId = 133;

    enum ControlId
    {
        IdOk = 1,
        IdCancel = 2,
        IdRailCompany = 1037,
        IdRailLine = 1038,
        IdShopShow = 1039,
        IdShopCompany = 1040,
        IdShopName = 1041,
        IdShopRegister = 1042,
        IdBusCompany = 1043,
        IdBusRoute = 1044,
    };

    explicit CShowDataSetupDlg(TrfcSettings& settings, QWidget* parent = nullptr);
    ~CShowDataSetupDlg() override;

    void done(int result) override;

private:
    void buildControls();
    void loadBoxes();
    void updateShopBoxesEnabled();
    void storeBoxes();

    TrfcSettings& settings_;
    bool stored_ = false;
};

} // namespace ridelog
