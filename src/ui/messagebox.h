// Every modal message of the program goes through here, so tests can read the texts
// without a human to press OK.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

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

    // A question with the buttons はい and いいえ; いいえ is the default. True for はい.
    static bool question(QWidget* parent, const QString& text);

    // While the program ends without a user to answer (a termination signal, the end of the
    // session), no box opens: messages go to the log and questions are answered いいえ.
    static void setUnattended(bool unattended);
    static bool isUnattended();

    // Test hook: while capturing, messages are recorded instead of shown. Questions are
    // recorded the same way and get the answers set with setNextAnswers, then いいえ.
    static void setCapturing(bool capturing);
    static QStringList capturedMessages();
    // The details of each captured message, in the same order (empty for none).
    static QStringList capturedDetails();
    static void clearCaptured();
    static void setNextAnswers(const QList<bool>& answers);
    // Called with every recorded text, in place of the time a real box would be open.
    static void setWhileOpen(std::function<void(const QString&)> whileOpen);
};

} // namespace ridelog
