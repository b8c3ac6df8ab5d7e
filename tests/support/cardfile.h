// The one writer of card files for the simulated reader, for the tests and the benchmarks: the
// text of a card (idm and blocks) and its placing in the reader's folder.
#pragma once

#include "card/history.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ridelog::test {

// "0a 1b ...": the block's bytes in hex, one blank between them.
inline QString hexOf(const HistoryBlock& block)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()))
            .toHex(' '));
}

// "idm ..." and one "block i ..." line a block, block 0 first (the newest on a card).
template <typename Blocks> QByteArray cardFileText(const QString& idm, const Blocks& blocks)
{
    QByteArray text = "idm " + idm.toLatin1() + '\n';
    int index = 0;
    for (const HistoryBlock& block : blocks)
        text += "block " + QByteArray::number(index++) + ' ' + hexOf(block).toLatin1() + '\n';
    return text;
}

// The card's gate log as a "service 108F" section, newest tap first; nothing without taps.
template <typename Blocks> QByteArray gateLogSectionText(const Blocks& taps)
{
    if (taps.empty())
        return QByteArray();
    QByteArray text = "service 108F\n";
    int index = 0;
    for (const HistoryBlock& block : taps)
        text += "block " + QByteArray::number(index++) + ' ' + hexOf(block).toLatin1() + '\n';
    return text;
}

// Writes a card file the way a user should: under a hidden temporary name, then renamed into
// place, so the reader never sees half a card or a card with the wrong IDm. False when the
// file could not be written.
inline bool placeCard(const QString& dir, const QString& name, const QByteArray& text)
{
    const QString temporary = dir + QStringLiteral("/.") + name + QStringLiteral(".part");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return false;
    file.close();
    QFile::remove(dir + QLatin1Char('/') + name);
    return QFile::rename(temporary, dir + QLatin1Char('/') + name);
}

} // namespace ridelog::test
