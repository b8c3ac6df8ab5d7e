#include "ui/cardlistdlg.h"

#include "ui/cardlibrarymenu.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace ridelog {

namespace {

enum Column
{
    NameColumn,
    IdmColumn,
    EntriesColumn,
    NewestColumn,
};

QString dateText(const QDate& date)
{
    return date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

} // namespace

CardListDialog::CardListDialog(std::vector<CardSummary> cards, const QString& currentIdm,
                               QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("cardListDialog"));
    setWindowTitle(tr("すべてのカード"));
    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("cardFilter"));
    filter_->setPlaceholderText(tr("名前またはIDmで探す"));
    filter_->setClearButtonEnabled(true);

    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("cardList"));
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setHeaderLabels({tr("名前"), tr("IDm"), tr("件数"), tr("最新の利用")});
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(NameColumn, QHeaderView::Stretch);
    for (int column : {IdmColumn, EntriesColumn, NewestColumn})
        list_->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    QList<QTreeWidgetItem*> items;
    for (const CardSummary& card : recentCards(std::move(cards), std::size_t(-1))) {
        auto* item = new QTreeWidgetItem;
        item->setText(NameColumn, card.nickname);
        item->setToolTip(NameColumn, card.nickname);
        item->setText(IdmColumn, card.idmText);
        item->setText(EntriesColumn, QLocale::c().toString(card.entryCount));
        item->setTextAlignment(EntriesColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(NewestColumn, dateText(card.newestEntryDate));
        items.append(item);
    }
    list_->addTopLevelItems(items);
    for (QTreeWidgetItem* item : items) {
        if (item->text(IdmColumn) == currentIdm)
            list_->setCurrentItem(item);
    }
    if (list_->currentItem() == nullptr && !items.isEmpty())
        list_->setCurrentItem(items.first());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("表示"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QTreeWidget::itemActivated, this, &QDialog::accept);
    connect(filter_, &QLineEdit::textChanged, this, &CardListDialog::applyFilter);
    connect(list_, &QTreeWidget::currentItemChanged, this, [buttons](QTreeWidgetItem* current) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(current != nullptr);
    });
    buttons->button(QDialogButtonBox::Ok)->setEnabled(list_->currentItem() != nullptr);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filter_);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
    resize(560, 420);
    filter_->setFocus();
}

QString CardListDialog::chosenIdm() const
{
    const QTreeWidgetItem* item = list_->currentItem();
    return item != nullptr && !item->isHidden() ? item->text(IdmColumn) : QString();
}

int CardListDialog::shownCount() const
{
    int shown = 0;
    for (int row = 0; row < list_->topLevelItemCount(); ++row)
        shown += list_->topLevelItem(row)->isHidden() ? 0 : 1;
    return shown;
}

void CardListDialog::applyFilter(const QString& text)
{
    const QString wanted = text.trimmed();
    QTreeWidgetItem* firstShown = nullptr;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        const bool match = wanted.isEmpty() ||
                           item->text(NameColumn).contains(wanted, Qt::CaseInsensitive) ||
                           item->text(IdmColumn).contains(wanted, Qt::CaseInsensitive);
        item->setHidden(!match);
        if (match && firstShown == nullptr)
            firstShown = item;
    }
    if (list_->currentItem() == nullptr || list_->currentItem()->isHidden())
        list_->setCurrentItem(firstShown);
}

} // namespace ridelog
