#include "store/storedhistory.h"

#include "store/cardblockset.h"
#include "store/cardlibrary.h"
#include "store/gatelogstore.h"
#include "store/historystore.h"
#include "store/ownedschema.h"
#include "store/schema.h"

#include <QFileInfo>
#include <algorithm>

namespace ridelog {

namespace {

// Date bytes 4 and 5 of a block as one number (byte 4 high), which sorts like the date.
QDate dateOfKey(int key)
{
    const int year = int((key >> 9) & 0x7F) + 2000;
    const int month = int((key >> 5) & 0x0F);
    const int day = int(key & 0x1F);
    return QDate(year, month, day);
}

} // namespace

bool isIdmText(const QString& text)
{
    if (text.size() != 16)
        return false;
    for (const QChar c : text) {
        const bool hex =
            (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
        if (!hex)
            return false;
    }
    return true;
}

StoredHistoryReader::StoredHistoryReader(const QString& databasePath, int busyTimeoutMs)
{
    if (databasePath.isEmpty() || !QFileInfo(databasePath).isFile())
        return;
    database_ = std::make_unique<Database>(
        Database::open(databasePath, Database::OpenMode::ReadOnly, busyTimeoutMs));
    if (const std::optional<QString> foreign = foreignSchemaReason(*database_)) {
        database_.reset();
        throw DatabaseError(0, QStringLiteral("not a Ridelog history file: ") + *foreign);
    }
}

StoredHistoryReader::~StoredHistoryReader() = default;

std::vector<StoredCardSummary> StoredHistoryReader::cards()
{
    std::vector<StoredCardSummary> cards;
    if (!database_)
        return cards;
    QStringList idms;
    {
        Statement tables(*database_,
                         QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND "
                                        "name GLOB '2[0-9A-F]*' ORDER BY name"));
        while (tables.step()) {
            const QString name = tables.textAt(0);
            const QString idm = name.mid(1);
            if (isIdmText(idm) && CardTableName(idm) == name)
                idms.append(idm);
        }
    }
    // One pass over the rows of each table: the serials (one entry per serial, as the list
    // shows them) and the earliest and latest date.
    std::vector<std::uint32_t> serials;
    for (const QString& idm : idms) {
        Statement rows = database_->prepareReadAll(CardTableName(idm),
                                                   {QStringLiteral("b2"), QStringLiteral("b4")});
        serials.clear();
        int firstKey = -1;
        int lastKey = -1;
        while (rows.step()) {
            const auto b2 = std::uint32_t(rows.integerAt(0));
            const auto b4 = std::uint32_t(rows.integerAt(1));
            const int key = int((b2 & 0xFF) << 8 | (b2 >> 8 & 0xFF));
            firstKey = firstKey < 0 ? key : std::min(firstKey, key);
            lastKey = std::max(lastKey, key);
            serials.push_back((b4 & 0xFF) << 16 | (b4 >> 8 & 0xFF) << 8 | (b4 >> 16 & 0xFF));
        }
        std::sort(serials.begin(), serials.end());
        const auto distinct = std::unique(serials.begin(), serials.end()) - serials.begin();
        StoredCardSummary card;
        card.idmText = idm;
        card.entries = qint64(distinct);
        if (distinct > 0) {
            card.firstDate = dateOfKey(firstKey);
            card.lastDate = dateOfKey(lastKey);
        }
        cards.push_back(card);
    }
    // Nicknames and kinds from the card library, when its tables can be read.
    for (const CardSummary& known : CardLibrary::cards(*database_)) {
        for (StoredCardSummary& card : cards) {
            if (card.idmText == known.idmText) {
                card.nickname = known.nickname;
                card.kind = known.kind;
            }
        }
    }
    return cards;
}

template <typename Cache>
void StoredHistoryReader::loadNamesAsFarAsReadable(NameTable table, Cache& cache)
{
    try {
        HistoryStore::LoadNameCache(*database_, cache);
    } catch (const DatabaseError& error) {
        // The names read before the damage stay; the history shows codes for the others.
        unreadableNames_.append(nameTableName(table) + QStringLiteral(": ") + error.message());
    }
}

QString StoredHistoryReader::unreadableNames() const
{
    return unreadableNames_.join(QStringLiteral("; "));
}

bool StoredHistoryReader::loadCard(const QString& idmText, NameCaches& caches, CardBlockSet& blocks)
{
    if (!database_)
        return false;
    const QString table = CardTableName(idmText.toUpper());
    if (!database_->tableExists(table))
        return false;
    unreadableNames_.clear();
    loadNamesAsFarAsReadable(NameTable::Stations, caches.stations);
    loadNamesAsFarAsReadable(NameTable::BusStops, caches.busStops);
    loadNamesAsFarAsReadable(NameTable::Shops, caches.shops);
    Statement rows = database_->prepareReadAll(table, cardBlockColumns());
    while (rows.step()) {
        const BlockWords words{std::int32_t(rows.integerAt(0)), std::int32_t(rows.integerAt(1)),
                               std::int32_t(rows.integerAt(2)), std::int32_t(rows.integerAt(3))};
        blocks.insert(blockFromWords(words), BlockOrigin::CardTable);
    }
    return true;
}

std::vector<HistoryBlock> StoredHistoryReader::gateLog(const QString& idmText)
{
    if (!database_)
        return {};
    try {
        return GateLogStore::load(*database_, idmText.toUpper());
    } catch (const DatabaseError&) {
        return {}; // a damaged gate log: the history without times
    }
}

std::optional<card::CardKind> StoredHistoryReader::cardKind(const QString& idmText)
{
    return database_ ? CardLibrary::cardKind(*database_, idmText.toUpper()) : std::nullopt;
}

QString StoredHistoryReader::nickname(const QString& idmText)
{
    return database_ ? CardLibrary::nickname(*database_, idmText.toUpper()) : QString();
}

LoadedNotes StoredHistoryReader::notesOf(const QString& idmText)
{
    if (!database_)
        return LoadedNotes{};
    return NoteStore::notesOf(*database_, idmText.toUpper());
}

} // namespace ridelog
