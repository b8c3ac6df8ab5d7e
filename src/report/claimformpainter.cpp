#include "report/claimformpainter.h"

#include "namedata/checkedfile.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <array>
#include <vector>

namespace ridelog {

namespace {

// The texts of the form, translated under one context.
class ClaimFormText
{
    Q_DECLARE_TR_FUNCTIONS(ClaimFormText)
};

constexpr double kMarginMm = 15.0;
constexpr int kPdfResolution = 300;
constexpr int kMaxTextLines = 3; // of one cell; longer texts are cut

// Column widths of the journey table in millimetres: 180 mm, the paint width of A4.
enum TableColumn
{
    DateCol,
    KindCol,
    TimeCol,
    FromCol,
    ToCol,
    PurposeCol,
    AmountCol,
    TableColumnCount
};
constexpr std::array<double, TableColumnCount> kColumnMm{22, 10, 24, 33, 33, 38, 20};

QFont formFont(double points, bool bold = false)
{
    QFont font;
    // Japanese glyphs from the first family that is installed; embedded into the PDF.
    font.setFamilies({QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"),
                      QStringLiteral("Noto Sans CJK JP"), QStringLiteral("VL Gothic"),
                      QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QString dateText(const QDate& date)
{
    if (!date.isValid())
        return ClaimFormText::tr("日付不明");
    return date.toString(ClaimFormText::tr("yyyy/MM/dd"));
}

QString monthHeading(const ClaimMonth& month)
{
    if (month.year == 0)
        return ClaimFormText::tr("日付不明");
    return QDate(month.year, month.month, 1).toString(ClaimFormText::tr("yyyy年M月"));
}

QString periodText(const ClaimForm& form)
{
    QDate from = form.request.from;
    QDate to = form.request.to;
    // An open end is the first or last date listed.
    for (const ClaimMonth& month : form.months) {
        for (const ClaimLine& line : month.lines) {
            if (!line.date.isValid())
                continue;
            if (!form.request.from.isValid() && (!from.isValid() || line.date < from))
                from = line.date;
            if (!form.request.to.isValid() && (!to.isValid() || line.date > to))
                to = line.date;
        }
    }
    if (!from.isValid() && !to.isValid())
        return ClaimFormText::tr("（利用なし）");
    return ClaimFormText::tr("%1 ～ %2")
        .arg(from.isValid() ? dateText(from) : QString(), to.isValid() ? dateText(to) : QString());
}

QString claimTimesText(const ClaimLine& line)
{
    return gateSpanText(line.entryTime, line.exitTime, ClaimFormText::tr("入 %1"),
                        ClaimFormText::tr("出 %1"));
}

QString amountText(const ClaimLine& line)
{
    switch (line.amountState) {
    case ClaimAmount::Counted:
        return claimMoneyText(line.amount);
    case ClaimAmount::SpansGap:
        return QStringLiteral("※(") + claimMoneyText(line.amount) + u')';
    case ClaimAmount::Unknown:
        break;
    }
    return ClaimFormText::tr("不明");
}

// The layout of the pages in device pixels, computed once and used for counting and painting.
class FormLayout
{
public:
    FormLayout(QPagedPaintDevice& device, const ClaimForm& form)
        : form_(form)
        , pxPerMm_(device.logicalDpiY() / 25.4)
        , titleFont_(formFont(18, true))
        , headFont_(formFont(10))
        , bodyFont_(formFont(9))
        , boldFont_(formFont(9, true))
        , smallFont_(formFont(8))
        , body_(bodyFont_, &device)
        , small_(smallFont_, &device)
    {
        const QRect paint = device.pageLayout().paintRectPixels(device.logicalDpiX());
        width_ = paint.width();
        height_ = paint.height();
        double x = 0;
        const double scale = width_ / (180.0 * pxPerMm_);
        for (int c = 0; c < TableColumnCount; ++c) {
            columnX_[std::size_t(c)] = x;
            x += kColumnMm[std::size_t(c)] * pxPerMm_ * scale;
        }
        columnX_[TableColumnCount] = width_;
        lineHeight_ = body_.lineSpacing() * 1.25;
        footerHeight_ = small_.lineSpacing() * 2;
        buildRows();
        paginate(QFontMetricsF(titleFont_, &device), QFontMetricsF(headFont_, &device));
    }

    int pageCount() const { return int(pages_.size()); }

    void paint(QPainter& painter, QPagedPaintDevice& device) const
    {
        for (std::size_t page = 0; page < pages_.size(); ++page) {
            if (page > 0)
                device.newPage();
            double y = 0;
            if (page == 0)
                y = paintHeading(painter);
            y = paintTableHeader(painter, y);
            for (std::size_t r = pages_[page].first; r < pages_[page].second; ++r)
                y = paintRow(painter, rows_[r], y);
            paintFooter(painter, int(page) + 1);
        }
    }

private:
    enum class RowKind
    {
        MonthHeading,
        Line,
        MonthTotal,
        GrandTotal,
        Note
    };
    struct Row
    {
        RowKind kind;
        const ClaimMonth* month = nullptr;
        const ClaimLine* line = nullptr;
        double height = 0;
    };

    double cellWidth(int column) const
    {
        return columnX_[std::size_t(column) + 1] - columnX_[std::size_t(column)] - padding() * 2;
    }
    double padding() const { return pxPerMm_ * 0.8; }

    double wrappedHeight(const QString& text, int column) const
    {
        const QRectF bounds = body_.boundingRect(QRectF(0, 0, cellWidth(column), 1e6),
                                                 Qt::TextWordWrap | Qt::AlignLeft, text);
        return std::min(bounds.height(), body_.lineSpacing() * kMaxTextLines);
    }

    void buildRows()
    {
        for (const ClaimMonth& month : form_.months) {
            rows_.push_back({RowKind::MonthHeading, &month, nullptr, lineHeight_ * 1.2});
            for (const ClaimLine& line : month.lines) {
                double height = body_.lineSpacing();
                for (const auto& [text, column] :
                     {std::pair{&line.from, int(FromCol)}, std::pair{&line.to, int(ToCol)},
                      std::pair{&line.purpose, int(PurposeCol)}})
                    height = std::max(height, wrappedHeight(*text, column));
                rows_.push_back(
                    {RowKind::Line, &month, &line, height + lineHeight_ - body_.lineSpacing()});
            }
            rows_.push_back({RowKind::MonthTotal, &month, nullptr, lineHeight_ * 1.2});
        }
        rows_.push_back({RowKind::GrandTotal, nullptr, nullptr, lineHeight_ * 1.8});
        if (form_.uncounted > 0)
            rows_.push_back({RowKind::Note, nullptr, nullptr, small_.lineSpacing() * 3});
    }

    double headingHeight(const QFontMetricsF& title, const QFontMetricsF& head) const
    {
        return title.lineSpacing() * 2 + head.lineSpacing() * 1.5 * 3 + lineHeight_;
    }

    void paginate(const QFontMetricsF& title, const QFontMetricsF& head)
    {
        const double bottom = height_ - footerHeight_;
        std::size_t first = 0;
        double y = headingHeight(title, head) + lineHeight_ * 1.3;
        for (std::size_t r = 0; r < rows_.size(); ++r) {
            // A month's heading does not stay alone at the foot of a page.
            double needed = rows_[r].height;
            if (rows_[r].kind == RowKind::MonthHeading && r + 1 < rows_.size())
                needed += rows_[r + 1].height;
            if (y + needed > bottom && r > first) {
                pages_.push_back({first, r});
                first = r;
                y = lineHeight_ * 1.3;
            }
            y += rows_[r].height;
        }
        pages_.push_back({first, rows_.size()});
    }

    double paintHeading(QPainter& painter) const
    {
        const ClaimRequest& request = form_.request;
        painter.setPen(Qt::black);
        painter.setFont(titleFont_);
        const QFontMetricsF title(titleFont_, painter.device());
        painter.drawText(QRectF(0, 0, width_, title.lineSpacing() * 1.5), Qt::AlignCenter,
                         ClaimFormText::tr("交通費精算書"));
        double y = title.lineSpacing() * 2;
        painter.setFont(headFont_);
        const QFontMetricsF head(headFont_, painter.device());
        const double step = head.lineSpacing() * 1.5;
        const double half = width_ / 2;
        // The labels take the room of the widest of them, in whichever language.
        double labelWidth = pxPerMm_ * 16;
        for (const char* label : {"氏名", "所属", "期間", "カード", "作成日", "対象"})
            labelWidth = std::max(labelWidth,
                                  head.horizontalAdvance(ClaimFormText::tr(label)) + pxPerMm_ * 3);
        const auto field = [&](double x, double top, const QString& label, const QString& value) {
            painter.drawText(QRectF(x, top, labelWidth, step), Qt::AlignLeft | Qt::AlignVCenter,
                             label);
            const QRectF valueRect(x + labelWidth, top, half - labelWidth - pxPerMm_ * 4, step);
            painter.drawText(valueRect, Qt::AlignLeft | Qt::AlignVCenter,
                             head.elidedText(value, Qt::ElideRight, valueRect.width()));
            painter.drawLine(QPointF(valueRect.left(), top + step * 0.9),
                             QPointF(valueRect.right(), top + step * 0.9));
        };
        field(0, y, ClaimFormText::tr("氏名"), request.claimant);
        field(half, y, ClaimFormText::tr("所属"), request.department);
        y += step;
        field(0, y, ClaimFormText::tr("期間"), periodText(form_));
        field(half, y, ClaimFormText::tr("カード"), request.cardName);
        y += step;
        field(0, y, ClaimFormText::tr("作成日"), dateText(request.madeOn));
        field(half, y, ClaimFormText::tr("対象"),
              request.claimedOnly ? ClaimFormText::tr("精算にチェックした利用のみ")
                                  : ClaimFormText::tr("すべての利用"));
        return headingHeight(title, head);
    }

    double paintTableHeader(QPainter& painter, double y) const
    {
        static const char* const headings[TableColumnCount] = {
            QT_TRANSLATE_NOOP("ClaimFormText", "日付"),
            QT_TRANSLATE_NOOP("ClaimFormText", "区分"),
            QT_TRANSLATE_NOOP("ClaimFormText", "時刻"),
            QT_TRANSLATE_NOOP("ClaimFormText", "乗車・店舗"),
            QT_TRANSLATE_NOOP("ClaimFormText", "降車"),
            QT_TRANSLATE_NOOP("ClaimFormText", "用途"),
            QT_TRANSLATE_NOOP("ClaimFormText", "金額")};
        const double height = lineHeight_ * 1.3;
        painter.fillRect(QRectF(0, y, width_, height), QColor(230, 230, 230));
        painter.setFont(boldFont_);
        for (int c = 0; c < TableColumnCount; ++c) {
            painter.drawText(cellRect(c, y, height),
                             (c == AmountCol ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                             ClaimFormText::tr(headings[c]));
        }
        painter.drawLine(QPointF(0, y + height), QPointF(width_, y + height));
        return y + height;
    }

    QRectF cellRect(int column, double y, double height) const
    {
        return QRectF(columnX_[std::size_t(column)] + padding(), y, cellWidth(column), height);
    }

    double paintRow(QPainter& painter, const Row& row, double y) const
    {
        switch (row.kind) {
        case RowKind::MonthHeading:
            painter.setFont(boldFont_);
            painter.drawText(QRectF(padding(), y, width_, row.height),
                             Qt::AlignLeft | Qt::AlignBottom, monthHeading(*row.month));
            break;
        case RowKind::Line:
            paintLine(painter, *row.line, y, row.height);
            break;
        case RowKind::MonthTotal:
            painter.setFont(boldFont_);
            painter.drawLine(QPointF(columnX_[PurposeCol], y), QPointF(width_, y));
            // The label may reach into the columns left of 用途 ("Subtotal September 2027").
            painter.drawText(
                QRectF(columnX_[ToCol], y, columnX_[AmountCol] - columnX_[ToCol], row.height),
                Qt::AlignRight | Qt::AlignVCenter,
                ClaimFormText::tr("%1 小計").arg(monthHeading(*row.month)));
            painter.drawText(cellRect(AmountCol, y, row.height), Qt::AlignRight | Qt::AlignVCenter,
                             claimMoneyText(row.month->total));
            break;
        case RowKind::GrandTotal: {
            painter.setFont(boldFont_);
            const double top = y + row.height - lineHeight_ * 1.3;
            painter.drawLine(QPointF(0, top), QPointF(width_, top));
            painter.drawLine(QPointF(0, top + pxPerMm_ * 0.5),
                             QPointF(width_, top + pxPerMm_ * 0.5));
            painter.drawText(QRectF(0, top, columnX_[AmountCol], lineHeight_ * 1.3),
                             Qt::AlignRight | Qt::AlignVCenter,
                             ClaimFormText::tr("合計（%1 件）").arg(form_.lineCount));
            painter.drawText(cellRect(AmountCol, top, lineHeight_ * 1.3),
                             Qt::AlignRight | Qt::AlignVCenter, claimMoneyText(form_.total));
            break;
        }
        case RowKind::Note:
            painter.setFont(smallFont_);
            painter.drawText(
                QRectF(0, y, width_, row.height),
                Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap,
                ClaimFormText::tr("※ 履歴の欠落をまたぐ金額（括弧内）と、最も古い利用の不明な金額は"
                                  "合計に含まれていません（%1 件）。")
                    .arg(form_.uncounted));
            break;
        }
        return y + row.height;
    }

    void paintLine(QPainter& painter, const ClaimLine& line, double y, double height) const
    {
        painter.setFont(bodyFont_);
        const double top = y + (lineHeight_ - body_.lineSpacing()) / 2;
        const double textHeight = height - (lineHeight_ - body_.lineSpacing());
        const auto draw = [&](int column, const QString& text, Qt::Alignment align,
                              int flags = Qt::TextWordWrap) {
            const QRectF rect = cellRect(column, top, textHeight);
            painter.save();
            painter.setClipRect(rect);
            painter.drawText(rect, int(align | Qt::AlignTop) | flags, text);
            painter.restore();
        };
        draw(DateCol, dateText(line.date), Qt::AlignLeft);
        draw(KindCol, claimKindText(line.kind), Qt::AlignLeft);
        // A span of times is never broken at its dash.
        draw(TimeCol, claimTimesText(line), Qt::AlignLeft, 0);
        draw(FromCol, line.from, Qt::AlignLeft);
        draw(ToCol, line.to, Qt::AlignLeft);
        draw(PurposeCol, line.purpose, Qt::AlignLeft);
        if (line.amountState != ClaimAmount::Counted)
            painter.setPen(QColor(150, 0, 0));
        draw(AmountCol, amountText(line), Qt::AlignRight);
        painter.setPen(QColor(200, 200, 200));
        painter.drawLine(QPointF(0, y + height), QPointF(width_, y + height));
        painter.setPen(Qt::black);
    }

    void paintFooter(QPainter& painter, int page) const
    {
        painter.setFont(smallFont_);
        const QRectF footer(0, height_ - footerHeight_ * 0.6, width_, footerHeight_ * 0.6);
        painter.drawText(footer, Qt::AlignLeft | Qt::AlignBottom,
                         ClaimFormText::tr("作成日 %1").arg(dateText(form_.request.madeOn)));
        painter.drawText(footer, Qt::AlignRight | Qt::AlignBottom,
                         ClaimFormText::tr("%1 / %2 ページ").arg(page).arg(pages_.size()));
    }

    const ClaimForm& form_;
    double pxPerMm_;
    QFont titleFont_;
    QFont headFont_;
    QFont bodyFont_;
    QFont boldFont_;
    QFont smallFont_;
    QFontMetricsF body_;
    QFontMetricsF small_;
    double width_ = 0;
    double height_ = 0;
    double lineHeight_ = 0;
    double footerHeight_ = 0;
    std::array<double, TableColumnCount + 1> columnX_{};
    std::vector<Row> rows_;
    std::vector<std::pair<std::size_t, std::size_t>> pages_; // rows [first, end) of each page
};

} // namespace

void setClaimPageLayout(QPagedPaintDevice& device)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                     QPageLayout::Millimeter));
}

int paintClaimForm(QPainter& painter, QPagedPaintDevice& device, const ClaimForm& form)
{
    const FormLayout layout(device, form);
    layout.paint(painter, device);
    return layout.pageCount();
}

int claimFormPageCount(QPagedPaintDevice& device, const ClaimForm& form)
{
    return FormLayout(device, form).pageCount();
}

QByteArray claimPdfBytes(const ClaimForm& form)
{
    QByteArray pdf;
    QBuffer buffer(&pdf);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kPdfResolution);
    writer.setTitle(ClaimFormText::tr("交通費精算書"));
    writer.setCreator(QStringLiteral("Ridelog"));
    setClaimPageLayout(writer);
    QPainter painter;
    if (!painter.begin(&writer))
        return QByteArray();
    paintClaimForm(painter, writer, form);
    painter.end();
    return pdf;
}

ClaimPdfOutcome writeClaimPdf(const QString& path, const ClaimForm& form)
{
    // Made in memory first: the PDF writer does not tell of a failed write, the file does.
    const QByteArray pdf = claimPdfBytes(form);
    if (pdf.isEmpty())
        return {ClaimPdfResult::WriteFailed, QStringLiteral("the form could not be painted")};
    WriteFailure failure;
    if (writeFileChecked(path, pdf, &failure))
        return {ClaimPdfResult::Written, QString()};
    const bool notCreated =
        failure.fault == WriteFault::NoPermission || failure.fault == WriteFault::ReadOnlyFiles ||
        failure.fault == WriteFault::NoFolder || failure.fault == WriteFault::IsFolder ||
        failure.fault == WriteFault::NotAFile;
    return {notCreated ? ClaimPdfResult::CannotCreate : ClaimPdfResult::WriteFailed,
            failure.reason()};
}

QString claimMoneyText(qint64 yen)
{
    QString digits = QString::number(yen < 0 ? -yen : yen);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u',');
    if (yen < 0)
        digits.prepend(u'-');
    return ClaimFormText::tr("%1円").arg(digits);
}

QString claimKindText(RecordKind kind)
{
    switch (kind) {
    case RecordKind::Bus:
        return ClaimFormText::tr("バス");
    case RecordKind::Shop:
        return ClaimFormText::tr("物販");
    case RecordKind::Rail:
    case RecordKind::None:
        break;
    }
    return ClaimFormText::tr("鉄道");
}

} // namespace ridelog
