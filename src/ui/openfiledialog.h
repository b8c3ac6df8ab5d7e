// The open-file dialog of the program. Like SaveFileDialog, tests can answer it without a human.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace ridelog {

struct OpenFileRequest
{
    QString title;
    QString folder;      // where the dialog starts
    QStringList filters; // shown texts, "description (patterns)"
    bool manyFiles = false;
};

class OpenFileDialog
{
public:
    // Shows the dialog modally; the chosen files (one unless manyFiles), none on cancel.
    static QStringList ask(QWidget* parent, const OpenFileRequest& request);

    // Test hook: while scripted, ask() records the request and returns the next answer set
    // (none, as a cancel, when none is set) instead of showing a dialog.
    static void setScripted(bool scripted);
    static void setNextAnswer(const QStringList& files);
    static OpenFileRequest lastRequest();
};

} // namespace ridelog
