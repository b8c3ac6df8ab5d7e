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

    // A box with a second, smaller text under the first (the engine's own words, for example).
    static void show(QWidget* parent, const QString& text, const QString& detail);

    // A question with the buttons はい and いいえ; いいえ is the default. True for はい.
    static bool question(QWidget* parent, const QString& text);

    // While the program ends without a user to answer (a termination signal, the end of the
    // session), no box opens: messages go to the log and questions are answered いいえ.
    static void setUnattended(bool unattended);
    static bool isUnattended();

    // Test hook: while capturing, messages are recorded instead of shown. A box with a detail
    // is recorded as text + "\r\n" + detail. Questions are recorded the same way and get the
    // answers set with setNextAnswers, then いいえ.
    static void setCapturing(bool capturing);
    static void setNextAnswers(const QList<bool>& answers);
    // Called with every recorded text, in place of the time a real box would be open.
    static void setWhileOpen(std::function<void(const QString&)> whileOpen);
    static QStringList capturedMessages();
    static void clearCaptured();
};

} // namespace ridelog
