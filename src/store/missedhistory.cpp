#include "store/missedhistory.h"

#include <QCoreApplication>

namespace ridelog {

std::optional<MissedHistory> findMissedHistory(const CardBlockSet& stored,
                                               std::span<const HistoryBlock> fresh)
{
    bool anyStored = false;
    for (const auto& [serial, entry] : stored) {
        if (entry.origin == BlockOrigin::CardTable) {
            anyStored = true;
            break;
        }
    }
    if (!anyStored)
        return std::nullopt;

    std::size_t entries = 0;
    std::optional<std::uint32_t> oldest;
    for (const HistoryBlock& block : fresh) {
        if (terminalTypeName(block[0]).isEmpty())
            continue;
        const std::uint32_t serial = blockSerial(block);
        const CardBlock* known = stored.find(serial);
        if (known != nullptr && known->origin == BlockOrigin::CardTable)
            return std::nullopt; // the read reaches back into the stored history
        ++entries;
        if (!oldest || serial < *oldest)
            oldest = serial;
    }
    if (entries < kCardHistoryCapacity || !oldest)
        return std::nullopt;
    return MissedHistory{*oldest};
}

std::vector<HistoryRow> historyRowsNewestFirst(const HistoryRecordSet& records,
                                               const std::optional<MissedHistory>& missed)
{
    std::vector<HistoryRow> rows;
    rows.reserve(records.size() + (missed ? 1 : 0));
    for (auto it = records.end(); it != records.begin();) {
        --it;
        rows.push_back(HistoryRow{&*it});
        if (amountSpansMissedHistory(*it, missed))
            rows.push_back(HistoryRow{});
    }
    return rows;
}

bool amountSpansMissedHistory(const HistoryRecord& record,
                              const std::optional<MissedHistory>& missed)
{
    return missed && record.serial == missed->oldestFreshSerial;
}

QString missedHistoryMarkerText()
{
    return QStringLiteral("履歴が欠けている可能性があります");
}

QString missedHistoryMarkerToolTip()
{
    return QCoreApplication::translate(
        "MissedHistory",
        "カードには最新の20件の履歴しか残りません。今回読み取った20件はどれも保存済みの履歴に"
        "含まれていないため、前回の読み取りからこの間までの履歴が失われている可能性があります。");
}

QString spanningAmountMark()
{
    return QStringLiteral("※");
}

QString spanningAmountToolTip()
{
    return QCoreApplication::translate(
        "MissedHistory", "この金額は欠けている可能性のある履歴の分も含む残額の差です。"
                         "1回の料金ではありません。");
}

} // namespace ridelog
