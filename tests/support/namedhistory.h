// Histories whose stations, bus stops and shops repeat across rows and columns, built block by
// block, and a name server that knows a handful of them as the public tables name them.
#pragma once

#include "card/history.h"
#include "namedata/answer.h"
#include "namedata/cp932.h"
#include "namedata/namedirectory.h"
#include "namedata/request.h"
#include "names/fakenameserver.h"
#include "names/nametexts.h"
#include "support/cardblocks.h"

#include <QList>
#include <QStandardItemModel>
#include <vector>

namespace ridelog::test {

// Stations as the public tables name them (company, line without 線, station).
inline const StationKey kTokyo{0, 0x01, 0x01};
inline const StationKey kShinagawa{0, 0x01, 0x07};
inline const StationKey kShinjuku{0, 0x25, 0x0A};
inline const StationKey kShibuya{0, 0x25, 0x07};
inline const StationKey kIkebukuro{0, 0x25, 0x0F};
inline const StationKey kOsaka{0, 0x0C, 0x01};
inline const StationKey kMeitetsuNagoya{1, 0x81, 0x3A};
// In no table: it keeps its code.
inline const StationKey kUnknownStation{0, 0x25, 0x19};

inline const BusStopKey kStationFrontStop{0x1234, 0x0123};
inline const BusStopKey kHospitalStop{0x1234, 0x0456};
inline const ShopKey kKioskRegister1{1, 199, 0x0007};
inline const ShopKey kKioskRegister2{1, 199, 0x0008};
inline const ShopKey kVendingMachine{1, 200, 0x1A2B};

inline nameserver::NameDirectory knownNames()
{
    using nameserver::BusNames;
    using nameserver::RailNames;
    using nameserver::ShopNames;
    nameserver::NameDirectory names;
    const QString jrEast = QStringLiteral("東日本旅客鉄道");
    names.addRail(kTokyo, {jrEast, QStringLiteral("東海道"), QStringLiteral("東京")});
    names.addRail(kShinagawa, {jrEast, QStringLiteral("東海道本"), QStringLiteral("品川")});
    names.addRail(kShinjuku, {jrEast, QStringLiteral("山手"), QStringLiteral("新宿")});
    names.addRail(kShibuya, {jrEast, QStringLiteral("山手"), QStringLiteral("渋谷")});
    names.addRail(kIkebukuro, {jrEast, QStringLiteral("山手"), QStringLiteral("池袋")});
    names.addRail(kOsaka, {QStringLiteral("西日本旅客鉄道"), QStringLiteral("大阪環状"),
                           QStringLiteral("大阪")});
    names.addRail(kMeitetsuNagoya, {QStringLiteral("名古屋市交通局"), QStringLiteral("東山"),
                                    QStringLiteral("名古屋")});
    names.addBus(kStationFrontStop, {QStringLiteral("都営バス"), QStringLiteral("新宿駅西口"),
                                     QStringLiteral("宿91")});
    names.addBus(kHospitalStop,
                 {QStringLiteral("都営バス"), QStringLiteral("大学病院"), QStringLiteral(" ")});
    names.addShop(kKioskRegister1, {QStringLiteral("JR東日本リテール"), QStringLiteral("キオスク"),
                                    QStringLiteral("1番"), QString()});
    names.addShop(kKioskRegister2, {QStringLiteral("JR東日本リテール"), QStringLiteral("キオスク"),
                                    QStringLiteral("2番"), QString()});
    names.addShop(kVendingMachine,
                  {QStringLiteral("アキュア"), QStringLiteral("自販機"), QString(), QString()});
    return names;
}

// A name server that answers every request from `names`, as the real one does.
inline FakeNameServer::Responder answeringFrom(const nameserver::NameDirectory& names)
{
    return [names](const FakeNameServer::Request& request) {
        const QByteArray body = request.body;
        const nameserver::ParsedRequest parsed =
            nameserver::parseRequestBody(std::string_view(body.constData(), body.size()));
        const std::string answer = nameserver::buildAnswer(parsed.items, names);
        return FakeNameServer::response(200, QByteArray(answer.data(), qsizetype(answer.size())));
    };
}

// One history block after another, newest last, each with its own serial and balance.
class HistoryBuilder
{
public:
    explicit HistoryBuilder(std::uint32_t firstSerial = 100, int balance = 5000)
        : serial_(firstSerial)
        , balance_(balance)
    {}

    HistoryBuilder& journey(StationKey entry, StationKey exit, int fare = 170)
    {
        BlockFields f = next(22, 1, fare);
        f.b6 = entry.lc;
        f.b7 = entry.sc;
        f.b8 = exit.lc;
        f.b9 = exit.sc;
        f.region = std::uint8_t(entry.ac << 6 | exit.ac << 4);
        blocks_.push_back(makeBlock(f));
        return *this;
    }
    HistoryBuilder& bus(BusStopKey stop, int fare = 210)
    {
        BlockFields f = next(5, 13, fare);
        f.b6 = std::uint8_t(stop.ac >> 8);
        f.b7 = std::uint8_t(stop.ac);
        f.b8 = std::uint8_t(stop.lc >> 8);
        f.b9 = std::uint8_t(stop.lc);
        blocks_.push_back(makeBlock(f));
        return *this;
    }
    HistoryBuilder& purchase(ShopKey shop, int price = 150)
    {
        BlockFields f = next(std::uint8_t(shop.lc), 70, price);
        f.b6 = 0x62; // 12:16
        f.b8 = std::uint8_t(shop.sc >> 8);
        f.b9 = std::uint8_t(shop.sc);
        blocks_.push_back(makeBlock(f));
        return *this;
    }
    HistoryBuilder& charge(int amount = 3000)
    {
        blocks_.push_back(makeBlock(next(8, 2, -amount)));
        return *this;
    }
    // The next block gets this serial (real cards do not number one by one).
    HistoryBuilder& skipTo(std::uint32_t serial)
    {
        serial_ = serial;
        return *this;
    }

    const std::vector<HistoryBlock>& blocks() const { return blocks_; }

private:
    BlockFields next(std::uint8_t terminal, std::uint8_t process, int cost)
    {
        BlockFields f;
        f.terminal = terminal;
        f.process = process;
        f.year = 2026;
        f.month = 1 + int(day_ / 28) % 12;
        f.day = 1 + int(day_ % 28);
        ++day_;
        balance_ -= cost;
        f.balance = balance_;
        f.serial = serial_++;
        return f;
    }

    std::uint32_t serial_;
    int balance_;
    unsigned day_ = 0;
    std::vector<HistoryBlock> blocks_;
};

// A list row as the window fills it: the serial in column 0, the names in columns 4 and 5.
inline QList<QStandardItem*> listRowOf(const HistoryRecord& record)
{
    QList<QStandardItem*> row;
    row << new QStandardItem(QString::number(record.serial));
    for (int column = 1; column < 4; ++column)
        row << new QStandardItem(QStringLiteral("c%1").arg(column));
    row << new QStandardItem(entryColumnText(record)) << new QStandardItem(exitColumnText(record))
        << new QStandardItem(QString::number(record.amount));
    return row;
}

// The row of the missed-history marker, as the window shows it.
inline QList<QStandardItem*> markerRow()
{
    QList<QStandardItem*> row;
    row << new QStandardItem(QStringLiteral("…"));
    for (int column = 1; column < 7; ++column)
        row << new QStandardItem(QString());
    return row;
}

} // namespace ridelog::test
