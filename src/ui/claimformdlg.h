// ファイル › 精算書を作成...: the claim form of a card for a period, shown in a print preview,
// printed, or saved as a PDF. The claimant's name and department are kept in the settings
// group "Claims".
#pragma once

#include "report/claimform.h"
#include "store/cardlibrary.h"

#include <QDialog>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QDialogButtonBox;
class QFormLayout;
class QLineEdit;
class QPrinter;
class QPrintPreviewDialog;
class QPushButton;
class QRadioButton;
class QSettings;

namespace ridelog {

class CClaimFormDlg : public QDialog
{
    Q_OBJECT

public:
    // The entries of a card (ascending serial, notes attached); empty when it has none.
    using EntriesOf = std::function<std::vector<ExpenseEntry>(const QString& idmText)>;

    CClaimFormDlg(const std::vector<CardSummary>& cards, const QString& currentIdm,
                  EntriesOf entriesOf, QSettings& settings, QWidget* parent = nullptr);

    // The form as the fields ask for it, made today.
    ClaimForm form() const;

    // Opens the print preview (not modal); it paints the form as it is now.
    QPrintPreviewDialog* openPreview();
    // Asks for a printer, then prints.
    void choosePrinterAndPrint();
    // Paints the form on a printer; a failure is told to the user. True when printed.
    bool printForm(QPrinter& printer);
    // Asks for a file, then saves.
    void choosePdfAndSave();
    // Writes the form as a PDF; a failure is told to the user. True when written.
    bool saveFormAsPdf(const QString& path);

    QComboBox* cardBox() const { return card_; }
    QCheckBox* periodBox() const { return period_; }
    QDateEdit* fromField() const { return from_; }
    QDateEdit* toField() const { return to_; }
    QRadioButton* claimedOnlyButton() const { return claimedOnly_; }
    QRadioButton* allEntriesButton() const { return all_; }
    QLineEdit* nameField() const { return name_; }
    QLineEdit* departmentField() const { return department_; }

private:
    void addCardRow(QFormLayout& form, const QString& currentIdm);
    void addPeriodRow(QFormLayout& form);
    void addScopeRow(QFormLayout& form);
    void addClaimantRows(QFormLayout& form);
    QDialogButtonBox* createButtons();
    void rememberClaimant();
    void updatePeriodEnabled();

    std::vector<CardSummary> cards_;
    EntriesOf entriesOf_;
    QSettings& settings_;
    QComboBox* card_ = nullptr;
    QCheckBox* period_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QRadioButton* claimedOnly_ = nullptr;
    QRadioButton* all_ = nullptr;
    QLineEdit* name_ = nullptr;
    QLineEdit* department_ = nullptr;
};

} // namespace ridelog
