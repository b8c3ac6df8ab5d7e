#include "names/composition.h"

namespace ridelog {

QString composeRailName(const QString& company, const QString& line, const QString& station,
                        const DisplayFlags& flags)
{
    if (flags.ipnComShow && flags.ipnLinShow)
        return station + u'(' + company + u'：' + line + QStringLiteral("線)");
    if (flags.ipnComShow)
        return station + u'(' + company + u')';
    if (flags.ipnLinShow)
        return station + u'(' + line + QStringLiteral("線)");
    return station;
}

QString composeBusName(const QString& company, const QString& stop, const QString& route,
                       const DisplayFlags& flags, BusColon colon)
{
    const QChar separator = colon == BusColon::FullWidth ? QChar(u'：') : QChar(u':');
    const bool withRoute = flags.busLinShow && !route.isEmpty();
    if (flags.busComShow && withRoute)
        return stop + u'(' + company + separator + route + u')';
    if (flags.busComShow)
        return stop + u'(' + company + u')';
    if (withRoute)
        return stop + u'(' + route + u')';
    return stop;
}

QString composeShopName(const QString& company, const QString& shop, const QString& cashRegister,
                        const DisplayFlags& flags)
{
    if (!flags.bpnShow)
        return QStringLiteral(" ");

    QString name;
    if (flags.bpnStoShow && flags.bpnRegShow)
        name = shop + u' ' + cashRegister;
    else if (flags.bpnStoShow)
        name = shop;
    else if (flags.bpnRegShow)
        name = cashRegister;
    if (flags.bpnComShow)
        name += u'(' + company + u')';
    return name.isEmpty() ? QStringLiteral(" ") : name;
}

} // namespace ridelog
