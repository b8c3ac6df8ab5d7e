// The display settings that decide which parts make up a shown name. Each field is kept under
// its settings key (TrfcSettings::displayFlagName): balanceBarShown "zanViewM", railCompanyShown
// "ipnComShow", ... shopRegisterShown "bpnRegShow".
#pragma once

namespace ridelog {

struct DisplayFlags
{
    bool balanceBarShown = false;   // the balance bar above the list
    bool railCompanyShown = false;  // rail: company
    bool railLineShown = true;      // rail: line
    bool busCompanyShown = true;    // bus: company
    bool busRouteShown = false;     // bus: route
    bool shopInfoShown = false;     // shop information at all
    bool shopCompanyShown = true;   // shop: company
    bool shopNameShown = true;      // shop: shop name
    bool shopRegisterShown = false; // shop: register

    friend bool operator==(const DisplayFlags&, const DisplayFlags&) = default;
};

} // namespace ridelog
