// What the tests of the simulated reader share: a small card as a card file, the frames sent to
// it, and a reader library reading from a folder of its own.
#pragma once

#include "card/cardread.h"
#include "card/felicaprotocol.h"
#include "card/readerlibrary.h"
#include "card/simulatedcard.h"
#include "support/cardfile.h"
#include "testpaths.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

namespace ridelog::card::testing {

inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

inline const felica::Idm kIdm{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

// Two rail journeys in blocks 0 and 1; every other block is left out of the file.
inline const QByteArray kSmallCard = "idm 0102030405060708\n"
                                     "block 0 C746000018D93D802928FC0800002200\n"
                                     "block 1 C7 46 00 00 18 D8 AB A0 29 27 92 09 00 00 21 00\n";

inline SimulatedCard cardOf(const QByteArray& text)
{
    const auto result = parseCardFile(text);
    if (!result.card)
        qFatal("test card does not parse");
    return *result.card;
}

// Read Without Encryption of count blocks from first on, of the first service in services.
inline QByteArray readFrame(const felica::Idm& idm, int first, int count,
                            const QByteArray& services = hex("0F09"))
{
    QByteArray list;
    for (int i = first; i < first + count; ++i)
        list.append(char(0x80)).append(char(i));
    return felica::readWithoutEncryptionFrame(idm, services, list);
}

// A library reading from a simulated reader on its own folder.
struct SimulatedSetup
{
    QTemporaryDir dir;
    ReaderLibrary library{ReaderConfig{QStringLiteral("virtual:") + dir.path()}};
    ReaderContext context;

    bool open() { return dir.isValid() && openReader(library, context) == 0; }
    bool place(const QString& name, const QByteArray& text)
    {
        return test::placeCard(dir.path(), name, text);
    }
    bool remove(const QString& name) { return QFile::remove(dir.filePath(name)); }
    CardReadResult read() { return readCardHistory(library, context); }
};

} // namespace ridelog::card::testing
