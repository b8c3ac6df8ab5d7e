// The station-name server protocol: the request Ridelog sends and the answer it reads.
// Everything here is pure: no network, no shared state.
#pragma once

#include "card/history.h"
#include "store/displayflags.h"
#include "names/namerefreshtable.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace ridelog {

// The item codes that follow the serial in every item and answer record.
inline constexpr int kItemRailEntry = 2;
inline constexpr int kItemRailExit = 4;
inline constexpr int kItemShop = 11;
inline constexpr int kItemBus = 20;

// The width of the name tables' text columns: no received name part is longer.
inline constexpr qsizetype kMaxNamePartCharacters = 255;

// A name part as the program keeps it: control characters (NUL included) and line or paragraph
// separators removed, cut at kMaxNamePartCharacters. Applied to every part of every answer.
QString receivedNamePart(const QString& part);

// One item each; the list is their plain concatenation. "%2c" and "%3a" are written in lower
// case, every number unsigned decimal.
QString railEntryItem(std::uint32_t serial, const StationKey& key);
QString railExitItem(std::uint32_t serial, const StationKey& key);
QString shopItem(std::uint32_t serial, const ShopKey& key);
// A bus key of (0, 0) sends the empty key text.
QString busItem(std::uint32_t serial, const BusStopKey& key);

// "a=<items>&p=ap&"; nothing else is escaped.
QByteArray nameRequestBody(const QString& itemList);

// The object every request is posted to, and the fixed request headers.
QString nameRequestPath();
QByteArray nameRequestContentType();
QByteArray nameRequestAccept();
QByteArray nameRequestUserAgent();

// The joined text of an answer body: its lines without their line feeds (a carriage return
// stays).
QByteArray joinAnswerLines(const QByteArray& body);

// True when the joined answer starts with "No data" in any letter case.
bool isNoDataAnswer(const QByteArray& joined);

// Reads the records of a successful answer (status 200, lines already joined) as code page
// 932 text into table, composing names under flags. Never fails: malformed records leave at
// most an empty row behind.
void parseNameAnswer(const QByteArray& joined, const DisplayFlags& flags, NameRefreshTable& table);

// The whole answer side of one exchange: a status other than 200 gives "Error <status>" and
// leaves the table alone; "No data" gives success and stores nothing; otherwise the body is
// parsed. Returns the result text, empty on success.
QString readNameAnswer(int httpStatus, const QByteArray& body, const DisplayFlags& flags,
                       NameRefreshTable& table);

} // namespace ridelog
