#include "card/backends/pcscapi.h"

#include <PCSC/pcsclite.h>

namespace ridelog::card {

namespace {

constexpr DWORD maximumResponseSize = 512;

class SystemPcscApi : public PcscApi
{
public:
    LONG establishContext(SCARDCONTEXT* context) override
    {
        return SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, context);
    }

    LONG releaseContext(SCARDCONTEXT context) override { return SCardReleaseContext(context); }

    LONG listReaders(SCARDCONTEXT context, QStringList* readers) override
    {
        readers->clear();
        DWORD size = 0;
        LONG code = SCardListReaders(context, nullptr, nullptr, &size);
        if (code != SCARD_S_SUCCESS)
            return code;
        QByteArray names(int(size), '\0');
        code = SCardListReaders(context, nullptr, names.data(), &size);
        if (code != SCARD_S_SUCCESS)
            return code;
        // A list of zero-terminated names, ended by an empty name.
        for (const QByteArray& name : names.left(int(size)).split('\0')) {
            if (!name.isEmpty())
                readers->append(QString::fromUtf8(name));
        }
        return SCARD_S_SUCCESS;
    }

    LONG getStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                         DWORD count) override
    {
        return SCardGetStatusChange(context, timeoutMs, states, count);
    }

    LONG cancel(SCARDCONTEXT context) override { return SCardCancel(context); }

    LONG connect(SCARDCONTEXT context, const QString& reader, SCARDHANDLE* card,
                 DWORD* activeProtocol) override
    {
        return SCardConnect(context, reader.toUtf8().constData(), SCARD_SHARE_SHARED,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, card, activeProtocol);
    }

    LONG disconnect(SCARDHANDLE card) override { return SCardDisconnect(card, SCARD_LEAVE_CARD); }

    LONG transmit(SCARDHANDLE card, DWORD activeProtocol, const QByteArray& command,
                  QByteArray* response) override
    {
        const SCARD_IO_REQUEST* sendPci =
            activeProtocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
        QByteArray buffer(int(maximumResponseSize), '\0');
        DWORD received = maximumResponseSize;
        const LONG code = SCardTransmit(
            card, sendPci, reinterpret_cast<const BYTE*>(command.constData()),
            DWORD(command.size()), nullptr, reinterpret_cast<BYTE*>(buffer.data()), &received);
        *response = code == SCARD_S_SUCCESS ? buffer.left(int(received)) : QByteArray();
        return code;
    }
};

} // namespace

std::unique_ptr<PcscApi> createSystemPcscApi()
{
    return std::make_unique<SystemPcscApi>();
}

QString pcscErrorText(LONG code)
{
    return QString::fromLatin1(pcsc_stringify_error(code));
}

} // namespace ridelog::card
