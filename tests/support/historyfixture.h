// History databases and card dumps for the tests of backups, merging and imports: realistic
// histories (stations, bus stops and shops that recur, balances that go down and are charged up
// again), written straight into a database file the way the program keeps them.
#pragma once

#include "card/history.h"
#include "store/cardlibrary.h"
#include "store/database.h"
#include "store/gatelogstore.h"
#include "store/historystore.h"
#include "store/schema.h"
#include "support/cardblocks.h"
#include "support/storedcard.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <map>
#include <vector>

namespace ridelog::test {

// Entry n of a long history: commuting between a few stations, now and then a bus ride, a
// purchase or a charge. Serial = first + n; the date advances one day every 4 entries.
inline HistoryBlock historyEntry(std::uint32_t serial, int n)
{
    HistoryBlock block{};
    const QDate date = QDate(2015, 4, 1).addDays(n / 4);
    setBlockDate(block, date.year(), date.month(), date.day());
    static const std::uint8_t stations[][2] = {
        {0x25, 0x0C}, {0x25, 0x10}, {0xE5, 0x27}, {0x01, 0x1A}, {0x25, 0x0C}};
    switch (n % 10) {
    case 3: // a bus ride
        block[0] = 5;
        block[1] = 13;
        block[6] = 0x12, block[7] = 0x34, block[8] = 0x01, block[9] = std::uint8_t(0x20 + n % 3);
        break;
    case 6: // a purchase
        block[0] = 199;
        block[1] = 70;
        block[6] = 0x62, block[7] = 0x00, block[8] = 0x00, block[9] = std::uint8_t(1 + n % 4);
        break;
    case 9: // a charge at a machine
        block[0] = 22;
        block[1] = 2;
        break;
    default: { // a rail journey
        const auto& from = stations[n % 5];
        const auto& to = stations[(n + 2) % 5];
        block[0] = 22;
        block[1] = 1;
        block[6] = from[0], block[7] = from[1], block[8] = to[0], block[9] = to[1];
        break;
    }
    }
    setBlockBalanceAndSerial(block, 5000 - (n % 10) * 170 + (n % 7) * 10, serial);
    return block;
}

// count entries with serials first, first + 1, ..., oldest first.
inline std::vector<HistoryBlock> historyEntries(std::uint32_t first, int count)
{
    std::vector<HistoryBlock> blocks;
    blocks.reserve(std::size_t(count));
    for (int n = 0; n < count; ++n)
        blocks.push_back(historyEntry(first + std::uint32_t(n), n));
    return blocks;
}

// The same blocks in the order a card gives them: newest first.
inline std::vector<HistoryBlock> newestFirst(std::vector<HistoryBlock> blocks)
{
    std::reverse(blocks.begin(), blocks.end());
    return blocks;
}

// A history file as the program writes it: the name tables, card tables and the cards table.
class HistoryFileWriter
{
public:
    explicit HistoryFileWriter(const QString& path)
        : database_(Database::open(path, Database::OpenMode::CreateIfMissing, 1000))
    {
        for (const auto table : {NameTable::Stations, NameTable::BusStops, NameTable::Shops})
            HistoryStore::EnsureNameTable(database_, table);
    }

    HistoryFileWriter& card(const QString& idm, const std::vector<HistoryBlock>& blocks)
    {
        Transaction transaction(database_);
        addCardRows(database_, idm, blocks);
        transaction.commit();
        return *this;
    }

    // A station name row (ac, lc, sc; an, ln, sn, nm).
    HistoryFileWriter& station(int ac, int lc, int sc, const QString& company, const QString& line,
                               const QString& name)
    {
        Statement add = database_.prepareAddRow(
            QStringLiteral("ipn"),
            {QStringLiteral("ac"), QStringLiteral("lc"), QStringLiteral("sc"), QStringLiteral("an"),
             QStringLiteral("ln"), QStringLiteral("sn"), QStringLiteral("nm")});
        add.bind(1, ac);
        add.bind(2, lc);
        add.bind(3, sc);
        add.bind(4, company);
        add.bind(5, line);
        add.bind(6, name);
        add.bind(7, name);
        add.run();
        return *this;
    }

    HistoryFileWriter& nickname(const QString& idm, const QString& nickname, qint64 firstRead,
                                qint64 lastRead)
    {
        CardLibrary::noteCardRead(database_, idm,
                                  QDateTime::fromSecsSinceEpoch(firstRead, Qt::UTC));
        CardLibrary::noteCardRead(database_, idm, QDateTime::fromSecsSinceEpoch(lastRead, Qt::UTC));
        if (!nickname.isEmpty())
            CardLibrary::renameCard(database_, idm, nickname);
        return *this;
    }

    // Gate-log blocks as a read at firstRead stores them.
    HistoryFileWriter& gateTaps(const QString& idm, const std::vector<HistoryBlock>& blocks,
                                qint64 firstRead)
    {
        Transaction transaction(database_);
        GateLogStore::store(database_, idm, blocks,
                            QDateTime::fromSecsSinceEpoch(firstRead, Qt::UTC));
        transaction.commit();
        return *this;
    }

    HistoryFileWriter& kind(const QString& idm, card::CardKind kind, qint64 checked)
    {
        CardLibrary::noteCardKind(database_, idm, kind,
                                  QDateTime::fromSecsSinceEpoch(checked, Qt::UTC));
        return *this;
    }

    Database& database() { return database_; }

private:
    Database database_;
};

// Every stored block of the card by serial (the first row of a serial), as a read loads them.
inline std::map<std::uint32_t, HistoryBlock> storedBlocks(const QString& path, const QString& idm)
{
    std::map<std::uint32_t, HistoryBlock> blocks;
    Database database = Database::open(path, Database::OpenMode::ReadOnly, 1000);
    if (!database.tableExists(CardTableName(idm)))
        return blocks;
    Statement rows = database.prepareReadAll(CardTableName(idm), cardBlockColumns());
    while (rows.step()) {
        const BlockWords words{std::int32_t(rows.integerAt(0)), std::int32_t(rows.integerAt(1)),
                               std::int32_t(rows.integerAt(2)), std::int32_t(rows.integerAt(3))};
        const HistoryBlock block = blockFromWords(words);
        blocks.emplace(blockSerial(block), block);
    }
    return blocks;
}

// Rows of the card table, duplicates included.
inline qint64 storedRowCount(const QString& path, const QString& idm)
{
    Database database = Database::open(path, Database::OpenMode::ReadOnly, 1000);
    if (!database.tableExists(CardTableName(idm)))
        return 0;
    Statement count(
        database,
        QStringLiteral("SELECT COUNT(*) FROM %1").arg(quoteIdentifier(CardTableName(idm))));
    count.step();
    return count.integerAt(0);
}

inline QString blockHex(const HistoryBlock& block, const char* separator = " ")
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(block.data()), kHistoryBlockSize)
            .toHex(*separator)
            .toUpper());
}

// A Flipper Zero NFC file of a transit card: the card's systems and services, then the public
// blocks (an attribute block of 008B, then the history blocks of 090F, newest first).
inline QByteArray flipperNfcFile(const QString& idm, const std::vector<HistoryBlock>& newestFirst,
                                 const QStringList& systems = {QStringLiteral("0003"),
                                                               QStringLiteral("FE00")})
{
    QString idmSpaced;
    for (int i = 0; i < 16; i += 2)
        idmSpaced += (i ? QStringLiteral(" ") : QString()) + idm.mid(i, 2);
    QStringList lines{
        QStringLiteral("Filetype: Flipper NFC device"),
        QStringLiteral("Version: 4"),
        QStringLiteral("# Device type can be ISO14443-3A, ISO14443-3B, FeliCa, ..."),
        QStringLiteral("Device type: FeliCa"),
        QStringLiteral("# UID is common for all formats"),
        QStringLiteral("UID: ") + idmSpaced,
        QStringLiteral("# FeliCa specific data"),
        QStringLiteral("Data format version: 2"),
        QStringLiteral("Manufacture id: ") + idmSpaced,
        QStringLiteral("Manufacture parameter: 10 0B 4B 42 84 85 D0 FF"),
        QStringLiteral("IC Type: FeliCa Standard"),
        QStringLiteral("System found: %1").arg(systems.size()),
        QString(),
    };
    for (int i = 0; i < systems.size(); ++i)
        lines.append(
            QStringLiteral("System %1: %2").arg(i, 2, 10, QLatin1Char('0')).arg(systems[i]));
    lines.append(QString());
    lines.append(QStringLiteral("Service found: 3"));
    lines.append(
        QStringLiteral("Service 000: | Code 008B | Attrib. 0B | Public  | Random | Read Only  |"));
    lines.append(
        QStringLiteral("Service 001: | Code 090F | Attrib. 0F | Public  | Random | Read Only  |"));
    lines.append(
        QStringLiteral("Service 002: | Code 108F | Attrib. 0F | Public  | Random | Read Only  |"));
    lines.append(QString());
    lines.append(QStringLiteral("Public blocks read: %1").arg(newestFirst.size() + 1));
    lines.append(QStringLiteral("Block 0000: | Service code 008B | Block index 00 | Data: 00 00 "
                                "00 00 00 00 00 00 20 00 00 0A 00 00 01 E3 |"));
    for (std::size_t i = 0; i < newestFirst.size(); ++i)
        lines.append(QStringLiteral("Block %1: | Service code 090F | Block index %2 | Data: %3 |")
                         .arg(i + 1, 4, 10, QLatin1Char('0'))
                         .arg(i, 2, 16, QLatin1Char('0'))
                         .arg(blockHex(newestFirst[i])));
    return lines.join(u'\n').toUtf8() + '\n';
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace ridelog::test
