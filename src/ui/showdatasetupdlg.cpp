#include "ui/showdatasetupdlg.h"

#include "store/settings.h"
#include "ui/controlid.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>

namespace ridelog {

namespace {

struct BoxSetting
{
    int controlId;
    bool DisplayFlags::*flag;
};

// In the order the values are written.
constexpr std::array<BoxSetting, 8> kBoxSettings{{
    {CShowDataSetupDlg::IdRailCompany, &DisplayFlags::railCompanyShown},
    {CShowDataSetupDlg::IdRailLine, &DisplayFlags::railLineShown},
    {CShowDataSetupDlg::IdBusCompany, &DisplayFlags::busCompanyShown},
    {CShowDataSetupDlg::IdBusRoute, &DisplayFlags::busRouteShown},
    {CShowDataSetupDlg::IdShopShow, &DisplayFlags::shopInfoShown},
    {CShowDataSetupDlg::IdShopCompany, &DisplayFlags::shopCompanyShown},
    {CShowDataSetupDlg::IdShopName, &DisplayFlags::shopNameShown},
    {CShowDataSetupDlg::IdShopRegister, &DisplayFlags::shopRegisterShown},
}};

QCheckBox* addCheckBox(QLayout* layout, int id, const QString& text)
{
    auto* box = new QCheckBox(text);
    setControlId(box, id);
    layout->addWidget(box);
    return box;
}

QGroupBox* addGroup(QVBoxLayout* layout, const QString& title)
{
    auto* group = new QGroupBox(title);
    layout->addWidget(group);
    return group;
}

QPushButton* addButton(QHBoxLayout* layout, int id, const QString& text)
{
    auto* button = new QPushButton(text);
    setControlId(button, id);
    layout->addWidget(button);
    return button;
}

} // namespace

CShowDataSetupDlg::CShowDataSetupDlg(TrfcSettings& settings, QWidget* parent)
    : QDialog(parent)
    , settings_(settings)
{
    setWindowTitle(tr("表示設定"));
    buildControls();
    loadBoxes();
    updateShopBoxesEnabled();
}

CShowDataSetupDlg::~CShowDataSetupDlg()
{
    // A dialog destroyed without being closed still stores its boxes.
    storeBoxes();
}

void CShowDataSetupDlg::buildControls()
{
    auto* layout = new QVBoxLayout(this);

    auto* rail = new QVBoxLayout(addGroup(layout, tr("鉄道・地下鉄　駅名")));
    addCheckBox(rail, IdRailCompany, tr("会社名を表示する"));
    addCheckBox(rail, IdRailLine, tr("路線名を表示する"));

    auto* bus = new QVBoxLayout(addGroup(layout, tr("バス")));
    addCheckBox(bus, IdBusCompany, tr("会社名を表示する"));
    addCheckBox(bus, IdBusRoute, tr("路線名を表示する", "bus route"));

    auto* shop = new QVBoxLayout(addGroup(layout, tr("物販")));
    QCheckBox* shopShow = addCheckBox(shop, IdShopShow, tr("店舗名を表示"));
    auto* shopParts = new QVBoxLayout;
    shopParts->setContentsMargins(20, 0, 0, 0);
    addCheckBox(shopParts, IdShopCompany, tr("会社名を表示する"));
    addCheckBox(shopParts, IdShopName, tr("店舗名を表示する"));
    addCheckBox(shopParts, IdShopRegister, tr("レジ名"));
    shop->addLayout(shopParts);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    QPushButton* ok = addButton(buttons, IdOk, tr("設定"));
    QPushButton* cancel = addButton(buttons, IdCancel, tr("キャンセル"));
    layout->addLayout(buttons);

    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(shopShow, &QCheckBox::clicked, this, [this] { updateShopBoxesEnabled(); });
}

void CShowDataSetupDlg::loadBoxes()
{
    const DisplayFlags stored = settings_.displayFlags();
    for (const auto& setting : kBoxSettings)
        findControlAs<QCheckBox>(this, setting.controlId)->setChecked(stored.*setting.flag);
}

void CShowDataSetupDlg::updateShopBoxesEnabled()
{
    const bool shopShown = findControlAs<QCheckBox>(this, IdShopShow)->isChecked();
    for (const int id : {IdShopCompany, IdShopName, IdShopRegister})
        findControl(this, id)->setEnabled(shopShown);
}

void CShowDataSetupDlg::storeBoxes()
{
    if (stored_)
        return;
    stored_ = true;
    for (const auto& setting : kBoxSettings) {
        const bool checked = findControlAs<QCheckBox>(this, setting.controlId)->isChecked();
        settings_.writeFlag(TrfcSettings::displayFlagName(setting.flag), checked);
    }
}

void CShowDataSetupDlg::done(int result)
{
    storeBoxes();
    QDialog::done(result);
}

} // namespace ridelog
