// Stand-in for the reader layer until it is merged: the reader context, the card events and
// the one-call card read. Tests feed answers through setSimulatedAnswer.
#pragma once

#include "card/history.h"

#include <QEvent>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

class QObject;

namespace ridelog::card {

struct ReaderContext
{
    bool libraryInitialised = false;
    bool readerOpen = false;
    std::array<std::uint8_t, 8> cardIdBuffer{};
    bool pollingStarted = false;
    QString readerSpec;
};

constexpr int kCardHistoryBlocks = 20;

struct CardReadAnswer
{
    std::array<std::uint8_t, 8> idm{};
    QString idmText;
    int blockCount = 0;
    std::array<HistoryBlock, kCardHistoryBlocks> blocks{};
};

QEvent::Type cardFindEventType();
QEvent::Type cardLoseEventType();

bool startCardPolling(ReaderContext& context, QObject* receiver);
std::optional<CardReadAnswer> pollingAndReadHistory(ReaderContext& context);

using SimulatedRead = std::function<std::optional<CardReadAnswer>()>;
void setSimulatedRead(SimulatedRead read);

} // namespace ridelog::card
