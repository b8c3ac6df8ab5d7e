// Command lines and call lists written as one text: words(u"export --format=json").
#pragma once

#include <QStringList>
#include <QStringView>

namespace ridelog::test {

// The blank-separated words of line; for an argument with blanks in it, build the list.
inline QStringList words(QStringView line)
{
    return line.toString().split(u' ', Qt::SkipEmptyParts);
}

} // namespace ridelog::test
