// The main window's status bar: pane 0 (the card, the name status, hints) with the card's
// nickname beside it, the balance in panes 1 and 2, the sign that stays while history is not
// being saved, and the reader's name.
#pragma once

#include "card/cardkind.h"

#include <QStatusBar>
#include <QString>
#include <array>
#include <optional>

class QLabel;

namespace ridelog {

class MainStatusBar : public QStatusBar
{
    Q_OBJECT

public:
    static constexpr int kPanes = 3;

    // readerName: empty without a reader (then its pane stays hidden).
    MainStatusBar(const QString& readerName, QWidget* parent);

    // The reader's pane at the right end, after every other permanent sign.
    void addReaderPane();

    // A narrow window cuts pane 0; its tooltip holds the whole text and the kind of the card.
    void setPaneText(int pane, const QString& text);
    // Pane 0 with a tooltip of its own (the details the short text leaves out); an empty one
    // removes it.
    void setStatus(const QString& text, const QString& toolTip);
    // The kind of the card on display, told in pane 0's tooltip from its next text on; none
    // when it is not known.
    void setCardKind(std::optional<card::CardKind> kind) { cardKind_ = kind; }
    // Pane 0's tooltip again: its text, and the kind of the card on display when known.
    void showKindInToolTip();
    // "残額：" and the balance with its unit; both empty without a balance.
    void showBalance(std::optional<int> balance);
    // The nickname beside pane 0, cut when long and whole in the tooltip; hidden when empty.
    void showCardName(const QString& name);
    // Shown while reason is not empty; the tooltip gives the reason and where the file is.
    void showHistoryNotKept(const QString& reason, const QString& where);
    // Pane 0 is never cut for the reader: while it needs the room, the reader's name (also in
    // its tooltip and the About box) is shortened further.
    void fitReaderPane();

    // Null for a pane out of range.
    QLabel* pane(int pane) const;
    QString paneText(int pane) const;
    QString paneToolTip(int pane) const;
    // The nickname beside pane 0 (object name "cardNamePane").
    QLabel* cardNamePane() const { return cardNamePane_; }
    QLabel* historyNotKeptSign() const { return notKeptSign_; }

private:
    std::array<QLabel*, kPanes> panes_{};
    QLabel* cardNamePane_ = nullptr;
    QLabel* notKeptSign_ = nullptr;
    QLabel* readerPane_ = nullptr;
    QString readerName_;
    std::optional<card::CardKind> cardKind_;
};

} // namespace ridelog
