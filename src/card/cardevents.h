// Card arrival and removal as events of the main dialog.
//
// The reader library posts the events registered under "CardFind" and "CardLose" to the
// dialog. A CardEventFilter installed on the dialog sees them before the dialog's own event
// handling (the filter lets every event through afterwards) and, once card events are
// enabled, runs the dialog's handlers:
//
//     auto* filter = new CardEventFilter({.readCard = [this] { readCard(); },
//                                         .clearCardIdField = [this] { cardIdEdit->clear(); }},
//                                        this);
//     installEventFilter(filter);
//     ...at the end of the dialog's initialisation:
//     startCardPolling(library, context, *filter, this);
#pragma once

#include "card/felicaprotocol.h"

#include <QEvent>
#include <QObject>
#include <QString>
#include <functional>

namespace ridelog::card {

class ReaderLibrary;
struct ReaderContext;

inline constexpr char kCardFindName[] = "CardFind";
inline constexpr char kCardLoseName[] = "CardLose";

// The event type registered under name; the same name always gives the same type.
int registeredCardEventType(const QString& name);

struct CardMessageHandlers
{
    std::function<void()> readCard;         // on "CardFind"
    std::function<void()> clearCardIdField; // on "CardLose"
};

class CardEventFilter : public QObject
{
    Q_OBJECT

public:
    explicit CardEventFilter(CardMessageHandlers handlers, QObject* parent = nullptr);

    // The dialog state the card messages depend on.
    int cardFindMessage = 0;
    int cardLoseMessage = 0;
    bool cardEventsEnabled = false;

    // Runs the handler for a card event; ignores it while card events are disabled and while
    // a handler is still running (card events arriving during a modal message box are dropped).
    void onCardMessage(const QEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CardMessageHandlers handlers_;
    bool handling_ = false;
};

// Arms card detection: registers the two event types, asks the library to post them to the
// dialog, starts polling, and enables card events. A failure of the library is silent: the
// dialog then simply never hears of a card. library and context may be null (no reader).
void startCardPolling(ReaderLibrary* library, ReaderContext* context, CardEventFilter& filter,
                      QObject* dialog);

// The IDm as 16 upper-case hex digits, first byte first.
QString formatIdmText(const felica::Idm& idm);

} // namespace ridelog::card
