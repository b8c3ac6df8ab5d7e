#include "ui/detailform.h"

#include "ui/controlid.h"

#include <QCoreApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace ridelog::detailform {

namespace {

// Grid columns of a framed part: padding, label, field, padding.
constexpr int kLabelColumn = 1;
constexpr int kFieldColumn = 2;
constexpr int kColumns = 4;
constexpr int kPadding = 8;

} // namespace

QLabel* label(const QString& text, int id)
{
    auto* widget = new QLabel(text);
    if (id != 0)
        setControlId(widget, id);
    return widget;
}

QLineEdit* field(int id, Qt::Alignment alignment)
{
    auto* edit = new QLineEdit;
    setControlId(edit, id);
    edit->setReadOnly(true);
    edit->setFrame(true);
    edit->setAlignment(alignment);
    return edit;
}

QHBoxLayout* closeButtons(QDialog* dialog)
{
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* close = new QPushButton(QCoreApplication::translate("DetailForm", "閉じる"));
    setControlId(close, 1);
    close->setDefault(true);
    auto* cancel = new QPushButton(QCoreApplication::translate("DetailForm", "キャンセル"));
    setControlId(cancel, 2);
    cancel->setVisible(false);
    buttons->addWidget(close);
    buttons->addWidget(cancel);
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return buttons;
}

void setControlText(QWidget* root, int id, const QString& text)
{
    QWidget* control = findControl(root, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setText(text);
    else if (auto* staticText = qobject_cast<QLabel*>(control))
        staticText->setText(text);
}

void disableControls(QWidget* root, std::initializer_list<int> ids)
{
    for (const int id : ids)
        findControl(root, id)->setEnabled(false);
}

void hideControls(QWidget* root, std::initializer_list<int> ids)
{
    for (const int id : ids)
        findControl(root, id)->setVisible(false);
}

FramedPart::FramedPart(const QString& title, int frameId)
    : container_(new QWidget)
    , frame_(new QGroupBox(title, container_))
    , grid_(new QGridLayout(container_))
{
    setControlId(frame_, frameId);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setColumnMinimumWidth(0, kPadding);
    grid_->setColumnMinimumWidth(kColumns - 1, kPadding);
    grid_->setColumnStretch(kFieldColumn, 1);
    // Row 0 leaves room for the frame's title.
    grid_->setRowMinimumHeight(0, QFontMetrics(frame_->font()).height() + kPadding / 2);
}

void FramedPart::addRow(int row, QWidget* labelWidget, QWidget* fieldWidget)
{
    if (labelWidget)
        grid_->addWidget(labelWidget, row + 1, kLabelColumn);
    if (fieldWidget)
        grid_->addWidget(fieldWidget, row + 1, kFieldColumn);
}

void FramedPart::finish(int rows)
{
    const int bottomPadding = rows + 1;
    grid_->setRowMinimumHeight(bottomPadding, kPadding);
    grid_->addWidget(frame_, 0, 0, bottomPadding + 1, kColumns);
    frame_->lower();
}

} // namespace ridelog::detailform
