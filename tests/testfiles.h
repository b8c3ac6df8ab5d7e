// Reading back the files the code under test writes.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ridelog::test {

// The whole file; "<unreadable>" when it cannot be opened, which no test expects as content.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

} // namespace ridelog::test
