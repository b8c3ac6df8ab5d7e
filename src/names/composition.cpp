#include "names/composition.h"

namespace ridelog {

QString composeRailName(const QString& company, const QString& line, const QString& station,
                        const DisplayFlags& flags)
{
    if (flags.railCompanyShown && flags.railLineShown)
        return station + u'(' + company + u'：' + line + QStringLiteral("線)");
    if (flags.railCompanyShown)
        return station + u'(' + company + u')';
    if (flags.railLineShown)
        return station + u'(' + line + QStringLiteral("線)");
    return station;
}

QString composeBusName(const QString& company, const QString& stop, const QString& route,
                       const DisplayFlags& flags, BusColon colon)
{
    const QChar separator = colon == BusColon::FullWidth ? QChar(u'：') : QChar(u':');
    const bool withRoute = flags.busRouteShown && !route.isEmpty();
    if (flags.busCompanyShown && withRoute)
        return stop + u'(' + company + separator + route + u')';
    if (flags.busCompanyShown)
        return stop + u'(' + company + u')';
    if (withRoute)
        return stop + u'(' + route + u')';
    return stop;
}

QString composeShopName(const QString& company, const QString& shop, const QString& cashRegister,
                        const DisplayFlags& flags)
{
    if (!flags.shopInfoShown)
        return QStringLiteral(" ");

    QString name;
    if (flags.shopNameShown && flags.shopRegisterShown)
        name = shop + u' ' + cashRegister;
    else if (flags.shopNameShown)
        name = shop;
    else if (flags.shopRegisterShown)
        name = cashRegister;
    if (flags.shopCompanyShown)
        name += u'(' + company + u')';
    return name.isEmpty() ? QStringLiteral(" ") : name;
}

} // namespace ridelog
