#include "ui/columnfit.h"

#include "card/history.h"
#include "ui/historylist.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionHeader>
#include <QTableView>

namespace ridelog {

namespace {

int widestOf(const QFontMetrics& metrics, const QStringList& texts)
{
    int widest = 0;
    for (const QString& text : texts)
        widest = qMax(widest, metrics.horizontalAdvance(text));
    return widest;
}

QStringList allNames(QString (*name)(std::uint8_t))
{
    QStringList names;
    for (int code = 0; code <= 0xFF; ++code)
        names << name(std::uint8_t(code));
    return names;
}

// The widest texts each column shows.
std::array<QStringList, kHistoryColumns> sampleTexts()
{
    return {{
        {QStringLiteral("000000"), QStringLiteral("999999")},
        {QStringLiteral("2000-12-28"), QStringLiteral("2099-10-30")},
        allNames(terminalTypeName),
        allNames(processTypeName),
        {QString(12, QChar(0x99C5))}, // 駅, twelve times
        {QString(12, QChar(0x99C5))},
        {QStringLiteral("(99999)"), QStringLiteral("-99999")},
    }};
}

// The width a heading needs to show its whole text: the section's label as the style lays it
// out, and for the column the list is sorted by also the room of the sort mark (Qt's own
// size hint, which keeps that room in every column).
int headingWidth(const QHeaderView& header, int column)
{
    if (header.isSortIndicatorShown() && header.sortIndicatorSection() == column)
        return header.sectionSizeHint(column);
    QStyleOptionHeader option;
    option.initFrom(&header);
    option.orientation = Qt::Horizontal;
    option.section = column;
    option.text = header.model() != nullptr
                      ? header.model()->headerData(column, Qt::Horizontal).toString()
                      : QString();
    option.fontMetrics = header.fontMetrics();
    return header.style()
        ->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), &header)
        .width();
}

} // namespace

ColumnWidths contentColumnWidths(const QTableView& view)
{
    const QFontMetrics metrics(view.font());
    // The cell margins of the style, and a little air so that neighbours do not touch.
    const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    const int padding = 2 * margin + metrics.averageCharWidth();
    const auto samples = sampleTexts();
    ColumnWidths widths{};
    for (int column = 0; column < kHistoryColumns; ++column) {
        const int content = widestOf(metrics, samples[std::size_t(column)]) + padding;
        widths[std::size_t(column)] =
            qMax(content, view.horizontalHeader()->sectionSizeHint(column));
    }
    return widths;
}

NameColumnFitter::NameColumnFitter(QTableView* view)
    : QObject(view)
    , view_(view)
    , header_(view->horizontalHeader())
{
    view_->viewport()->installEventFilter(this);
    connect(header_, &QHeaderView::sectionResized, this, &NameColumnFitter::onSectionResized);
    // The column sorted by needs room for the sort mark too.
    connect(header_, &QHeaderView::sortIndicatorChanged, this, [this] { fit(); });
}

void NameColumnFitter::setWidths(const ColumnWidths& widths)
{
    fitting_ = true;
    for (int column = 0; column < kHistoryColumns; ++column)
        header_->resizeSection(column, widths[std::size_t(column)]);
    fitting_ = false;
    entryWidth_ = widths[EntryColumn];
    exitWidth_ = widths[ExitColumn];
    fit();
}

ColumnWidths NameColumnFitter::storedWidths() const
{
    ColumnWidths widths{};
    for (int column = 0; column < kHistoryColumns; ++column)
        widths[std::size_t(column)] = header_->sectionSize(column);
    widths[EntryColumn] = entryWidth_;
    widths[ExitColumn] = exitWidth_;
    return widths;
}

void NameColumnFitter::fit()
{
    if (fitting_)
        return;
    int others = 0;
    for (int column = 0; column < header_->count(); ++column) {
        if (column != EntryColumn && column != ExitColumn && !header_->isSectionHidden(column))
            others += header_->sectionSize(column);
    }
    // A hidden view has not laid its viewport out yet.
    const int room =
        view_->isVisible() ? view_->viewport()->width() : view_->maximumViewportSize().width();
    const int wanted = entryWidth_ + exitWidth_;
    int entry = entryWidth_;
    int exit = exitWidth_;
    if (room - others >= wanted) {
        const int spare = room - others - wanted;
        entry += spare / 2;
        exit += spare - spare / 2;
    } else if (wanted > 0) {
        // Too narrow for the names: they give way, down to four characters each and never
        // below their headings, so that the amount stays in sight. Their own widths are kept
        // for a wider window.
        const int fourCharacters =
            view_->fontMetrics().horizontalAdvance(QString(4, QChar(0x99C5)));
        const int entryFloor =
            qMin(entryWidth_, qMax(fourCharacters, headingWidth(*header_, EntryColumn)));
        const int exitFloor =
            qMin(exitWidth_, qMax(fourCharacters, headingWidth(*header_, ExitColumn)));
        const int roomForNames = qMax(entryFloor + exitFloor, room - others);
        entry =
            qMin(entryWidth_, qMax(entryFloor, int(qint64(roomForNames) * entryWidth_ / wanted)));
        exit = qMin(exitWidth_, qMax(exitFloor, roomForNames - entry));
    }
    fitting_ = true;
    header_->resizeSection(EntryColumn, entry);
    header_->resizeSection(ExitColumn, exit);
    fitting_ = false;
}

bool NameColumnFitter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view_->viewport() && event->type() == QEvent::Resize)
        fit();
    return QObject::eventFilter(watched, event);
}

void NameColumnFitter::onSectionResized(int column, int, int newSize)
{
    if (fitting_)
        return;
    if (column == EntryColumn || column == ExitColumn) {
        // The user's own width for this name column; the other keeps what it shows now.
        entryWidth_ = column == EntryColumn ? newSize : header_->sectionSize(EntryColumn);
        exitWidth_ = column == ExitColumn ? newSize : header_->sectionSize(ExitColumn);
        return;
    }
    fit();
}

} // namespace ridelog
