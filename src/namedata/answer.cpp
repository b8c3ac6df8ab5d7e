#include "namedata/answer.h"

#include <charconv>

namespace ridelog::nameserver {

namespace {

const std::string* recordTailFor(const RequestItem& item, const NameDirectory& directory)
{
    switch (item.code) {
    case ItemCode::RailEntry:
    case ItemCode::RailExit:
        return directory.railRecordTail(StationKey{
            std::uint8_t(item.first), std::uint8_t(item.second), std::uint8_t(item.third)});
    case ItemCode::Shop:
        return directory.shopRecordTail(ShopKey{0, std::uint8_t(item.first), item.second});
    case ItemCode::Bus:
        return directory.busRecordTail(BusStopKey{item.first, item.second});
    }
    return nullptr;
}

void appendSerialAndCode(std::string& answer, const RequestItem& item)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, item.serial).ptr;
    answer.append(digits, end);
    const int code = int(item.code);
    answer += char('0' + code / 10);
    answer += char('0' + code % 10);
}

} // namespace

std::string buildAnswer(const std::vector<RequestItem>& items, const NameDirectory& directory)
{
    std::string answer;
    for (const RequestItem& item : items) {
        const std::string* tail = recordTailFor(item, directory);
        if (!tail)
            continue;
        appendSerialAndCode(answer, item);
        answer += *tail;
    }
    if (answer.empty())
        return std::string(kNoDataAnswer);
    return answer;
}

} // namespace ridelog::nameserver
