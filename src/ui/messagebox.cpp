#include "ui/messagebox.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QPushButton>

namespace ridelog {

namespace {

QMutex captureMutex;
bool capturing = false;
bool unattended = false;
QStringList captured;
QStringList capturedDetailTexts;
QList<bool> answers;
std::function<void(const QString&)> whileOpen;

QString plainLines(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// True when the text was recorded or logged instead of shown; answer then holds the reply.
bool recordInstead(const QString& text, const QString& details, bool* answer)
{
    std::function<void(const QString&)> hook;
    {
        QMutexLocker lock(&captureMutex);
        if (unattended) {
            const QString line = details.isEmpty() ? text : text + u' ' + details;
            qWarning("ridelog: %s", qUtf8Printable(plainLines(line).replace(u'\n', u' ')));
            return true;
        }
        if (!capturing)
            return false;
        captured.append(text);
        capturedDetailTexts.append(details);
        if (answer != nullptr)
            *answer = !answers.isEmpty() && answers.takeFirst();
        hook = whileOpen;
    }
    if (hook)
        hook(text);
    return true;
}

} // namespace

void MessageBox::show(QWidget* parent, const QString& text)
{
    show(parent, text, QString());
}

void MessageBox::show(QWidget* parent, const QString& text, const QString& details)
{
    if (recordInstead(text, details, nullptr))
        return;
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), plainLines(text),
                    QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    // Escape and closing the window answer OK, also beside the details button.
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
}

bool MessageBox::question(QWidget* parent, const QString& text)
{
    bool answer = false;
    if (recordInstead(text, QString(), &answer))
        return answer;
    QMessageBox box(QMessageBox::Question, QApplication::applicationDisplayName(), plainLines(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.button(QMessageBox::Yes)->setText(QCoreApplication::translate("MessageBox", "はい(&Y)"));
    box.button(QMessageBox::No)->setText(QCoreApplication::translate("MessageBox", "いいえ(&N)"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void MessageBox::setUnattended(bool on)
{
    QMutexLocker lock(&captureMutex);
    unattended = on;
}

bool MessageBox::isUnattended()
{
    QMutexLocker lock(&captureMutex);
    return unattended;
}

void MessageBox::setCapturing(bool on)
{
    QMutexLocker lock(&captureMutex);
    capturing = on;
}

QStringList MessageBox::capturedMessages()
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

QStringList MessageBox::capturedDetails()
{
    QMutexLocker lock(&captureMutex);
    return capturedDetailTexts;
}

void MessageBox::clearCaptured()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
    capturedDetailTexts.clear();
    answers.clear();
}

void MessageBox::setNextAnswers(const QList<bool>& next)
{
    QMutexLocker lock(&captureMutex);
    answers = next;
}

void MessageBox::setWhileOpen(std::function<void(const QString&)> hook)
{
    QMutexLocker lock(&captureMutex);
    whileOpen = std::move(hook);
}

} // namespace ridelog
