#include "ui/claimformdlg.h"

#include "report/claimformpainter.h"
#include "ui/messagebox.h"
#include "ui/savefiledialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QVBoxLayout>

namespace ridelog {

namespace {

const QString kClaimantKey = QStringLiteral("Claims/claimant");
const QString kDepartmentKey = QStringLiteral("Claims/department");

QString cardLabel(const CardSummary& card)
{
    return card.nickname.isEmpty() ? card.idmText
                                   : QStringLiteral("%1 (%2)").arg(card.nickname, card.idmText);
}

void preparePrinter(QPrinter& printer)
{
    setClaimPageLayout(printer);
    printer.setDocName(QCoreApplication::translate("ClaimFormText", "交通費精算書"));
}

} // namespace

CClaimFormDlg::CClaimFormDlg(const std::vector<CardSummary>& cards, const QString& currentIdm,
                             EntriesOf entriesOf, QSettings& settings, QWidget* parent)
    : QDialog(parent)
    , cards_(cards)
    , entriesOf_(std::move(entriesOf))
    , settings_(settings)
{
    setObjectName(QStringLiteral("claimFormDialog"));
    setWindowTitle(tr("精算書を作成"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    addCardRow(*form, currentIdm);
    addPeriodRow(*form);
    addScopeRow(*form);
    addClaimantRows(*form);
    layout->addLayout(form);
    layout->addWidget(createButtons());
    connect(period_, &QCheckBox::toggled, this, &CClaimFormDlg::updatePeriodEnabled);
    updatePeriodEnabled();
}

void CClaimFormDlg::addCardRow(QFormLayout& form, const QString& currentIdm)
{
    card_ = new QComboBox(this);
    card_->setObjectName(QStringLiteral("claimCard"));
    for (const CardSummary& card : cards_) {
        card_->addItem(cardLabel(card), card.idmText);
        if (card.idmText == currentIdm)
            card_->setCurrentIndex(card_->count() - 1);
    }
    form.addRow(tr("カード(&R)："), card_);
}

// Last month by default, the period most claims are for.
void CClaimFormDlg::addPeriodRow(QFormLayout& form)
{
    period_ = new QCheckBox(tr("期間(&D)："), this);
    period_->setObjectName(QStringLiteral("claimPeriod"));
    const QDate today = QDate::currentDate();
    const QDate firstOfMonth(today.year(), today.month(), 1);
    from_ = new QDateEdit(firstOfMonth.addMonths(-1), this);
    from_->setObjectName(QStringLiteral("claimFrom"));
    to_ = new QDateEdit(firstOfMonth.addDays(-1), this);
    to_->setObjectName(QStringLiteral("claimTo"));
    auto* range = new QHBoxLayout;
    for (QDateEdit* field : {from_, to_}) {
        field->setCalendarPopup(true);
        field->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        field->setMinimumDate(QDate(2000, 1, 1));
    }
    range->addWidget(from_);
    range->addWidget(new QLabel(tr("～"), this));
    range->addWidget(to_);
    range->addStretch();
    form.addRow(period_, range);
}

void CClaimFormDlg::addScopeRow(QFormLayout& form)
{
    auto* which = new QVBoxLayout;
    claimedOnly_ = new QRadioButton(tr("精算にチェックした利用のみ"), this);
    claimedOnly_->setObjectName(QStringLiteral("claimClaimedOnly"));
    all_ = new QRadioButton(tr("すべての利用"), this);
    all_->setObjectName(QStringLiteral("claimAll"));
    claimedOnly_->setChecked(true);
    which->addWidget(claimedOnly_);
    which->addWidget(all_);
    form.addRow(tr("対象："), which);
}

void CClaimFormDlg::addClaimantRows(QFormLayout& form)
{
    name_ = new QLineEdit(settings_.value(kClaimantKey).toString(), this);
    name_->setObjectName(QStringLiteral("claimName"));
    form.addRow(tr("氏名(&N)："), name_);
    department_ = new QLineEdit(settings_.value(kDepartmentKey).toString(), this);
    department_->setObjectName(QStringLiteral("claimDepartment"));
    form.addRow(tr("所属(&B)："), department_);
    for (QLineEdit* field : {name_, department_})
        field->setMaxLength(100);
}

QDialogButtonBox* CClaimFormDlg::createButtons()
{
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* preview =
        buttons->addButton(tr("プレビュー(&V)..."), QDialogButtonBox::ActionRole);
    QPushButton* print = buttons->addButton(tr("印刷(&P)..."), QDialogButtonBox::ActionRole);
    QPushButton* pdf = buttons->addButton(tr("PDF に保存(&S)..."), QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton(tr("閉じる"), QDialogButtonBox::RejectRole);
    preview->setObjectName(QStringLiteral("claimPreview"));
    print->setObjectName(QStringLiteral("claimPrint"));
    pdf->setObjectName(QStringLiteral("claimPdf"));
    preview->setDefault(true);
    connect(preview, &QPushButton::clicked, this, &CClaimFormDlg::openPreview);
    connect(print, &QPushButton::clicked, this, &CClaimFormDlg::choosePrinterAndPrint);
    connect(pdf, &QPushButton::clicked, this, &CClaimFormDlg::choosePdfAndSave);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    for (QPushButton* button : {preview, print, pdf})
        button->setEnabled(!cards_.empty());
    return buttons;
}

void CClaimFormDlg::updatePeriodEnabled()
{
    from_->setEnabled(period_->isChecked());
    to_->setEnabled(period_->isChecked());
}

ClaimForm CClaimFormDlg::form() const
{
    ClaimRequest request;
    const int index = card_->currentIndex();
    QString idm;
    if (index >= 0 && index < int(cards_.size())) {
        idm = cards_[std::size_t(index)].idmText;
        request.cardName = cards_[std::size_t(index)].shownName();
    }
    if (period_->isChecked()) {
        request.from = std::min(from_->date(), to_->date());
        request.to = std::max(from_->date(), to_->date());
    }
    request.claimedOnly = claimedOnly_->isChecked();
    request.claimant = name_->text().trimmed();
    request.department = department_->text().trimmed();
    request.madeOn = QDate::currentDate();
    const std::vector<ExpenseEntry> entries =
        idm.isEmpty() ? std::vector<ExpenseEntry>{} : entriesOf_(idm);
    return buildClaimForm(entries, request);
}

void CClaimFormDlg::rememberClaimant()
{
    settings_.setValue(kClaimantKey, name_->text().trimmed());
    settings_.setValue(kDepartmentKey, department_->text().trimmed());
}

QPrintPreviewDialog* CClaimFormDlg::openPreview()
{
    rememberClaimant();
    auto* printer = new QPrinter(QPrinter::HighResolution);
    preparePrinter(*printer);
    auto* preview = new QPrintPreviewDialog(printer, this);
    preview->setObjectName(QStringLiteral("claimPreviewDialog"));
    preview->setWindowTitle(tr("精算書のプレビュー"));
    preview->setAttribute(Qt::WA_DeleteOnClose);
    connect(preview, &QObject::destroyed, this, [printer] { delete printer; });
    const auto shown = std::make_shared<ClaimForm>(form());
    connect(preview, &QPrintPreviewDialog::paintRequested, this, [shown](QPrinter* target) {
        QPainter painter;
        if (painter.begin(target))
            paintClaimForm(painter, *target, *shown);
    });
    preview->resize(720, 860);
    preview->open();
    return preview;
}

void CClaimFormDlg::choosePrinterAndPrint()
{
    rememberClaimant();
    auto* printer = new QPrinter(QPrinter::HighResolution);
    preparePrinter(*printer);
    auto* chooser = new QPrintDialog(printer, this);
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser, &QObject::destroyed, this, [printer] { delete printer; });
    connect(chooser, &QDialog::accepted, this, [this, printer] { printForm(*printer); });
    chooser->open();
}

bool CClaimFormDlg::printForm(QPrinter& printer)
{
    const ClaimForm shown = form();
    preparePrinter(printer);
    QPainter painter;
    bool printed = painter.begin(&printer);
    if (printed) {
        paintClaimForm(painter, printer, shown);
        printed = painter.end() && printer.printerState() != QPrinter::Error;
    }
    if (!printed) {
        MessageBox::show(
            this, tr("精算書を印刷できませんでした。プリンターの状態を確かめてください。"),
            printer.printerName().isEmpty() ? printer.outputFileName() : printer.printerName());
    }
    return printed;
}

void CClaimFormDlg::choosePdfAndSave()
{
    rememberClaimant();
    SaveFileRequest request;
    request.initialName = tr("交通費精算書") + QStringLiteral(".pdf");
    request.filters = {tr("PDF (*.pdf)")};
    request.suffixes = {QStringLiteral("pdf")};
    const auto answer = SaveFileDialog::ask(this, request);
    if (!answer)
        return;
    QString path = answer->path;
    if (!QFileInfo(path).fileName().contains(u'.'))
        path += QStringLiteral(".pdf");
    saveFormAsPdf(path);
}

bool CClaimFormDlg::saveFormAsPdf(const QString& path)
{
    const ClaimPdfOutcome outcome = writeClaimPdf(path, form());
    switch (outcome.result) {
    case ClaimPdfResult::Written:
        return true;
    case ClaimPdfResult::CannotCreate:
        MessageBox::show(this, tr("PDF ファイルを作成できません。"), outcome.errorText);
        break;
    case ClaimPdfResult::WriteFailed:
        MessageBox::show(
            this, tr("PDF ファイルを書き込めませんでした。ディスクの空きを確かめてください。"),
            outcome.errorText);
        break;
    }
    return false;
}

} // namespace ridelog
