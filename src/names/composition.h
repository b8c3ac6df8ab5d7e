// Composition of shown names from their parts under the display flags.
#pragma once

#include "store/displayflags.h"

#include <QString>

namespace ridelog {

// station + "(" + company + "：" + line + "線)" and its reduced forms.
QString composeRailName(const QString& company, const QString& line, const QString& station,
                        const DisplayFlags& flags);

// The list re-renders bus names with the full-width colon; names composed from a server
// answer use the ASCII colon.
enum class BusColon
{
    FullWidth,
    Ascii
};

// stop + "(" + company + colon + route + ")" and its reduced forms; an empty route drops
// its part.
QString composeBusName(const QString& company, const QString& stop, const QString& route,
                       const DisplayFlags& flags, BusColon colon = BusColon::FullWidth);

// A shop name; never empty: one blank stands for "nothing to show".
QString composeShopName(const QString& company, const QString& shop, const QString& cashRegister,
                        const DisplayFlags& flags);

} // namespace ridelog
