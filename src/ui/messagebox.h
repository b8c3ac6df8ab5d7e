// Every modal message of the program goes through here, so tests can read the texts
// without a human to press OK.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace ridelog {

class MessageBox
{
public:
    // A modal box with an OK button. "\r\n" in the text is a line break.
    static void show(QWidget* parent, const QString& text);
    // The same box with a "Show Details..." part holding details (plain text, "\n" between
    // lines); without details it is the box above.
    static void show(QWidget* parent, const QString& text, const QString& details);

    // Test hook: while capturing, messages are recorded instead of shown.
    static void setCapturing(bool capturing);
    static QStringList capturedMessages();
    // The details of each captured message, in the same order (empty for none).
    static QStringList capturedDetails();
    static void clearCaptured();
};

} // namespace ridelog
