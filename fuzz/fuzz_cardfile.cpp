// libFuzzer target: the card-file parser of the simulated reader with its service sections, and
// the simulated card's answers, for a card that parsed, to a Read Without Encryption of its
// history, to one of each of its other services, and to a Request Service for them all.
#include "card/simulatedcard.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// The card's answer to frame, which must be a whole frame when there is one.
QByteArray checkAnswer(const ridelog::card::SimulatedCard& card, const QByteArray& frame)
{
    const std::optional<QByteArray> answer = ridelog::card::answerCommand(card, frame);
    if (answer && (answer->isEmpty() || std::uint8_t(answer->at(0)) != answer->size()))
        __builtin_trap();
    return answer.value_or(QByteArray());
}

} // namespace

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
    checkAnswer(card, read);

    namespace felica = ridelog::card::felica;
    std::vector<std::uint16_t> codes{felica::kHistoryServiceCode};
    for (const ridelog::card::SimulatedService& service : card.services) {
        if (service.code == felica::kHistoryServiceCode ||
            card.service(service.code) != &service) // listed once, found as listed
            __builtin_trap();
        if (service.code == felica::kGateLogServiceCode &&
            service.blocks.size() != std::size_t(felica::kGateLogBlocks))
            __builtin_trap();
        const char code[2] = {char(service.code & 0xFF), char(service.code >> 8)};
        const QByteArray list = QByteArray::fromHex("800080018002");
        checkAnswer(card,
                    felica::readWithoutEncryptionFrame(card.idm, QByteArrayView(code, 2), list));
        if (codes.size() < std::size_t(felica::kMaxNodesPerRequest))
            codes.push_back(service.code);
    }
    const auto versions = felica::parseRequestServiceResponse(
        checkAnswer(card, felica::requestServiceFrame(card.idm, codes)), card.idm,
        int(codes.size()));
    if (!versions)
        __builtin_trap();
    for (const std::uint16_t version : *versions) {
        if (version == felica::kNoSuchNode) // the card has every service its file lists
            __builtin_trap();
    }
    return 0;
}
