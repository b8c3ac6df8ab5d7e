// すべてのカード: every card of the library in one list that a typed text narrows down (by name
// or IDm), newest read first. Choosing a card shows its stored history.
#pragma once

#include "store/cardlibrary.h"

#include <QDialog>
#include <vector>

class QLineEdit;
class QTreeWidget;

namespace ridelog {

class CardListDialog : public QDialog
{
    Q_OBJECT

public:
    CardListDialog(std::vector<CardSummary> cards, const QString& currentIdm,
                   QWidget* parent = nullptr);

    // The IDm of the card chosen; empty until one is.
    QString chosenIdm() const;

    QLineEdit* filterField() const { return filter_; }
    QTreeWidget* cardList() const { return list_; }
    // How many cards the present filter lets through.
    int shownCount() const;

private:
    void applyFilter(const QString& text);

    QLineEdit* filter_ = nullptr;
    QTreeWidget* list_ = nullptr;
};

} // namespace ridelog
