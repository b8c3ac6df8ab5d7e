#include "ui/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>

namespace ridelog {

namespace {

QMutex captureMutex;
bool capturing = false;
QStringList captured;
QStringList capturedDetailTexts;

} // namespace

void MessageBox::show(QWidget* parent, const QString& text)
{
    show(parent, text, QString());
}

void MessageBox::show(QWidget* parent, const QString& text, const QString& details)
{
    {
        QMutexLocker lock(&captureMutex);
        if (capturing) {
            captured.append(text);
            capturedDetailTexts.append(details);
            return;
        }
    }
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), shown,
                    QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
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
}

} // namespace ridelog
