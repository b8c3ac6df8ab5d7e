#include "card/simulatedcard.h"

#include <QList>
#include <algorithm>
#include <span>

namespace ridelog::card {

namespace {

struct LineError
{
    QString message;
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hex bytes from blank-separated groups; each group holds whole bytes.
std::optional<QByteArray> hexBytes(const QList<QByteArray>& groups, qsizetype firstGroup,
                                   QString* error)
{
    QByteArray bytes;
    for (qsizetype g = firstGroup; g < groups.size(); ++g) {
        const QByteArray& group = groups[g];
        if (group.size() % 2 != 0) {
            *error =
                QStringLiteral("odd number of hex digits in \"%1\"").arg(QString::fromUtf8(group));
            return std::nullopt;
        }
        for (qsizetype i = 0; i < group.size(); i += 2) {
            const int high = hexValue(group[i]);
            const int low = hexValue(group[i + 1]);
            if (high < 0 || low < 0) {
                *error = QStringLiteral("bad hex digit in \"%1\"").arg(QString::fromUtf8(group));
                return std::nullopt;
            }
            bytes.append(char(high * 16 + low));
        }
    }
    return bytes;
}

template <std::size_t N>
std::optional<LineError> fixedBytes(const QList<QByteArray>& groups, qsizetype firstGroup,
                                    std::array<std::uint8_t, N>& out)
{
    QString error;
    const auto bytes = hexBytes(groups, firstGroup, &error);
    if (!bytes)
        return LineError{error};
    if (bytes->size() != qsizetype(N))
        return LineError{QStringLiteral("expected %1 bytes, found %2").arg(N).arg(bytes->size())};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = std::uint8_t(bytes->at(qsizetype(i)));
    return std::nullopt;
}

std::optional<int> decimalIn(const QByteArray& text, int low, int high)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

class CardFileParser
{
public:
    std::optional<LineError> parseLine(const QList<QByteArray>& groups)
    {
        const QByteArray& keyword = groups.front();
        if (keyword == "idm") {
            haveIdm_ = true;
            return fixedBytes(groups, 1, card_.idm);
        }
        if (keyword == "pmm")
            return fixedBytes(groups, 1, card_.pmm);
        if (keyword == "block")
            return current_ ? parseServiceBlock(groups) : parseBlock(groups);
        if (keyword == "service")
            return parseService(groups);
        if (keyword == "max-blocks-per-read")
            return parseNumber(groups, 1, felica::kMaxBlocksPerRead, card_.maxBlocksPerRead);
        if (keyword == "fail-after") {
            int value = 0;
            auto error = parseNumber(groups, 0, 1000000, value);
            if (!error)
                card_.failAfter = value;
            return error;
        }
        return LineError{QStringLiteral("unknown item \"%1\"").arg(QString::fromUtf8(keyword))};
    }

    bool haveIdm() const { return haveIdm_; }
    const SimulatedCard& card() const { return card_; }

private:
    std::optional<LineError> parseBlock(const QList<QByteArray>& groups)
    {
        if (groups.size() < 3)
            return LineError{QStringLiteral("a block line needs a number and 16 bytes")};
        const auto index = decimalIn(groups[1], 0, kSimulatedHistoryBlocks - 1);
        if (!index)
            return LineError{QStringLiteral("block number \"%1\" is not between 0 and %2")
                                 .arg(QString::fromUtf8(groups[1]))
                                 .arg(kSimulatedHistoryBlocks - 1)};
        if (listed_[std::size_t(*index)])
            return LineError{QStringLiteral("block %1 is listed twice").arg(*index)};
        listed_[std::size_t(*index)] = true;
        return fixedBytes(groups, 2, card_.blocks[std::size_t(*index)]);
    }

    std::optional<LineError> parseService(const QList<QByteArray>& groups)
    {
        std::array<std::uint8_t, 2> code{};
        if (groups.size() != 2 || groups[1].size() != 4 || fixedBytes(groups, 1, code))
            return LineError{QStringLiteral("a service line needs a code of 4 hex digits")};
        const std::uint16_t value = std::uint16_t(code[0] << 8 | code[1]);
        if (std::find(seenServices_.begin(), seenServices_.end(), value) != seenServices_.end())
            return LineError{
                QStringLiteral("service %1 is listed twice").arg(QString::fromLatin1(groups[1]))};
        seenServices_.push_back(value);
        current_.reset();
        if (value == felica::kHistoryServiceCode)
            return std::nullopt;
        card_.services.push_back(SimulatedService{value, {}});
        listedInService_.push_back(0);
        current_ = card_.services.size() - 1;
        if (value == felica::kGateLogServiceCode)
            card_.services.back().blocks.resize(felica::kGateLogBlocks);
        return std::nullopt;
    }

    std::optional<LineError> parseServiceBlock(const QList<QByteArray>& groups)
    {
        SimulatedService& service = card_.services[*current_];
        const bool gateLog = service.code == felica::kGateLogServiceCode;
        const int highest = gateLog ? felica::kGateLogBlocks - 1 : kSimulatedHistoryBlocks - 1;
        if (groups.size() < 3)
            return LineError{QStringLiteral("a block line needs a number and 16 bytes")};
        const auto index = decimalIn(groups[1], 0, highest);
        if (!index)
            return LineError{QStringLiteral("block number \"%1\" is not between 0 and %2")
                                 .arg(QString::fromUtf8(groups[1]))
                                 .arg(highest)};
        const std::uint32_t bit = 1u << *index;
        if (listedInService_[*current_] & bit)
            return LineError{QStringLiteral("block %1 is listed twice").arg(*index)};
        listedInService_[*current_] |= bit;
        if (std::size_t(*index) >= service.blocks.size())
            service.blocks.resize(std::size_t(*index) + 1);
        return fixedBytes(groups, 2, service.blocks[std::size_t(*index)]);
    }

    static std::optional<LineError> parseNumber(const QList<QByteArray>& groups, int low, int high,
                                                int& out)
    {
        const auto value = groups.size() == 2 ? decimalIn(groups[1], low, high) : std::nullopt;
        if (!value)
            return LineError{QStringLiteral("%1 needs one number from %2 to %3")
                                 .arg(QString::fromUtf8(groups[0]))
                                 .arg(low)
                                 .arg(high)};
        out = *value;
        return std::nullopt;
    }

    SimulatedCard card_;
    bool haveIdm_ = false;
    std::array<bool, kSimulatedHistoryBlocks> listed_{};
    std::vector<std::uint16_t> seenServices_;
    std::optional<std::size_t> current_; // the service whose blocks follow; none: 090F
    std::vector<std::uint32_t> listedInService_;
};

QList<QByteArray> groupsOfLine(QByteArray line)
{
    const qsizetype comment = line.indexOf('#');
    if (comment >= 0)
        line.truncate(comment);
    return line.simplified().split(' ');
}

bool systemCodeMatches(std::uint8_t high, std::uint8_t low)
{
    // 0xFF in either byte of a polled system code stands for any value.
    return (high == 0xFF || high == (felica::kTransitSystemCode >> 8)) &&
           (low == 0xFF || low == (felica::kTransitSystemCode & 0xFF));
}

std::optional<QByteArray> answerPolling(const SimulatedCard& card, QByteArrayView frame)
{
    if (frame.size() != 6 || std::uint8_t(frame[0]) != 6)
        return std::nullopt;
    if (!systemCodeMatches(std::uint8_t(frame[2]), std::uint8_t(frame[3])))
        return std::nullopt;
    const std::uint8_t requestCode = std::uint8_t(frame[4]);
    QByteArray answer;
    answer.append(char(0));
    answer.append(char(felica::kPollingResponse));
    for (std::uint8_t b : card.idm)
        answer.append(char(b));
    for (std::uint8_t b : card.pmm)
        answer.append(char(b));
    if (requestCode == 1) { // system code
        answer.append(char(felica::kTransitSystemCode >> 8));
        answer.append(char(felica::kTransitSystemCode & 0xFF));
    } else if (requestCode == 2) { // communication performance: 212 kbit/s only
        answer.append(char(0x00));
        answer.append(char(0x01));
    }
    answer[0] = char(answer.size());
    return answer;
}

std::uint16_t serviceCodeAt(QByteArrayView serviceCodeList, int index)
{
    return std::uint16_t(std::uint8_t(serviceCodeList[2 * index]) |
                         std::uint8_t(serviceCodeList[2 * index + 1]) << 8);
}

// The blocks of a service the card has; nullopt for one it lacks.
std::optional<std::span<const SimulatedBlock>> serviceBlocks(const SimulatedCard& card,
                                                             std::uint16_t code)
{
    if (code == felica::kHistoryServiceCode)
        return std::span<const SimulatedBlock>(card.blocks);
    if (const SimulatedService* service = card.service(code))
        return std::span<const SimulatedBlock>(service->blocks);
    return std::nullopt;
}

std::optional<QByteArray> answerRequestService(const SimulatedCard& card, QByteArrayView frame)
{
    const auto command = felica::parseRequestServiceFrame(frame);
    if (!command || command->idm != card.idm)
        return std::nullopt;
    std::vector<std::uint16_t> versions;
    versions.reserve(command->nodeCodes.size());
    for (const std::uint16_t code : command->nodeCodes)
        versions.push_back(serviceBlocks(card, code) ? 0x0000 : felica::kNoSuchNode);
    return felica::requestServiceResponseFrame(card.idm, versions);
}

std::optional<QByteArray> answerRead(const SimulatedCard& card, QByteArrayView frame)
{
    const auto command = felica::parseReadWithoutEncryptionFrame(frame);
    if (!command || command->idm != card.idm)
        return std::nullopt;
    const int services = int(command->serviceCodeList.size() / 2);
    std::vector<std::span<const SimulatedBlock>> blocksOf;
    for (int s = 0; s < services; ++s) {
        const auto blocks = serviceBlocks(card, serviceCodeAt(command->serviceCodeList, s));
        if (!blocks)
            return felica::readErrorFrame(card.idm, 0xFF, 0xA6);
        blocksOf.push_back(*blocks);
    }
    if (command->blockCount > card.maxBlocksPerRead)
        return felica::readErrorFrame(card.idm, 0xFF, felica::kStatusIllegalBlockCount);
    QByteArray data;
    data.reserve(command->blockCount * felica::kBlockSize);
    qsizetype offset = 0;
    while (offset < command->blockList.size()) {
        const auto element = felica::blockListElementAt(command->blockList, offset);
        offset += element->size;
        if (element->serviceIndex >= services)
            return felica::readErrorFrame(card.idm, 0xFF, 0xA3);
        if ((std::uint8_t(command->blockList[offset - element->size]) & 0x70) != 0)
            return felica::readErrorFrame(card.idm, 0xFF, 0xA7);
        const auto blocks = blocksOf[std::size_t(element->serviceIndex)];
        if (std::size_t(element->blockNumber) >= blocks.size())
            return felica::readErrorFrame(card.idm, 0xFF, felica::kStatusIllegalBlockNumber);
        const auto& block = blocks[std::size_t(element->blockNumber)];
        data.append(reinterpret_cast<const char*>(block.data()), felica::kBlockSize);
    }
    return felica::readResponseFrame(card.idm, data);
}

} // namespace

const SimulatedService* SimulatedCard::service(std::uint16_t code) const
{
    for (const SimulatedService& candidate : services) {
        if (candidate.code == code)
            return &candidate;
    }
    return nullptr;
}

CardFileResult parseCardFile(const QByteArray& text)
{
    CardFileResult result;
    CardFileParser parser;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (i == 0 && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3);
        const QList<QByteArray> groups = groupsOfLine(line);
        if (groups.front().isEmpty())
            continue;
        if (auto error = parser.parseLine(groups)) {
            result.errorLine = int(i + 1);
            result.error = error->message;
            return result;
        }
    }
    if (!parser.haveIdm()) {
        result.error = QStringLiteral("no idm line");
        return result;
    }
    result.card = parser.card();
    return result;
}

std::optional<QByteArray> answerCommand(const SimulatedCard& card, QByteArrayView frame)
{
    if (frame.size() < 2 || std::uint8_t(frame[0]) != frame.size())
        return std::nullopt;
    switch (std::uint8_t(frame[1])) {
    case felica::kPollingCommand:
        return answerPolling(card, frame);
    case felica::kReadWithoutEncryptionCommand:
        return answerRead(card, frame);
    case felica::kRequestServiceCommand:
        return answerRequestService(card, frame);
    default:
        return std::nullopt;
    }
}

} // namespace ridelog::card
