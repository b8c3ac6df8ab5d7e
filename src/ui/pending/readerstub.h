// Stand-in for the reader layer until it is merged, with the same names and signatures:
// the reader library and context, the card events and the one-call card read. Tests feed
// reads through setSimulatedRead.
#pragma once

#include "card/history.h"

#include <QEvent>
#include <QObject>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace ridelog::card {

namespace felica {
using Idm = std::array<std::uint8_t, 8>;
using Pmm = std::array<std::uint8_t, 8>;
} // namespace felica

struct ReaderContext
{
    bool libraryInitialised = false;
    bool readerOpen = false;
    std::array<std::uint8_t, 8> cardIdBuffer{};
    bool pollingStarted = false;
};

struct ReaderConfig
{
    QString readerSpec = QStringLiteral("auto");
};

class ReaderLibrary
{
public:
    explicit ReaderLibrary(ReaderConfig config = {})
        : config_(std::move(config))
    {}
    bool initialize_library() { return true; }
    bool open_reader_writer_auto() { return true; }
    bool close_reader_writer() { return true; }
    bool dispose_library() { return true; }
    QString readerName() const { return config_.readerSpec; }

private:
    ReaderConfig config_;
};

int openReader(ReaderLibrary& library, ReaderContext& context);
void closeReader(ReaderLibrary& library, ReaderContext& context);

inline constexpr char kCardFindName[] = "CardFind";
inline constexpr char kCardLoseName[] = "CardLose";

int registeredCardEventType(const QString& name);

struct CardMessageHandlers
{
    std::function<void()> readCard;
    std::function<void()> clearCardIdField;
};

class CardEventFilter : public QObject
{
    Q_OBJECT

public:
    explicit CardEventFilter(CardMessageHandlers handlers, QObject* parent = nullptr);

    int cardFindMessage = 0;
    int cardLoseMessage = 0;
    bool cardEventsEnabled = false;

    void onCardMessage(const QEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CardMessageHandlers handlers_;
    bool handling_ = false;
};

void startCardPolling(ReaderLibrary* library, ReaderContext* context, CardEventFilter& filter,
                      QObject* dialog);

QString formatIdmText(const felica::Idm& idm);

constexpr int kCardHistoryBlocks = 20;

struct CardReadResult
{
    bool ok = false;
    felica::Idm idm{};
    felica::Pmm pmm{};
    QString idmText;
    int blockCount = 0;
    std::vector<HistoryBlock> blocks;
};

CardReadResult readCardHistory(ReaderLibrary& library, ReaderContext& context);

// Stand-in only.
void setSimulatedRead(std::function<CardReadResult()> read);

} // namespace ridelog::card
