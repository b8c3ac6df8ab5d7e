// The claim form on paper: A4 portrait pages with the title, the claimant, one line per entry,
// totals per month and in all, the date it was made and page numbers. The same painting goes
// to a PDF file (QPdfWriter, fonts embedded) and to a printer or its preview (QPrinter is a
// QPagedPaintDevice too). Texts are translated under the "ClaimFormText" context.
#pragma once

#include "report/claimform.h"

#include <QByteArray>
#include <QString>

class QPagedPaintDevice;
class QPainter;

namespace ridelog {

// A4 portrait with margins of 15 mm, as the form is laid out.
void setClaimPageLayout(QPagedPaintDevice& device);

// Paints every page on a device whose painter is active and whose page layout is set; starts
// each page after the first with newPage(). Returns the number of pages.
int paintClaimForm(QPainter& painter, QPagedPaintDevice& device, const ClaimForm& form);

// The number of pages the form takes, without painting.
int claimFormPageCount(QPagedPaintDevice& device, const ClaimForm& form);

enum class ClaimPdfResult
{
    Written,
    CannotCreate, // the file cannot be made (folder missing, no permission)
    WriteFailed,  // writing failed (disk full): nothing is left at the path
};

struct ClaimPdfOutcome
{
    ClaimPdfResult result = ClaimPdfResult::WriteFailed;
    QString errorText; // the system's reason when not written
};

// The form as the bytes of a PDF file; empty when it could not be painted.
QByteArray claimPdfBytes(const ClaimForm& form);

// The form as a PDF at path: written whole or not at all (an existing file stays as it was).
ClaimPdfOutcome writeClaimPdf(const QString& path, const ClaimForm& form);

// "1,234円" under Japanese, "¥1,234" under English; negative amounts keep their sign.
QString claimMoneyText(qint64 yen);
// 鉄道, バス or 物販.
QString claimKindText(RecordKind kind);

} // namespace ridelog
