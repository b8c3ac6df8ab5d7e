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

} // namespace

void MessageBox::show(QWidget* parent, const QString& text)
{
    {
        QMutexLocker lock(&captureMutex);
        if (capturing) {
            captured.append(text);
            return;
        }
    }
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), shown,
                    QMessageBox::Ok, parent);
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

void MessageBox::clearCaptured()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
}

} // namespace ridelog
