// The カード menu: one entry per card of the library, and the question for a card's name.
#pragma once

#include "store/cardlibrary.h"

#include <QString>
#include <functional>
#include <optional>

namespace ridelog {

// The first command id of the card entries; card i of the list has kFirstCardCommand + i.
constexpr int kFirstCardCommand = 33000;
constexpr int kLastCardCommand = 33999;

// How many cards the カード menu names itself; the others are in the list of all cards.
constexpr std::size_t kRecentCardsInMenu = 20;
// Names longer than this are cut in the menu (whole in the tooltip and in the list of all cards).
constexpr int kMenuNameCharacters = 40;

// "name\tcount件  newest date": the nickname (or the IDm), with every "&" kept as a character.
QString cardMenuText(const CardSummary& card);

// The cards read most recently first (never-read ones by their newest entry), at most count.
std::vector<CardSummary> recentCards(std::vector<CardSummary> cards, std::size_t count);

// The window title for a card: its nickname (or IDm) with the program's name once, at the end,
// so that the platform does not add it a second time.
QString cardWindowTitle(const QString& shownName, bool stored);
// The title and status texts of a card shown from the library, not read.
QString storedCardTitle(const CardSummary& card);
QString storedCardStatus(const CardSummary& card);

// The question for a card's new name. Like MessageBox, tests can answer it.
class CardNameDialog
{
public:
    // The name typed (maybe empty: back to the IDm); nothing when the user cancels.
    static std::optional<QString> ask(QWidget* parent, const QString& idmText,
                                      const QString& currentName);

    // Test hook: while scripted, ask() returns the next answer set (nothing, as a cancel,
    // when none is set) instead of showing a dialog.
    static void setScripted(bool scripted);
    static void setNextAnswer(std::optional<QString> answer);
    // Runs while a scripted dialog is "open", as what the user does meanwhile.
    static void setWhileAsked(std::function<void()> hook);
};

} // namespace ridelog
