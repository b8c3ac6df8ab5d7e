#include "card/backends/pcscapdus.h"

#include "card/backends/backendsupport.h"

#include <optional>

namespace ridelog::card::pcsc {

using backends::hexBytes;
using backends::transceiveFailure;

namespace {

constexpr int maximumShortLc = 255;
constexpr std::uint8_t tagGenericErrorStatus = 0xC0;
constexpr std::uint8_t tagResponseData = 0x97;

QByteArray withStatusWordRemoved(const QByteArray& answer)
{
    return answer.left(answer.size() - 2);
}

bool endsWithSuccess(const QByteArray& answer)
{
    return answer.size() >= 2 && answer.endsWith(QByteArray::fromHex("9000"));
}

QByteArray shortApdu(const QByteArray& header, const QByteArray& data)
{
    if (data.size() > maximumShortLc)
        return {};
    return header + char(data.size()) + data;
}

struct Tlv
{
    std::uint8_t tag = 0;
    QByteArray value;
};

// One BER-TLV item (one-byte tag, short or 81/82 long length) at offset; advances offset.
std::optional<Tlv> nextTlv(const QByteArray& bytes, int* offset)
{
    int at = *offset;
    if (at + 2 > bytes.size())
        return std::nullopt;
    Tlv item;
    item.tag = std::uint8_t(bytes[at++]);
    int length = std::uint8_t(bytes[at++]);
    if (length == 0x81 || length == 0x82) {
        const int lengthBytes = length - 0x80;
        if (at + lengthBytes > bytes.size())
            return std::nullopt;
        length = 0;
        for (int i = 0; i < lengthBytes; ++i)
            length = (length << 8) | std::uint8_t(bytes[at++]);
    } else if (length > 0x7F) {
        return std::nullopt;
    }
    if (at + length > bytes.size())
        return std::nullopt;
    item.value = bytes.mid(at, length);
    *offset = at + length;
    return item;
}

TransceiveResult notAnswered(bool polling)
{
    return transceiveFailure(polling ? TransceiveStatus::NoCard : TransceiveStatus::Timeout,
                             QStringLiteral("the card did not answer"));
}

TransceiveResult garbled(const QByteArray& answer)
{
    return transceiveFailure(
        TransceiveStatus::Error,
        QStringLiteral("garbled answer from the reader: %1").arg(hexBytes(answer.left(32))));
}

TransceiveResult unwrapAcr122(const QByteArray& body, bool polling)
{
    // D5 43, the PN532 status byte, then the card's frame.
    if (body.size() < 3 || std::uint8_t(body[0]) != 0xD5 || std::uint8_t(body[1]) != 0x43)
        return garbled(body);
    const std::uint8_t status = std::uint8_t(body[2]) & 0x3F;
    if (status == 0x01) // time-out
        return notAnswered(polling);
    if (status != 0)
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("reader status error %1").arg(status, 2, 16, QLatin1Char('0')));
    return backends::checkedResponse(body.mid(3));
}

TransceiveResult unwrapTransparent(const QByteArray& body, bool polling)
{
    std::optional<QByteArray> response;
    int offset = 0;
    while (offset < body.size()) {
        const std::optional<Tlv> item = nextTlv(body, &offset);
        if (!item)
            return garbled(body);
        if (item->tag == tagGenericErrorStatus && (item->value.isEmpty() || item->value[0] != 0)) {
            if (item->value.size() >= 3 && std::uint8_t(item->value[0]) == 0x01 &&
                std::uint8_t(item->value[1]) == 0x64 && std::uint8_t(item->value[2]) == 0x01)
                return notAnswered(polling); // "no response from the card"
            return transceiveFailure(
                TransceiveStatus::Error,
                QStringLiteral("reader status error %1").arg(hexBytes(item->value)));
        }
        if (item->tag == tagResponseData)
            response = item->value;
    }
    if (!response)
        return notAnswered(polling);
    return backends::checkedResponse(*response);
}

} // namespace

ReaderFamily familyOfReader(const QString& readerName)
{
    const QString name = readerName.toLower();
    if (name.contains(QStringLiteral("acr122")))
        return ReaderFamily::Acr122;
    if (name.startsWith(QStringLiteral("acs ")) || name.contains(QStringLiteral("acr")))
        return ReaderFamily::AcsDirect;
    if (name.contains(QStringLiteral("sony")) || name.contains(QStringLiteral("felica")) ||
        name.contains(QStringLiteral("pasori")) || name.contains(QStringLiteral("rc-s300")))
        return ReaderFamily::Transparent;
    return ReaderFamily::Unknown;
}

QString familyText(ReaderFamily family)
{
    switch (family) {
    case ReaderFamily::Acr122:
        return QStringLiteral("ACR122 direct transmit");
    case ReaderFamily::AcsDirect:
        return QStringLiteral("ACS direct transmit");
    case ReaderFamily::Transparent:
        return QStringLiteral("transparent session");
    case ReaderFamily::Unknown:
        break;
    }
    return QStringLiteral("unknown reader");
}

QByteArray getIdmApdu()
{
    return QByteArray::fromHex("ffca000000");
}

QByteArray acr122CommunicateThru(const QByteArray& frame)
{
    return shortApdu(QByteArray::fromHex("ff000000"), QByteArray::fromHex("d442") + frame);
}

QByteArray acsDirectTransmit(const QByteArray& frame)
{
    return shortApdu(QByteArray::fromHex("ff000000"), frame);
}

QByteArray startTransparentSession()
{
    return QByteArray::fromHex("ffc2000002810000");
}

QByteArray endTransparentSession()
{
    return QByteArray::fromHex("ffc2000002820000");
}

QByteArray switchToFelica()
{
    return QByteArray::fromHex("ffc20002048f02030000");
}

QByteArray transparentExchange(const QByteArray& frame, std::chrono::milliseconds timeout)
{
    const auto microseconds = std::uint32_t(std::chrono::microseconds(timeout).count());
    QByteArray objects = QByteArray::fromHex("5f4604");
    for (int shift = 0; shift < 32; shift += 8)
        objects.append(char((microseconds >> shift) & 0xFF));
    if (frame.size() > 0x7F)
        objects += QByteArray::fromHex("9581") + char(frame.size());
    else
        objects += QByteArray::fromHex("95") + char(frame.size());
    objects += frame;
    QByteArray apdu = shortApdu(QByteArray::fromHex("ffc20001"), objects);
    if (!apdu.isEmpty())
        apdu.append(char(0x00));
    return apdu;
}

QByteArray wrapFrame(ReaderFamily family, const QByteArray& frame,
                     std::chrono::milliseconds timeout)
{
    switch (family) {
    case ReaderFamily::Acr122:
        return acr122CommunicateThru(frame);
    case ReaderFamily::AcsDirect:
        return acsDirectTransmit(frame);
    case ReaderFamily::Transparent:
    case ReaderFamily::Unknown:
        break;
    }
    return transparentExchange(frame, timeout);
}

TransceiveResult unwrapResponse(ReaderFamily family, const QByteArray& answer, bool polling)
{
    if (answer.size() < 2)
        return garbled(answer);
    if (!endsWithSuccess(answer)) {
        if (answer.endsWith(QByteArray::fromHex("6300")) ||
            answer.endsWith(QByteArray::fromHex("6401")))
            return notAnswered(polling);
        return transceiveFailure(
            TransceiveStatus::Error,
            QStringLiteral("the reader refused the command: %1").arg(hexBytes(answer.right(2))));
    }
    const QByteArray body = withStatusWordRemoved(answer);
    switch (family) {
    case ReaderFamily::Acr122:
        return unwrapAcr122(body, polling);
    case ReaderFamily::AcsDirect:
        return body.isEmpty() ? notAnswered(polling) : backends::checkedResponse(body);
    case ReaderFamily::Transparent:
    case ReaderFamily::Unknown:
        break;
    }
    return unwrapTransparent(body, polling);
}

bool isSuccessAnswer(const QByteArray& answer)
{
    if (!endsWithSuccess(answer))
        return false;
    const QByteArray body = withStatusWordRemoved(answer);
    int offset = 0;
    while (offset < body.size()) {
        const std::optional<Tlv> item = nextTlv(body, &offset);
        if (!item)
            return false;
        if (item->tag == tagGenericErrorStatus && (item->value.isEmpty() || item->value[0] != 0))
            return false;
    }
    return true;
}

QByteArray idmFromAnswer(const QByteArray& answer)
{
    if (answer.size() != 10 || !endsWithSuccess(answer))
        return {};
    return answer.left(8);
}

} // namespace ridelog::card::pcsc
