// What Debian's poppler-utils read from a PDF: its text, its page facts and its fonts.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

namespace ridelog::test {

inline QString popplerOutput(const QString& tool, const QStringList& arguments)
{
    QProcess process;
    process.start(tool, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return QStringLiteral("(%1 failed: %2)").arg(tool, QString::fromUtf8(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The text in reading order, columns kept apart by blanks as on the page.
inline QString pdfText(const QString& path)
{
    return popplerOutput(QStringLiteral("pdftotext"),
                         {QStringLiteral("-layout"), QStringLiteral("-enc"), QStringLiteral("UTF-8"),
                          path, QStringLiteral("-")});
}

inline QString pdfInfo(const QString& path)
{
    return popplerOutput(QStringLiteral("pdfinfo"), {path});
}

// "name emb" for every font of the file, the embedded column as yes or no.
inline QStringList pdfFontsEmbedded(const QString& path)
{
    QStringList fonts;
    const QStringList lines =
        popplerOutput(QStringLiteral("pdffonts"), {path}).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines.mid(2)) {
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        // name, type words..., encoding, emb, sub, uni, object number, generation
        if (fields.size() >= 7)
            fonts.append(fields.front() + u' ' + fields[fields.size() - 5]);
    }
    return fonts;
}

} // namespace ridelog::test
