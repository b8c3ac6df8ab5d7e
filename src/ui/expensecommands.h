// What the main window makes of the rows it shows: the export to a file (ファイルに保存), the claim
// form (精算書を作成...) and the totals window (集計...).
#pragma once

#include "report/expenseentries.h"

#include <QObject>
#include <QString>
#include <vector>

class QSettings;
class QStatusBar;
class QWidget;

namespace ridelog {

class CardMenu;
class CardSession;
class HistoryListPane;
class NoteCommands;
class TrfcSettings;
struct ExpenseExportSource;

class ExpenseCommands : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        QWidget* window;
        HistoryListPane& list;
        CardSession& session;
        NoteCommands& notes;
        const CardMenu& cards;
        TrfcSettings& settings;
        QSettings& userSettings; // the claim form's own values
        QStatusBar* statusBar;   // says where a file went
    };

    explicit ExpenseCommands(Parts parts);

    // The rows as shown, to a file. The dialog opens in the folder saved to last and proposes
    // the card's name and dates; the status bar says where the file went.
    void saveToFile();
    // The claim form of the card on display, or of any stored card.
    void makeClaimForm();
    // One totals window, kept up to date with the list while it is open.
    void showTotals();

private:
    // The records the list shows and where history may be missing.
    ExpenseExportSource sourceOfList() const;
    // The entries of a card for the claim form, notes attached: the card on display as the
    // list has it, any other from the database.
    std::vector<ExpenseEntry> claimEntriesOf(const QString& idmText);

    Parts parts_;
};

} // namespace ridelog
