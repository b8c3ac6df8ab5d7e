#include "card/cardevents.h"

#include "card/readerlibrary.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QScopedValueRollback>

namespace ridelog::card {

int registeredCardEventType(const QString& name)
{
    static QMutex mutex;
    static QHash<QString, int> types;
    QMutexLocker lock(&mutex);
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
    // A handler that shows a modal message box runs a nested event loop; a card event arriving
    // then must not start a second read over the first one's half-filled state.
    if (!cardEventsEnabled || handling_)
        return;
    const QScopedValueRollback<bool> guard(handling_, true);
    const int type = int(event.type());
    if (type == cardFindMessage && cardFindMessage != 0) {
        if (handlers_.readCard)
            handlers_.readCard();
    } else if (type == cardLoseMessage && cardLoseMessage != 0) {
        if (handlers_.clearCardIdField)
            handlers_.clearCardIdField();
    }
}

bool CardEventFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() >= QEvent::User)
        onCardMessage(*event);
    // Card events go on to the watched object's own handling, like every other event.
    return QObject::eventFilter(watched, event);
}

void startCardPolling(ReaderLibrary* library, ReaderContext* context, CardEventFilter& filter,
                      QObject* dialog)
{
    filter.cardFindMessage = registeredCardEventType(QString::fromLatin1(kCardFindName));
    filter.cardLoseMessage = registeredCardEventType(QString::fromLatin1(kCardLoseName));
    if (library) {
        CallbackParameters callback;
        callback.target = dialog;
        callback.cardFindName = kCardFindName;
        callback.cardLoseName = kCardLoseName;
        callback.postEvents = 1;
        callback.reserved = 0;
        if (library->set_call_back_parameters(callback)) {
            static constexpr std::uint8_t kAnySystem[2] = {0xFF, 0xFF};
            PollingStartParameters polling;
            polling.systemCode = kAnySystem;
            polling.timeSlot = 1;
            if (library->start_polling(polling) && context)
                context->pollingStarted = true;
        }
    }
    filter.cardEventsEnabled = true;
}

QString formatIdmText(const felica::Idm& idm)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(2 * int(idm.size()));
    for (std::uint8_t b : idm) {
        text.append(QLatin1Char(kDigits[b >> 4]));
        text.append(QLatin1Char(kDigits[b & 0x0F]));
    }
    return text;
}

} // namespace ridelog::card
