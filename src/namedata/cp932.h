// Code page 932 (Shift-JIS as Windows writes it) at the borders that need bytes.
#pragma once

#include <QByteArray>
#include <QString>

namespace ridelog::cp932 {

// Bytes that are not valid code page 932 become U+FFFD.
QString decode(const QByteArray& bytes);

// Characters that code page 932 cannot encode become "?".
QByteArray encode(const QString& text);

} // namespace ridelog::cp932
