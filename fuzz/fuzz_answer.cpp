// libFuzzer target: the reader of station-name server answers.
// The first byte picks the display flags and whether the answer counts as cut off; the rest
// is the answer body as the server sent it.
#include "names/nameexchange.h"
#include "names/nameprotocol.h"

#include <cstddef>
#include <cstdint>

namespace {

ridelog::DisplayFlags flagsFrom(std::uint8_t bits)
{
    ridelog::DisplayFlags flags;
    flags.railCompanyShown = bits & 0x01;
    flags.railLineShown = bits & 0x02;
    flags.busCompanyShown = bits & 0x04;
    flags.busRouteShown = bits & 0x08;
    flags.shopInfoShown = bits & 0x10;
    flags.shopCompanyShown = bits & 0x20;
    flags.shopNameShown = bits & 0x40;
    flags.shopRegisterShown = bits & 0x80;
    return flags;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const ridelog::DisplayFlags flags = flagsFrom(data[0]);
    ridelog::NameExchangeResult result;
    result.httpStatus = 200;
    result.cutOff = (data[0] & 0x11) == 0x11;
    result.body = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    ridelog::NameRefreshTable table;
    const QString text = ridelog::readNameExchangeResult(result, flags, table);
    // Every row key is the head of some record, so never longer than the answer.
    for (const auto& [key, row] : table) {
        if (key.size() > result.body.size())
            __builtin_trap();
    }
    if (!result.cutOff && !text.isEmpty())
        __builtin_trap();
    return 0;
}
