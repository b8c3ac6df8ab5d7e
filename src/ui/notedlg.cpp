#include "ui/notedlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace ridelog {

CNoteDlg::CNoteDlg(const std::vector<JourneyNote>& notes, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("noteDialog"));
    setWindowTitle(tr("用途を入力"));
    auto* layout = new QVBoxLayout(this);
    if (notes.size() > 1) {
        layout->addWidget(new QLabel(
            tr("選択した %1 件の利用に、同じ用途と精算の印を付けます。").arg(notes.size()), this));
    }
    auto* form = new QFormLayout;
    purpose_ = new QLineEdit(this);
    purpose_->setObjectName(QStringLiteral("purposeField"));
    purpose_->setMaxLength(kPurposeMaxLength);
    purpose_->setMinimumWidth(
        purpose_->fontMetrics().horizontalAdvance(QString(24, QChar(0x7528))));
    form->addRow(tr("用途(&P)："), purpose_);
    claim_ = new QCheckBox(tr("精算(&C)"), this);
    claim_->setObjectName(QStringLiteral("claimBox"));
    form->addRow(QString(), claim_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(tr("キャンセル"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    int claimed = 0;
    for (const JourneyNote& note : notes) {
        claimed += note.claimed ? 1 : 0;
        if (note.purpose != notes.front().purpose)
            mixedPurposes_ = true;
    }
    if (mixedPurposes_) {
        purpose_->setPlaceholderText(tr("（用途はそれぞれのまま）"));
    } else if (!notes.empty()) {
        startPurpose_ = notes.front().purpose;
        purpose_->setText(startPurpose_);
        purpose_->selectAll();
    }
    if (claimed > 0 && claimed < int(notes.size())) {
        claim_->setTristate(true);
        claim_->setCheckState(Qt::PartiallyChecked);
    } else {
        claim_->setChecked(claimed > 0);
    }
    // Once decided, the mark is on or off.
    connect(claim_, &QCheckBox::clicked, this, [this] { claim_->setTristate(false); });
}

NoteChange CNoteDlg::change() const
{
    NoteChange change;
    const QString typed = purpose_->text();
    if (!(mixedPurposes_ && typed.isEmpty()) && typed != startPurpose_)
        change.purpose = typed;
    if (claim_->checkState() != Qt::PartiallyChecked)
        change.claimed = claim_->isChecked();
    return change;
}

} // namespace ridelog
