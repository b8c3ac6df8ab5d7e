// The application: the single-instance guard, the reader, and the main window run modally.
#pragma once

#include "app/commandline.h"
#include "app/readerlibrary.h"

#include <QString>
#include <functional>
#include <memory>

class QSettings;

namespace ridelog {

class CRidelogDlg;

class CRidelogApp
{
public:
    explicit CRidelogApp(AppOptions options);
    ~CRidelogApp();

    // Replacements for tests; the defaults are the real reader, the machine-wide lock file,
    // the user's settings and a modal run of the window.
    void setReaderControl(std::unique_ptr<ReaderControl> reader);
    void setLockFilePath(const QString& path);
    void setSettings(QSettings* settings);
    void setDialogRunner(std::function<int(CRidelogDlg&)> runner);

    // Runs the program to its end (the long-standing name of this step); the exit status: 0 after
    // the window ran, 1 when start-up ended with a message.
    int InitInstance();

    bool mainWindowRan() const { return mainWindowRan_; }

    // The reader the command line chose, as the user knows it; "カードリーダ" when any reader
    // attached may be the one (auto).
    static QString readerKindText(const QString& readerOption);
    // The refusal when another reader application holds the reader.
    static QString otherInstanceText(const QString& readerOption);

private:
    AppOptions options_;
    std::unique_ptr<ReaderControl> reader_;
    QString lockFilePath_;
    QSettings* settings_ = nullptr;
    std::function<int(CRidelogDlg&)> runDialog_;
    bool mainWindowRan_ = false;
};

} // namespace ridelog
