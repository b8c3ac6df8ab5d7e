// The display settings that decide which parts make up a shown name.
#pragma once

namespace ridelog {

struct DisplayFlags
{
    bool zanViewM = false;   // balance field shown
    bool ipnComShow = false; // rail: company
    bool ipnLinShow = true;  // rail: line
    bool busComShow = true;  // bus: company
    bool busLinShow = false; // bus: route
    bool bpnShow = false;    // shop information at all
    bool bpnComShow = true;  // shop: company
    bool bpnStoShow = true;  // shop: shop name
    bool bpnRegShow = false; // shop: register

    friend bool operator==(const DisplayFlags&, const DisplayFlags&) = default;
};

} // namespace ridelog
