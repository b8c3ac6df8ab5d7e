// libFuzzer target: the card-file parser of the simulated reader, and the simulated card's
// answer to a Read Without Encryption for every block of a card that parsed.
#include "card/simulatedcard.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const ridelog::card::CardFileResult result = ridelog::card::parseCardFile(text);
    if (result.card.has_value() != result.error.isEmpty())
        __builtin_trap();
    if (!result.card) {
        if (result.errorLine < 0)
            __builtin_trap();
        return 0;
    }
    const ridelog::card::SimulatedCard& card = *result.card;
    QByteArray read = QByteArray(1, '\0') + char(0x06);
    read.append(reinterpret_cast<const char*>(card.idm.data()), 8);
    read.append(QByteArray::fromHex("010f0914"));
    for (int i = 0; i < 20; ++i)
        read.append(char(0x80)).append(char(i));
    read[0] = char(read.size());
    const std::optional<QByteArray> answer = ridelog::card::answerCommand(card, read);
    if (answer && (answer->isEmpty() || std::uint8_t(answer->at(0)) != answer->size()))
        __builtin_trap();
    return 0;
}
