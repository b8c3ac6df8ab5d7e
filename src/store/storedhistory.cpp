#include "store/storedhistory.h"

#include "store/cardblockset.h"
#include "store/historystore.h"
#include "store/schema.h"

#include <QFileInfo>

namespace ridelog {

namespace {

// The date bytes 4 and 5 of a block as one number that sorts like the date; b2 holds bytes 4-7.
constexpr auto kDateKeySql = "(((\"b2\" & 255) << 8) | ((\"b2\" >> 8) & 255))";
// The serial of bytes 12-14; b4 holds bytes 12-15.
constexpr auto kSerialSql =
    "(((\"b4\" & 255) << 16) | (((\"b4\" >> 8) & 255) << 8) | ((\"b4\" >> 16) & 255))";

QDate dateOfKey(std::int64_t key)
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
    for (const QString& idm : idms) {
        Statement summary(*database_,
                          QStringLiteral("SELECT count(DISTINCT %1), min(%2), max(%2) FROM %3")
                              .arg(QLatin1StringView(kSerialSql), QLatin1StringView(kDateKeySql),
                                   quoteIdentifier(CardTableName(idm))));
        StoredCardSummary card{idm, 0, {}, {}};
        if (summary.step()) {
            card.entries = summary.integerAt(0);
            if (card.entries > 0) {
                card.firstDate = dateOfKey(summary.integerAt(1));
                card.lastDate = dateOfKey(summary.integerAt(2));
            }
        }
        cards.push_back(card);
    }
    return cards;
}

bool StoredHistoryReader::loadCard(const QString& idmText, NameCaches& caches,
                                   HistoryRecordSet& records)
{
    if (!database_)
        return false;
    const QString table = CardTableName(idmText.toUpper());
    if (!database_->tableExists(table))
        return false;
    HistoryStore::LoadNameCache(*database_, caches.stations);
    HistoryStore::LoadNameCache(*database_, caches.busStops);
    HistoryStore::LoadNameCache(*database_, caches.shops);
    CardBlockSet blocks;
    Statement rows = database_->prepareReadAll(table, cardBlockColumns());
    while (rows.step()) {
        const BlockWords words{std::int32_t(rows.integerAt(0)), std::int32_t(rows.integerAt(1)),
                               std::int32_t(rows.integerAt(2)), std::int32_t(rows.integerAt(3))};
        blocks.insert(blockFromWords(words), BlockOrigin::CardTable);
    }
    HistoryStore::BuildRecordSet(blocks, caches, records);
    return true;
}

} // namespace ridelog
