#include "ui/pending/readerstub.h"

#include <QHash>

namespace ridelog::card {

namespace {

std::function<CardReadResult()>& simulatedRead()
{
    static std::function<CardReadResult()> read;
    return read;
}

} // namespace

int openReader(ReaderLibrary& library, ReaderContext& context)
{
    if (!context.libraryInitialised) {
        if (!library.initialize_library())
            return 1;
        context.libraryInitialised = true;
    }
    if (!context.readerOpen) {
        if (!library.open_reader_writer_auto())
            return 2;
        context.readerOpen = true;
    }
    return 0;
}

void closeReader(ReaderLibrary& library, ReaderContext& context)
{
    if (context.readerOpen)
        library.close_reader_writer();
    if (context.libraryInitialised)
        library.dispose_library();
    context = ReaderContext{};
}

int registeredCardEventType(const QString& name)
{
    static QHash<QString, int> types;
    auto it = types.find(name);
    if (it == types.end())
        it = types.insert(name, QEvent::registerEventType());
    return it.value();
}

CardEventFilter::CardEventFilter(CardMessageHandlers handlers, QObject* parent)
    : QObject(parent)
    , handlers_(std::move(handlers))
{}

void CardEventFilter::onCardMessage(const QEvent& event)
{
    if (!cardEventsEnabled || handling_)
        return;
    handling_ = true;
    const int type = int(event.type());
    if (type == cardFindMessage && handlers_.readCard)
        handlers_.readCard();
    else if (type == cardLoseMessage && handlers_.clearCardIdField)
        handlers_.clearCardIdField();
    handling_ = false;
}

bool CardEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() >= QEvent::User)
        onCardMessage(*event);
    return QObject::eventFilter(watched, event);
}

void startCardPolling(ReaderLibrary*, ReaderContext* context, CardEventFilter& filter, QObject*)
{
    filter.cardFindMessage = registeredCardEventType(QString::fromLatin1(kCardFindName));
    filter.cardLoseMessage = registeredCardEventType(QString::fromLatin1(kCardLoseName));
    if (context != nullptr)
        context->pollingStarted = true;
    filter.cardEventsEnabled = true;
}

QString formatIdmText(const felica::Idm& idm)
{
    QString text;
    for (std::uint8_t b : idm)
        text += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

CardReadResult readCardHistory(ReaderLibrary&, ReaderContext&)
{
    return simulatedRead() ? simulatedRead()() : CardReadResult{};
}

void setSimulatedRead(std::function<CardReadResult()> read)
{
    simulatedRead() = std::move(read);
}

} // namespace ridelog::card
