#include "card/carddump.h"

#include "card/simulatedcard.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <map>

namespace ridelog::card {

namespace {

const QByteArray kBlockListHeader = QByteArrayLiteral("# Ridelog card blocks 1");
const QByteArray kFlipperFileType = QByteArrayLiteral("Filetype: Flipper NFC device");
constexpr std::uint16_t kTransitSystem = 0x0003;
constexpr std::uint16_t kHistoryService = 0x090F;

CardDumpResult refused(QString error, int line = 0)
{
    CardDumpResult result;
    result.error = std::move(error);
    result.errorLine = line;
    return result;
}

QString hexText(const std::uint8_t* bytes, std::size_t count)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes), qsizetype(count)).toHex().toUpper());
}

// Hex bytes with optional blanks between them; nothing when a digit is bad or one is left over.
std::optional<QByteArray> hexBytes(QByteArrayView text)
{
    QByteArray digits;
    digits.reserve(text.size());
    for (const char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex)
            return std::nullopt;
        digits.append(c);
    }
    if (digits.size() % 2 != 0)
        return std::nullopt;
    return QByteArray::fromHex(digits);
}

HistoryBlock blockOf(const QByteArray& bytes)
{
    HistoryBlock block{};
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.constData()), block.size(),
                block.begin());
    return block;
}

QList<QByteArray> textLines(const QByteArray& text)
{
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

QByteArray firstMeaningfulLine(const QByteArray& text)
{
    for (const QByteArray& line : textLines(text.left(4096))) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return QByteArray();
}

// ------------------------------------------------------------------------------ card files

CardDumpResult parseCardFileDump(const QByteArray& text)
{
    const CardFileResult parsed = parseCardFile(text);
    if (!parsed.card)
        return refused(parsed.error, parsed.errorLine);
    CardDump dump;
    dump.kind = CardDumpKind::CardFile;
    dump.idmText = hexText(parsed.card->idm.data(), parsed.card->idm.size());
    for (const auto& bytes : parsed.card->blocks) {
        HistoryBlock block{};
        std::copy(bytes.begin(), bytes.end(), block.begin());
        dump.blocks.push_back(block);
    }
    CardDumpResult result;
    result.dump = std::move(dump);
    return result;
}

// ------------------------------------------------------------------------------ block lists

CardDumpResult parseBlockList(const QByteArray& text)
{
    CardDump dump;
    dump.kind = CardDumpKind::BlockList;
    std::map<std::uint32_t, HistoryBlock> blocks;
    const QList<QByteArray> lines = textLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i + 1);
        const QByteArray& line = lines[i];
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        const QByteArray& key = fields.constFirst();
        if (key == "idm" && fields.size() == 2) {
            const auto idm = hexBytes(fields[1]);
            if (!idm || idm->size() != 8)
                return refused(QStringLiteral("the IDm is not 8 bytes of hex"), lineNumber);
            dump.idmText = QString::fromLatin1(idm->toHex().toUpper());
        } else if (key == "read" && fields.size() == 2) {
            dump.readAt = QDateTime::fromString(QString::fromLatin1(fields[1]), Qt::ISODate);
            if (!dump.readAt.isValid())
                return refused(QStringLiteral("the read time is not an ISO 8601 time"), lineNumber);
        } else if (key == "block" && fields.size() == 3) {
            bool numeric = false;
            const uint serial = fields[1].toUInt(&numeric);
            const auto bytes = hexBytes(fields[2]);
            if (!numeric || !bytes || bytes->size() != kHistoryBlockSize)
                return refused(QStringLiteral("a block line needs a serial and 16 bytes of hex"),
                               lineNumber);
            const HistoryBlock block = blockOf(*bytes);
            if (blockSerial(block) != serial)
                return refused(QStringLiteral("the serial %1 does not match the block's bytes (%2)")
                                   .arg(serial)
                                   .arg(blockSerial(block)),
                               lineNumber);
            if (!blocks.emplace(serial, block).second)
                return refused(QStringLiteral("serial %1 is listed twice").arg(serial), lineNumber);
        } else {
            return refused(QStringLiteral("not a line of a card block list"), lineNumber);
        }
    }
    if (dump.idmText.isEmpty())
        return refused(QStringLiteral("the file names no IDm"));
    for (auto it = blocks.rbegin(); it != blocks.rend(); ++it)
        dump.blocks.push_back(it->second);
    CardDumpResult result;
    result.dump = std::move(dump);
    return result;
}

// --------------------------------------------------------------------------- Flipper Zero

struct FlipperBlock
{
    int index = 0;
    HistoryBlock block{};
};

struct FlipperCard
{
    QString idmText;
    QString icType;
    std::vector<std::uint16_t> systems;
    bool hasHistoryService = false;
    std::optional<int> announcedBlocks;
    int publicBlocks = 0;
    std::vector<FlipperBlock> history;
};

// "| Service code 090F | Block index 00 | Data: 16 ... |" after "Block NNNN:".
std::optional<QString> readFlipperBlock(const QByteArray& value, FlipperCard& card)
{
    const QList<QByteArray> cells = value.split('|');
    std::optional<std::uint16_t> service;
    std::optional<int> index;
    std::optional<QByteArray> data;
    for (const QByteArray& rawCell : cells) {
        const QByteArray cell = rawCell.trimmed();
        bool ok = false;
        if (cell.startsWith("Service code ")) {
            const uint code = cell.mid(13).trimmed().toUInt(&ok, 16);
            if (ok && code <= 0xFFFF)
                service = std::uint16_t(code);
        } else if (cell.startsWith("Block index ")) {
            const uint number = cell.mid(12).trimmed().toUInt(&ok, 16);
            if (ok)
                index = int(number);
        } else if (cell.startsWith("Data:")) {
            data = hexBytes(cell.mid(5));
            if (!data)
                return QStringLiteral("the block data is not hex");
        }
    }
    // A line cut short loses its closing bar or the end of its data.
    if (!service || !index || !data || !value.trimmed().endsWith('|'))
        return QStringLiteral("an incomplete block line");
    if (data->size() != kHistoryBlockSize)
        return QStringLiteral("a block of %1 bytes; a block has 16").arg(data->size());
    ++card.publicBlocks;
    if (*service == kHistoryService)
        card.history.push_back({*index, blockOf(*data)});
    return std::nullopt;
}

std::optional<QString> readFlipperLine(const QByteArray& key, const QByteArray& value,
                                       FlipperCard& card)
{
    bool ok = false;
    if (key == "Device type") {
        if (value != "FeliCa")
            return QStringLiteral("a %1 card, not a FeliCa card").arg(QString::fromUtf8(value));
    } else if (key == "Manufacture id" || (key == "UID" && card.idmText.isEmpty())) {
        const auto idm = hexBytes(value);
        if (!idm || idm->size() != 8)
            return QStringLiteral("the IDm is not 8 bytes of hex");
        card.idmText = QString::fromLatin1(idm->toHex().toUpper());
    } else if (key == "Data format version" && value == "1") {
        // The first FeliCa format of the Flipper holds FeliCa Lite cards only.
        return QStringLiteral("a FeliCa Lite dump (data format 1) has no transit system (0x0003)");
    } else if (key == "IC Type") {
        card.icType = QString::fromUtf8(value);
    } else if (key.startsWith("System ") && key != "System found") {
        const uint code = value.toUInt(&ok, 16);
        if (!ok || code > 0xFFFF)
            return QStringLiteral("a system code that is not 4 hex digits");
        card.systems.push_back(std::uint16_t(code));
    } else if (key.startsWith("Service ") && key != "Service found") {
        if (value.contains("Code 090F") || value.contains("Code 090f"))
            card.hasHistoryService = true;
    } else if (key == "Public blocks read") {
        const int count = value.toInt(&ok);
        if (!ok || count < 0)
            return QStringLiteral("the block count is not a number");
        card.announcedBlocks = count;
    } else if (key.startsWith("Block ")) {
        return readFlipperBlock(value, card);
    }
    return std::nullopt;
}

QString systemList(const std::vector<std::uint16_t>& systems)
{
    QStringList codes;
    for (const std::uint16_t code : systems)
        codes.append(QStringLiteral("0x") +
                     QString::number(code, 16).rightJustified(4, QLatin1Char('0')).toUpper());
    return codes.join(QStringLiteral(", "));
}

CardDumpResult parseFlipperNfc(const QByteArray& text)
{
    FlipperCard card;
    bool sawDeviceType = false;
    const QList<QByteArray> lines = textLines(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return refused(QStringLiteral("not a line of a Flipper NFC file"), int(i + 1));
        const QByteArray key = line.left(colon).trimmed();
        sawDeviceType = sawDeviceType || key == "Device type";
        if (const auto error = readFlipperLine(key, line.mid(colon + 1).trimmed(), card))
            return refused(*error, int(i + 1));
    }
    if (!sawDeviceType)
        return refused(QStringLiteral("the file names no device type"));
    if (card.idmText.isEmpty())
        return refused(QStringLiteral("the file names no IDm"));
    if (!card.icType.isEmpty() && !card.icType.contains(QStringLiteral("Standard")))
        return refused(QStringLiteral("a %1 card has no transit system (0x0003)").arg(card.icType));
    if (card.systems.empty())
        return refused(QStringLiteral("the file lists no system; a transit card has 0x0003"));
    if (std::find(card.systems.begin(), card.systems.end(), kTransitSystem) == card.systems.end())
        return refused(QStringLiteral("the card's systems are %1, not the transit system 0x0003")
                           .arg(systemList(card.systems)));
    if (!card.hasHistoryService || card.history.empty())
        return refused(QStringLiteral("the file holds no history service 090F"));
    if (card.announcedBlocks && *card.announcedBlocks != card.publicBlocks)
        return refused(QStringLiteral("the file is cut short: %1 of %2 blocks")
                           .arg(card.publicBlocks)
                           .arg(*card.announcedBlocks));
    std::stable_sort(
        card.history.begin(), card.history.end(),
        [](const FlipperBlock& a, const FlipperBlock& b) { return a.index < b.index; });
    CardDump dump;
    dump.kind = CardDumpKind::FlipperNfc;
    dump.idmText = card.idmText;
    for (const FlipperBlock& block : card.history)
        dump.blocks.push_back(block.block);
    CardDumpResult result;
    result.dump = std::move(dump);
    return result;
}

} // namespace

CardDumpResult parseCardDump(const QByteArray& text)
{
    const QByteArray first = firstMeaningfulLine(text);
    if (first == kFlipperFileType)
        return parseFlipperNfc(text);
    if (first == kBlockListHeader)
        return parseBlockList(text);
    if (first.startsWith("Filetype:"))
        return refused(QStringLiteral("a Flipper file that is not of an NFC device"), 1);
    return parseCardFileDump(text);
}

CardDumpResult readCardDump(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return refused(QStringLiteral("no such file"));
    if (!info.isFile())
        return refused(QStringLiteral("not a regular file"));
    if (info.size() > kMaxCardDumpBytes)
        return refused(QStringLiteral("%1 bytes is too large for a card dump").arg(info.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(file.errorString());
    // Read one byte past the limit, in case the file grew since it was looked at.
    const QByteArray text = file.read(kMaxCardDumpBytes + 1);
    if (text.size() > kMaxCardDumpBytes)
        return refused(QStringLiteral("too large for a card dump"));
    CardDumpResult result = parseCardDump(text);
    if (result.dump && !result.dump->readAt.isValid())
        result.dump->readAt = info.lastModified().toUTC();
    return result;
}

QString cardDumpKindName(CardDumpKind kind)
{
    switch (kind) {
    case CardDumpKind::CardFile:
        return QStringLiteral("card file");
    case CardDumpKind::FlipperNfc:
        return QStringLiteral("Flipper Zero NFC file");
    case CardDumpKind::BlockList:
        return QStringLiteral("card block list");
    }
    return QString();
}

QByteArray cardBlockListText(const QString& idmText, std::span<const HistoryBlock> blocks,
                             const QDateTime& readAt)
{
    QByteArray text = kBlockListHeader + '\n';
    text += "idm\t" + idmText.toLatin1() + '\n';
    if (readAt.isValid())
        text += "read\t" + readAt.toUTC().toString(Qt::ISODate).toLatin1() + '\n';
    for (const HistoryBlock& block : blocks) {
        text += "block\t" + QByteArray::number(blockSerial(block)) + '\t' +
                QByteArray(reinterpret_cast<const char*>(block.data()), kHistoryBlockSize)
                    .toHex()
                    .toUpper() +
                '\n';
    }
    return text;
}

} // namespace ridelog::card
