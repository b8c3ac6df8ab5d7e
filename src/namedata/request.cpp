#include "namedata/request.h"

#include <charconv>

namespace ridelog::nameserver {

namespace {

constexpr std::uint32_t kMaxSerial = 0xFFFFFF;
constexpr std::size_t kMaxKeyParts = 3;

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDecimal(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Unsigned decimal up to `max`.
std::optional<std::uint32_t> parseNumber(std::string_view text, std::uint32_t max)
{
    if (!isDecimal(text) || text.size() > 9)
        return std::nullopt;
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value > max)
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitAt(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return pieces;
        start = end + 1;
    }
}

// The value of the first field `name` of a form body.
std::optional<std::string_view> formField(std::string_view body, std::string_view name)
{
    for (const std::string_view pair : splitAt(body, '&')) {
        const std::size_t equals = pair.find('=');
        if (equals != std::string_view::npos && pair.substr(0, equals) == name)
            return pair.substr(equals + 1);
    }
    return std::nullopt;
}

std::optional<ItemCode> itemCodeOf(std::string_view digits)
{
    if (digits == "02")
        return ItemCode::RailEntry;
    if (digits == "04")
        return ItemCode::RailExit;
    if (digits == "11")
        return ItemCode::Shop;
    if (digits == "20")
        return ItemCode::Bus;
    return std::nullopt;
}

// The key parts after the serial and code; `limits` gives the largest value of each part.
bool parseKeyParts(const std::vector<std::string_view>& fields, const std::uint32_t (&limits)[3],
                   RequestItem& item)
{
    if (fields.size() != 1 + kMaxKeyParts)
        return false;
    std::uint16_t* parts[] = {&item.first, &item.second, &item.third};
    for (std::size_t i = 0; i < kMaxKeyParts; ++i) {
        const auto value = parseNumber(fields[i + 1], limits[i]);
        if (!value)
            return false;
        *parts[i] = std::uint16_t(*value);
    }
    return true;
}

// A bus key may be left out ("12320" or "12320,"): the card's key (0, 0).
bool isEmptyKey(const std::vector<std::string_view>& fields)
{
    for (std::size_t i = 1; i < fields.size(); ++i)
        if (!fields[i].empty())
            return false;
    return fields.size() <= 1 + kMaxKeyParts;
}

} // namespace

std::optional<std::string> decodeFormValue(std::string_view value)
{
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c == '+') {
            decoded += ' ';
        } else if (c == '%') {
            if (i + 2 >= value.size())
                return std::nullopt;
            const int high = hexDigitValue(value[i + 1]);
            const int low = hexDigitValue(value[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            decoded += char(high << 4 | low);
            i += 2;
        } else {
            decoded += c;
        }
    }
    return decoded;
}

std::optional<RequestItem> parseRequestItem(std::string_view itemText)
{
    const std::vector<std::string_view> fields = splitAt(itemText, ',');
    const std::string_view head = fields[0];
    if (head.size() < 3 || !isDecimal(head))
        return std::nullopt;
    const auto serial = parseNumber(head.substr(0, head.size() - 2), kMaxSerial);
    const auto code = itemCodeOf(head.substr(head.size() - 2));
    if (!serial || !code)
        return std::nullopt;

    RequestItem item;
    item.serial = *serial;
    item.code = *code;
    switch (*code) {
    case ItemCode::RailEntry:
    case ItemCode::RailExit:
        if (!parseKeyParts(fields, {0xFF, 0xFF, 0xFF}, item))
            return std::nullopt;
        break;
    case ItemCode::Shop:
        if (!parseKeyParts(fields, {0xFF, 0xFFFF, 0xFFFF}, item))
            return std::nullopt;
        break;
    case ItemCode::Bus:
        if (!isEmptyKey(fields) && !parseKeyParts(fields, {0xFFFF, 0xFFFF, 0xFFFF}, item))
            return std::nullopt;
        break;
    }
    return item;
}

ParsedRequest parseRequestBody(std::string_view body)
{
    ParsedRequest request;
    if (body.size() > kMaxRequestBodyBytes) {
        request.error = "request body too large";
        return request;
    }
    const auto field = formField(body, "a");
    if (!field) {
        request.error = "no item list (field \"a\")";
        return request;
    }
    return parseItemList(*field);
}

ParsedRequest parseItemList(std::string_view escapedItems)
{
    ParsedRequest request;
    const auto items = decodeFormValue(escapedItems);
    if (!items) {
        request.error = "broken percent escape in the item list";
        return request;
    }
    request.wellFormed = true;
    for (const std::string_view itemText : splitAt(*items, ':')) {
        if (itemText.empty())
            continue;
        if (const auto item = parseRequestItem(itemText))
            request.items.push_back(*item);
        else
            ++request.skippedItems;
    }
    return request;
}

} // namespace ridelog::nameserver
