#include "ui/historysearchbar.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

namespace ridelog {

namespace {

// Typing pauses this long before a large list is searched again.
constexpr int kTypingPauseMs = 150;

} // namespace

HistorySearchBar::HistorySearchBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("historySearchBar"));
    // One line high, whatever the window's height: the list takes the rest.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);

    layout->addWidget(new QLabel(tr("検索："), this));
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("searchText"));
    text_->setPlaceholderText(tr("すべての列から探す"));
    text_->setClearButtonEnabled(true);
    layout->addWidget(text_, 1);

    addDateRange(*layout);

    claimedOnly_ = new QCheckBox(tr("精算のみ(&M)"), this);
    claimedOnly_->setObjectName(QStringLiteral("searchClaimedOnly"));
    claimedOnly_->setToolTip(tr("精算にチェックした利用だけを表示します"));
    layout->addWidget(claimedOnly_);

    closeButton_ = new QToolButton(this);
    closeButton_->setObjectName(QStringLiteral("searchClose"));
    closeButton_->setText(QStringLiteral("×"));
    closeButton_->setToolTip(tr("検索を閉じる (Esc)"));
    closeButton_->setAutoRaise(true);
    layout->addWidget(closeButton_);

    connectFields();
    updateRangeEnabled();
    hide();
}

// This year so far by default.
void HistorySearchBar::addDateRange(QHBoxLayout& layout)
{
    range_ = new QCheckBox(tr("期間："), this);
    range_->setObjectName(QStringLiteral("searchDateRange"));
    layout.addWidget(range_);
    const QDate today = QDate::currentDate();
    from_ = new QDateEdit(QDate(today.year(), 1, 1), this);
    from_->setObjectName(QStringLiteral("searchFrom"));
    to_ = new QDateEdit(today, this);
    to_->setObjectName(QStringLiteral("searchTo"));
    for (QDateEdit* field : {from_, to_}) {
        field->setCalendarPopup(true);
        field->setDisplayFormat(QStringLiteral("yyyy-M-d"));
        field->setMinimumDate(QDate(2000, 1, 1));
    }
    layout.addWidget(from_);
    layout.addWidget(new QLabel(tr("～"), this));
    layout.addWidget(to_);
}

// A change of the text waits for a pause in typing; any other change filters at once.
void HistorySearchBar::connectFields()
{
    pause_ = new QTimer(this);
    pause_->setSingleShot(true);
    pause_->setInterval(kTypingPauseMs);
    connect(pause_, &QTimer::timeout, this, &HistorySearchBar::applyNow);
    connect(text_, &QLineEdit::textChanged, pause_, qOverload<>(&QTimer::start));
    connect(range_, &QCheckBox::toggled, this, [this] {
        updateRangeEnabled();
        applyNow();
    });
    connect(claimedOnly_, &QCheckBox::toggled, this, &HistorySearchBar::applyNow);
    connect(from_, &QDateEdit::dateChanged, this, &HistorySearchBar::applyNow);
    connect(to_, &QDateEdit::dateChanged, this, &HistorySearchBar::applyNow);
    connect(closeButton_, &QToolButton::clicked, this, &HistorySearchBar::dismiss);
    for (QWidget* field : std::initializer_list<QWidget*>{text_, range_, from_, to_, claimedOnly_})
        field->installEventFilter(this);
}

void HistorySearchBar::open()
{
    show();
    text_->setFocus(Qt::ShortcutFocusReason);
    text_->selectAll();
    applyNow();
}

void HistorySearchBar::dismiss()
{
    pause_->stop();
    hide();
    applyNow();
}

HistoryFilter HistorySearchBar::filter() const
{
    HistoryFilter filter;
    if (isHidden())
        return filter;
    filter.text = text_->text().trimmed();
    filter.claimedOnly = claimedOnly_->isChecked();
    if (range_->isChecked()) {
        filter.from = std::min(from_->date(), to_->date());
        filter.to = std::max(from_->date(), to_->date());
    }
    return filter;
}

void HistorySearchBar::applyNow()
{
    pause_->stop();
    const HistoryFilter now = filter();
    if (now == applied_)
        return;
    applied_ = now;
    emit filterChanged(applied_);
}

void HistorySearchBar::updateRangeEnabled()
{
    from_->setEnabled(range_->isChecked());
    to_->setEnabled(range_->isChecked());
}

bool HistorySearchBar::eventFilter(QObject* watched, QEvent* event)
{
    // Enter and Escape stay here: in the main window they would close the program.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            dismiss();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            applyNow();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace ridelog
