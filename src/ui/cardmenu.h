// The カード menu of the main window: renaming the card on display, going back to the card read
// last, the cards read most recently and the list of every card, all from the card library of
// the database in use.
#pragma once

#include "store/cardlibrary.h"

#include <QObject>
#include <QString>
#include <functional>

class QMenu;
class QMenuBar;
class QWidget;

namespace ridelog {

class CardSession;
class CommandMap;

class CardMenu : public QObject
{
    Q_OBJECT

public:
    struct Steps
    {
        // Shows the stored history of a card; false when it has none.
        std::function<bool(const QString& idmText)> showStoredCard;
        // Reads the card on the reader again.
        std::function<void()> readCard;
        // Whether the card read last still lies on the reader.
        std::function<bool()> cardOnReader;
        // After the card on display was given a new name.
        std::function<void()> renamed;
    };

    // Adds the menu to bar, its commands to commands; session: the card on display.
    CardMenu(QWidget* window, QMenuBar* bar, CommandMap& commands, const CardSession& session,
             Steps steps);

    QMenu* menu() const { return menu_; }
    // The library of the database in use; one without a database when none is in use.
    CardLibrary library() const;
    // The nickname of the card on display; empty without one.
    QString currentCardName() const;

    // Rebuilds the card entries from the database (also each time the menu opens).
    void refresh();
    // A card is on display: it can be renamed, and after a read it can be shown again.
    void cardShown(bool read);

private:
    void rename();
    void showReaderCard();
    void showAllCards();

    QWidget* window_;
    CommandMap& commands_;
    const CardSession& session_;
    Steps steps_;
    QMenu* menu_ = nullptr;
};

} // namespace ridelog
