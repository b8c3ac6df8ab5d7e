#include "app/terminationsignals.h"

#include "ui/messagebox.h"

#include <QApplication>
#include <QDialog>
#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace ridelog {

namespace {

int signalSockets[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the socket.
void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
}

} // namespace

void closeEveryWindow()
{
    // Nobody is there to answer a box: what goes wrong while closing goes to the log.
    MessageBox::setUnattended(true);
    // A modal box may refuse to be closed (one whose only ways out are its buttons); every
    // modal box and dialog is ended as by Escape, innermost first, before the windows close.
    while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->reject();
        if (dialog->isVisible())
            break;
    }
    QApplication::closeAllWindows();
}

bool closeWindowsOnTerminationSignals()
{
    if (signalSockets[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalSockets) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(signalSockets[1], &byte, 1);
        closeEveryWindow();
    });
    // The same at the end of the session, before the windows are closed for it.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp,
                     [](QSessionManager&) { closeEveryWindow(); });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ok = ::sigaction(signal, &action, nullptr) == 0 && ok;
    return ok;
}

} // namespace ridelog
