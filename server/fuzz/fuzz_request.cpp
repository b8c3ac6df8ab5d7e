// libFuzzer target: request bodies of any shape go through the parser and the answer builder.
#include "namedata/answer.h"
#include "namedata/request.h"

#include <QString>
#include <cstdlib>

using namespace ridelog::nameserver;

namespace {

const NameDirectory& smallDirectory()
{
    static const NameDirectory directory = [] {
        NameDirectory names;
        names.addRail({0, 0x25, 0x0A},
                      {QStringLiteral("JR東日本"), QStringLiteral("山手"), QStringLiteral("新宿")});
        names.addRail({0, 0, 0}, {QStringLiteral("a,b"), QStringLiteral("c:d"), QString()});
        names.addBus({0, 0}, {QStringLiteral("A社"), QString(), QStringLiteral("X系統")});
        names.addShop({0, 0xC7, 0x0D65}, {QStringLiteral("新星堂"), QStringLiteral("柏店"),
                                          QString(), QStringLiteral("1F")});
        return names;
    }();
    return directory;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const ParsedRequest request = parseRequestBody(body);
    check(request.wellFormed || request.items.empty());
    for (const RequestItem& item : request.items) {
        check(item.serial <= 0xFFFFFF);
        const bool rail = item.code == ItemCode::RailEntry || item.code == ItemCode::RailExit;
        check(!rail || (item.first <= 0xFF && item.second <= 0xFF && item.third <= 0xFF));
    }
    const std::string answer = buildAnswer(request.items, smallDirectory());
    check(!answer.empty());
    check(answer == kNoDataAnswer || answer.back() == ':');
    return 0;
}
