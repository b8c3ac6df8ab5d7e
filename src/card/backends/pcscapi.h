// The SCard* calls the PC/SC backend makes, behind an interface so that tests can check every
// APDU without pcscd or a reader.
#pragma once

#include <PCSC/winscard.h>
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

namespace ridelog::card {

class PcscApi
{
public:
    virtual ~PcscApi() = default;

    virtual LONG establishContext(SCARDCONTEXT* context) = 0;
    virtual LONG releaseContext(SCARDCONTEXT context) = 0;
    virtual LONG listReaders(SCARDCONTEXT context, QStringList* readers) = 0;
    virtual LONG getStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states,
                                 DWORD count) = 0;
    virtual LONG cancel(SCARDCONTEXT context) = 0;
    virtual LONG connect(SCARDCONTEXT context, const QString& reader, SCARDHANDLE* card,
                         DWORD* activeProtocol) = 0;
    virtual LONG disconnect(SCARDHANDLE card) = 0;
    virtual LONG transmit(SCARDHANDLE card, DWORD activeProtocol, const QByteArray& command,
                          QByteArray* response) = 0;
};

// pcsc-lite.
std::unique_ptr<PcscApi> createSystemPcscApi();

QString pcscErrorText(LONG code);

} // namespace ridelog::card
