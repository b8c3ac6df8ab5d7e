// What the tests of the name refresh share: records of a small card, the list rows the window
// would show for them, a refresher watched through its signals, and servers that answer badly
// or not at all.
#pragma once

#include "fakenameserver.h"
#include "namedata/cp932.h"
#include "names/nameexchange.h"
#include "names/nameprotocol.h"
#include "names/namerefresh.h"
#include "names/namerefresher.h"
#include "testpaths.h"

#include <QSignalSpy>
#include <QStandardItemModel>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace ridelog::test {

using namespace std::chrono_literals;

inline const QString kIdm = QStringLiteral("0123456789ABCDEF");
inline const QString kOtherIdm = QStringLiteral("FEDCBA9876543210");
inline const NameTimeouts kShortTimeouts{300ms, 1000ms};

// The server's answer for the unnamed journey, the bus stop and the shop of fillCard().
inline const QString kFullAnswer = QStringLiteral("12302,JR,山手,新宿:12304,JR,山手,渋谷:"
                                                  "12420,A社,駅前,X系統:12511,K社,売店, , :");
inline const QString kShinjuku = QStringLiteral("新宿(JR：山手線)");
inline const QString kBuiltinShinjuku = QStringLiteral("新宿(東日本旅客鉄道：山手線)");
inline const QString kBuiltinNamesFile =
    QStringLiteral(RIDELOG_BINARY_DIR "/share/ridelog/names.sqlite");

inline HistoryRecord railRecord(std::uint32_t serial, StationKey entry, StationKey exit)
{
    HistoryRecord record;
    record.kind = RecordKind::Rail;
    record.serial = serial;
    record.entryKey = entry;
    record.exitKey = exit;
    return record;
}

inline HistoryRecord busRecord(std::uint32_t serial, BusStopKey key)
{
    HistoryRecord record;
    record.kind = RecordKind::Bus;
    record.serial = serial;
    record.busKey = key;
    return record;
}

inline HistoryRecord shopRecord(std::uint32_t serial, ShopKey key)
{
    HistoryRecord record;
    record.kind = RecordKind::Shop;
    record.serial = serial;
    record.shopKey = key;
    return record;
}

inline DisplayFlags allParts()
{
    DisplayFlags flags;
    flags.railCompanyShown = flags.railLineShown = true;
    flags.busCompanyShown = flags.busRouteShown = true;
    flags.shopInfoShown = flags.shopCompanyShown = flags.shopNameShown = true;
    flags.shopRegisterShown = false;
    return flags;
}

// Answers every request with the same records and status.
inline FakeNameServer::Responder answering(const QString& records, int status = 200)
{
    const QByteArray body = cp932::encode(records);
    return [body, status](const FakeNameServer::Request&) {
        return FakeNameServer::response(status, body);
    };
}

// A port on loopback that nobody listens on.
inline QUrl closedLoopbackUrl()
{
    FakeNameServer gone;
    return gone.url();
}

// A listening socket whose accept queue is full: the kernel drops further connection
// attempts, so connecting hangs as with a server behind a black hole.
class UnansweredListener
{
public:
    UnansweredListener()
    {
        sockets_.push_back(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        auto* socketAddress = reinterpret_cast<sockaddr*>(&address);
        if (::bind(sockets_[0], socketAddress, length) != 0 || ::listen(sockets_[0], 0) != 0 ||
            ::getsockname(sockets_[0], socketAddress, &length) != 0)
            return;
        for (int i = 0; i < 4; ++i) {
            sockets_.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(sockets_.back(), socketAddress, sizeof address);
        }
        url_ = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(ntohs(address.sin_port)));
    }
    ~UnansweredListener()
    {
        for (const int socket : sockets_)
            ::close(socket);
    }
    UnansweredListener(const UnansweredListener&) = delete;
    UnansweredListener& operator=(const UnansweredListener&) = delete;

    // Empty when the listener could not be set up.
    const QUrl& url() const { return url_; }

private:
    std::vector<int> sockets_;
    QUrl url_;
};

// The records of a card and the list showing them, newest first, as the window fills it: the
// serial in column 0 and "c1" to "c6" in the others.
struct RefreshDesk
{
    HistoryRecordSet records;
    NameCaches caches;
    NameRefreshTable table;
    QStandardItemModel list{0, 7};

    // A named rail record, a shop, a bus stop and an unnamed rail journey (list rows 0 to 3).
    static std::vector<HistoryRecord> cardRecords()
    {
        HistoryRecord named = railRecord(126, {0, 1, 1}, {0, 1, 2});
        named.entryName = QStringLiteral("東京");
        named.exitName = QStringLiteral("神田");
        return {railRecord(123, {0, 37, 10}, {0, 37, 25}), busRecord(124, {32769, 5}),
                shopRecord(125, {1, 199, 40000}), named};
    }
    void fillCard() { replaceCard(cardRecords()); }

    // The next card read in place of this one.
    void replaceCard(const std::vector<HistoryRecord>& newRecords)
    {
        records.clear();
        table.clear();
        for (const HistoryRecord& record : newRecords)
            records.insert(record);
        fillList();
    }

    void fillList()
    {
        list.setRowCount(0);
        for (const HistoryRecord& record : records) {
            QList<QStandardItem*> row{new QStandardItem(QString::number(record.serial))};
            for (int column = 1; column < 7; ++column)
                row << new QStandardItem(QStringLiteral("c%1").arg(column));
            list.insertRow(0, row); // newest first
        }
    }

    QString text(int row, int column) const
    {
        return list.data(list.index(row, column), Qt::DisplayRole).toString();
    }
};

// A refresher against one server, with spies on its status text and its end.
struct WatchedRefresher
{
    NameRefresher refresher;
    QSignalSpy status{&refresher, &NameRefresher::statusText};
    QSignalSpy finished{&refresher, &NameRefresher::finished};

    explicit WatchedRefresher(const QUrl& server, const NameTimeouts& timeouts = kShortTimeouts)
    {
        refresher.setServerUrl(server);
        refresher.setTimeouts(timeouts);
    }
    void start(RefreshDesk& desk, const QString& idm = kIdm)
    {
        refresher.start(desk.list, desk.records, desk.caches, desk.table, idm, allParts());
    }
    // The status text (0) or its tool tip (1) of the first status, empty when none came.
    QString statusText(int part = 0) const
    {
        return status.isEmpty() ? QString() : status.first().at(part).toString();
    }
};

} // namespace ridelog::test
