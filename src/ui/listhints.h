// What the history list says about the card on the reader: an invitation to put a card on it
// while none has been read, and grey rows once the card read last has been taken off.
#pragma once

#include <QObject>
#include <QPalette>
#include <QString>
#include <functional>

class QAbstractItemView;

namespace ridelog {

class ListHints : public QObject
{
    Q_OBJECT

public:
    // noCardRead: whether no card has been read yet; the invitation shows while it says so
    // and the list has no rows.
    ListHints(QAbstractItemView* list, std::function<bool()> noCardRead);

    static QString invitationText();
    static QString cardTakenOffText();

    // The invitation as the list shows it now; empty when it shows none.
    QString shownInvitation() const;

    // Rows of a card that is no longer on the reader are drawn in the disabled text colour.
    void setRowsMarkedAsLastRead(bool marked);
    bool rowsMarkedAsLastRead() const { return marked_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintInvitation();

    QAbstractItemView* list_;
    std::function<bool()> noCardRead_;
    bool marked_ = false;
    QPalette unmarkedPalette_;
};

} // namespace ridelog
