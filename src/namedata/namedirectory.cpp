#include "namedata/namedirectory.h"

#include "namedata/cp932.h"

namespace ridelog::nameserver {

namespace {

constexpr qsizetype kMaxFieldCharacters = 120;

template <typename Map, typename Key> const auto* findEntry(const Map& map, Key key)
{
    const auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
}

} // namespace

QString answerFieldText(const QString& part)
{
    QString text = part.left(kMaxFieldCharacters);
    for (QChar& c : text) {
        if (c == u',')
            c = QChar(u'\uFF0C');
        else if (c == u':')
            c = QChar(u'\uFF1A');
        else if (c.category() == QChar::Other_Control)
            c = QChar(u' ');
    }
    if (text.trimmed().isEmpty())
        return QStringLiteral(" ");
    return text;
}

std::string answerRecordTail(std::initializer_list<QString> parts)
{
    // Parts hold no "," or ":" any more, so the record is encoded in one go.
    QString text;
    for (const QString& part : parts) {
        text += u',';
        text += answerFieldText(part);
    }
    text += u':';
    return cp932::encode(text).toStdString();
}

bool NameDirectory::addRail(StationKey key, const RailNames& names)
{
    return rail_
        .try_emplace(key, Entry<RailNames>{names, answerRecordTail(
                                                      {names.company, names.line, names.station})})
        .second;
}

bool NameDirectory::addBus(BusStopKey key, const BusNames& names)
{
    return bus_
        .try_emplace(
            key, Entry<BusNames>{names, answerRecordTail({names.company, names.stop, names.route})})
        .second;
}

bool NameDirectory::addShop(ShopKey key, const ShopNames& names)
{
    key.ac = 0;
    return shop_
        .try_emplace(key,
                     Entry<ShopNames>{names, answerRecordTail({names.company, names.store,
                                                               names.cashRegister, names.note})})
        .second;
}

const RailNames* NameDirectory::rail(StationKey key) const
{
    const auto* entry = findEntry(rail_, key);
    return entry ? &entry->names : nullptr;
}

const BusNames* NameDirectory::bus(BusStopKey key) const
{
    const auto* entry = findEntry(bus_, key);
    return entry ? &entry->names : nullptr;
}

const ShopNames* NameDirectory::shop(ShopKey key) const
{
    key.ac = 0;
    const auto* entry = findEntry(shop_, key);
    return entry ? &entry->names : nullptr;
}

const std::string* NameDirectory::railRecordTail(StationKey key) const
{
    const auto* entry = findEntry(rail_, key);
    return entry ? &entry->recordTail : nullptr;
}

const std::string* NameDirectory::busRecordTail(BusStopKey key) const
{
    const auto* entry = findEntry(bus_, key);
    return entry ? &entry->recordTail : nullptr;
}

const std::string* NameDirectory::shopRecordTail(ShopKey key) const
{
    key.ac = 0;
    const auto* entry = findEntry(shop_, key);
    return entry ? &entry->recordTail : nullptr;
}

} // namespace ridelog::nameserver
