#include "ui/pending/readerstub.h"

namespace ridelog::card {

namespace {

SimulatedRead& simulatedRead()
{
    static SimulatedRead read;
    return read;
}

} // namespace

QEvent::Type cardFindEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

QEvent::Type cardLoseEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

bool startCardPolling(ReaderContext& context, QObject* receiver)
{
    context.pollingStarted = receiver != nullptr;
    return context.pollingStarted;
}

std::optional<CardReadAnswer> pollingAndReadHistory(ReaderContext&)
{
    if (!simulatedRead())
        return std::nullopt;
    return simulatedRead()();
}

void setSimulatedRead(SimulatedRead read)
{
    simulatedRead() = std::move(read);
}

} // namespace ridelog::card
